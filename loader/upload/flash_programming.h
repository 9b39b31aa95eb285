// The exchange with the running secondary loader at 115200: version and type,
// optional boot mode, erase of the image's range, the image as records.
#pragma once

#include "loader/image/image_source.h"
#include "loader/serial/serial_link.h"
#include "loader/upload/receiver_watch.h"
#include "loader/upload/upload_job.h"

namespace velmor {

inline constexpr int kVersionPollPauseMs = 500;
inline constexpr int kTypePauseMs = 200;
inline constexpr int kEraseCommandPauseMs = 10;
inline constexpr size_t kSfldReplySize = 256;

bool UploadFlash(const Link& link, UploadJob& job, ReceiverWatch& watch);
bool ProgramFlash(const Link& link, UploadJob& job, ReceiverWatch& watch);
bool WaitForErase(const Link& link, ReceiverWatch& watch);

} // namespace velmor
