// The exchange with the running secondary loader at 115200: version and type,
// optional boot mode, erase of the image's range, the image as records.
#pragma once

#include "loader/image/image_source.h"
#include "loader/serial/serial_link.h"
#include "loader/upload/receiver_watch.h"

namespace velmor {

inline constexpr int kVersionPollPauseMs = 500;
inline constexpr int kTypePauseMs = 200;
inline constexpr int kEraseCommandPauseMs = 10;
inline constexpr size_t kSfldReplySize = 256;

bool UploadFlash(PortHandle port, ReceiverWatch& watch);
bool ProgramFlash(PortHandle port, ImageSource& image, ReceiverWatch& watch);
bool WaitForErase(PortHandle port, ReceiverWatch& watch);

} // namespace velmor
