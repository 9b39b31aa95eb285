// Moving one record across the link to a receiver loader: SYNC_CODE, wait for
// REC_WAIT_CODE, the frame, then the acknowledgement or an error code.
#pragma once

#include "loader/image/upload_record.h"
#include "loader/serial/serial_link.h"
#include "loader/upload/receiver_watch.h"

#include <cstdint>
#include <functional>

namespace velmor {

inline constexpr int kPurgeSettleMs = 20;
inline constexpr int kReplyRetryPauseMs = 100;
inline constexpr int kRecWaitLimit = 200;        // REC_WAIT codes tolerated before a resend
inline constexpr int kRecWaitResendPauseMs = 10;
inline constexpr int kResyncPasses = 1000;
inline constexpr int kResyncPauseMs = 100;

// Skips other bytes until `code` comes; false after about a second of silence,
// or when other bytes keep coming past the watch's silence limit.
bool WaitForByte(const Link& link, uint8_t code, ReceiverWatch& watch);
bool SendRecordOnce(const Link& link, const UploadRecord& record, ReceiverWatch& watch);
// SendRecordOnce, and after a failure a resynchronisation that leaves the
// receiver waiting for a record. True only if the first exchange succeeded.
bool SendRecord(const Link& link, const UploadRecord& record, ReceiverWatch& watch);
// Every record `read` hands out, then the end record once it hands out one
// without data; `taken` hears of each data record the receiver took. False at
// the first record that failed, or when `read` fails (`readError` is shown).
bool SendRecords(const Link& link, const std::function<bool(UploadRecord&)>& read, ReceiverWatch& watch,
                 const wchar_t* readError, const std::function<void(const UploadRecord&)>& taken = {});

} // namespace velmor
