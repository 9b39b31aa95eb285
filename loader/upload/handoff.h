// From command mode to a running secondary loader: boot request, the PFLD's
// polls at 19200, the SFLD uploaded as records, then the flash upload at 115200.
#pragma once

#include "loader/image/srecord_reader.h"
#include "loader/serial/serial_link.h"
#include "loader/upload/receiver_watch.h"
#include "loader/upload/upload_job.h"

namespace velmor {

inline constexpr uint32_t kBootBaud = 19200;
inline constexpr uint32_t kSfldBaud = 115200;
inline constexpr uint32_t kNoAnswerBootBauds[] = {4800, 57600};
inline constexpr int kBootSyncCount = 4;
inline constexpr int kBootSyncPauseMs = 400;
inline constexpr int kPollPauseMs = 200;
inline constexpr int kWakeSfldSyncCount = 3;
inline constexpr size_t kVersionBufferSize = 4096;

bool RequestBootMode(const Link& link, const ReceiverInfo& receiver);
bool UploadSecondaryLoader(const Link& link, SRecordReader& sfld, ReceiverWatch& watch);
// Loops until a flash upload succeeds. Otherwise what ended it: a stop, the
// deadline or the line going away, the receiver's silence, or the limit of
// failed attempts (with the last one's fault); the job's flash state says how
// far the flash got.
Outcome RunHandoff(const Link& link, UploadJob& job);

} // namespace velmor
