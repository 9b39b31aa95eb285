// Every access to the receiver's serial line: open at a checked rate, rate
// changes, reads and writes with fixed retry and pause rules, line errors.
// Each operation is handed its Link: the line, where it reports, its stop.
#pragma once

#include "loader/log/log.h"
#include "platform/line_opener.h"
#include "platform/serial_port.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>

namespace velmor {

using platform::SerialLine;

// What one operation on one receiver works on.
struct Link {
    SerialLine& line;
    Reporter& report;
    std::stop_token stop;

    bool StopRequested() const { return stop.stop_requested(); }
    void Pause(int milliseconds) const { line.Pause(std::chrono::milliseconds(milliseconds)); }
};

inline constexpr uint32_t kAcceptedBauds[] = {4800, 9600, 19200, 38400, 57600, 115200};

inline constexpr int kPutRetryPauseMs = 10;
inline constexpr int kPutTries = 100;            // about a second before a byte is given up
inline constexpr int kGetByteTries = 10;
inline constexpr int kGetBytePauseMs = 100;
inline constexpr int kWriteRetryPauseMs = 1;
inline constexpr int kWriteFailureLimit = 1000;  // failed writes in a row, about a second
inline constexpr int kSetBaudSettleMs = 10;

// Opens the named device ("GPS1:", or a path) at `baud`; nullptr after telling
// the user why not.
std::unique_ptr<SerialLine> SerialOpen(const std::wstring& name, uint32_t baud, Reporter& report);
// Pending line-error flags, cleared and reported on the status line; 0 if none
// or if the driver keeps no error counters.
uint32_t SerialCheckErrors(const Link& link);
// Reports a set of line-error flags on the status line, in the fixed order.
void ReportLineErrors(Reporter& report, uint32_t flags);
// Up to max bytes, NUL stored at buffer[count]: `buffer` must hold max + 1 bytes.
// Waits about max + 1 ms for the first, or `wait` when given.
int SerialRead(const Link& link, uint8_t* buffer, size_t max, int waitMs = -1);
void SerialPutByte(const Link& link, uint8_t byte);
// 1 with a byte, 0 after ten empty waits of about 100 ms; a non-zero wake
// byte is sent after every empty wait. A byte that comes ends the wait at once.
int SerialGetByte(const Link& link, uint8_t& byte, uint8_t wake);
int SerialSetBaud(const Link& link, uint32_t baud);
// length 0: up to the terminating NUL. Returns 1 once every byte is written,
// 0 when stopped or when the line keeps failing.
int SerialWrite(const Link& link, const void* bytes, size_t length);

// The purge and flush the record protocol calls directly.
void SerialPurge(const Link& link);
void SerialFlush(const Link& link);

} // namespace velmor
