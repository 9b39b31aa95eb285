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

// What one operation on one receiver works on: its line, where it reports,
// its stop, and the deadline of the whole job, on the line's clock.
struct Link {
    SerialLine& line;
    Reporter& report;
    std::stop_token stop;
    SerialLine::Clock::time_point deadline = SerialLine::Clock::time_point::max();

    // Every wait ends when a stop was asked for, the job ran out of time or
    // the line has gone.
    bool StopRequested() const { return Ended() != Fault::None; }
    // Stopped, OutOfTime or LineGone when one of those ended the waits, else None.
    Fault Ended() const
    {
        if (stop.stop_requested())
            return Fault::Stopped;
        if (line.Gone())
            return Fault::LineGone;
        if (line.Now() >= deadline)
            return Fault::OutOfTime;
        return Fault::None;
    }
    // The fault of a step that gave up, in the phase it was in: what ended
    // the waits, if anything did, else `otherwise`.
    Outcome Failure(Fault otherwise, Phase phase) const
    {
        const Fault ended = Ended();
        Outcome outcome = Outcome::Failed(ended != Fault::None ? ended : otherwise, phase);
        if (outcome.fault == Fault::LineGone)
            outcome.device = line.Name();
        return outcome;
    }
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
inline constexpr auto kWriteSilence = std::chrono::seconds(30);   // a peer that takes no byte for this long is gone

// Opens the named port ("GPS1:", a device path or a network port) at `baud`,
// looked up in `where`; nullptr, with the reason logged and in `outcome`, when
// it cannot. The line's advice, if any, is logged once.
std::unique_ptr<SerialLine> SerialOpen(const std::string& name, uint32_t baud, Reporter& report, Outcome& outcome,
                                       const platform::PortEnvironment& where = platform::SystemPorts());
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
// 0 when stopped, when the line keeps failing, or when it takes nothing for
// kWriteSilence.
int SerialWrite(const Link& link, const void* bytes, size_t length);

// The purge and flush the record protocol calls directly.
void SerialPurge(const Link& link);
void SerialFlush(const Link& link);

} // namespace velmor
