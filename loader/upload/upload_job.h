// What one upload works on, from the image checks to the end record: the
// receiver as the last "Connect GPS" found it, the image read once, the chosen
// SFLD, the PFLD answer and how far the flash got. Each receiver being updated
// has its own.
#pragma once

#include "loader/image/image_snapshot.h"
#include "loader/image/image_source.h"
#include "loader/image/srecord_reader.h"
#include "loader/log/outcome.h"
#include "loader/serial/receiver_info.h"
#include "loader/upload/receiver_watch.h"

#include <functional>
#include <memory>

namespace velmor {

enum class PfldAnswer { Yes, No, NotAllowed };
// Asked when the image would rewrite the receiver's PFLD. The dialog asks its
// user; a command line answers from its options and never blocks.
using PfldPolicy = std::function<PfldAnswer()>;

struct UploadJob {
    ReceiverInfo receiver;   // answering rate, PFL mode, the flash's PFLD checksum
    PfldPolicy askPfld;      // none: nobody may answer, so no PFLD is rewritten
    UploadLimits limits;

    // Filled by PrepareImage.
    std::shared_ptr<const ImageSnapshot> imageBytes;
    std::shared_ptr<const ImageSnapshot> sfldBytes;
    ImageSource image;       // reads imageBytes
    SRecordReader sfld;      // reads sfldBytes
    bool pfldUpdate = false; // the PFLD is rewritten too: boot mode before the erase

    // Filled by the upload.
    int attempts = 0;        // flash uploads begun, for a report
    FlashState flash;
};

} // namespace velmor
