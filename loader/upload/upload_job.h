// What one upload works on, from the image checks to the end record: the
// receiver as the last "Connect GPS" found it, the prepared image, the chosen
// SFLD and the PFLD answer. Each receiver being updated has its own.
#pragma once

#include "loader/image/image_source.h"
#include "loader/image/srecord_reader.h"
#include "loader/serial/receiver_info.h"
#include "loader/upload/receiver_watch.h"

namespace velmor {

struct UploadJob {
    ReceiverInfo receiver;   // answering rate, PFL mode, the flash's PFLD checksum
    ImageSource image;       // opened and analysed by PrepareImage
    SRecordReader sfld;      // opened and scanned by ChooseSecondaryLoader
    bool pfldUpdate = false; // the user agreed to rewrite the PFLD too
    UploadLimits limits;
    int attempts = 0;        // flash uploads begun, for a report
};

} // namespace velmor
