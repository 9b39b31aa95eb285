// Every access to the receiver's serial port: open at a checked rate, rate
// changes, reads and writes with fixed retry and pause rules, line errors.
#pragma once

#include "platform/serial_port.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmor {

using platform::kInvalidPort;
using platform::PortHandle;

inline constexpr uint32_t kAcceptedBauds[] = {4800, 9600, 19200, 38400, 57600, 115200};

inline constexpr int kPutRetryPauseMs = 10;
inline constexpr int kPutTries = 100;            // about a second before a byte is given up
inline constexpr int kWriteFailureLimit = 1000;  // failed writes in a row, about a second
inline constexpr int kGetByteTries = 10;
inline constexpr int kGetBytePauseMs = 100;
inline constexpr int kWriteRetryPauseMs = 1;
inline constexpr int kSetBaudSettleMs = 10;

// Opens the named device ("GPS1:") at `baud`; kInvalidPort after telling the user why not.
PortHandle SerialOpen(const std::wstring& name, uint32_t baud);
void SerialClose(PortHandle& port);
// Pending line-error flags, cleared and reported on the status line; 0 if none
// or if the driver keeps no error counters.
uint32_t SerialCheckErrors(PortHandle port);
// Reports a set of line-error flags on the status line, in the fixed order.
void ReportLineErrors(uint32_t flags);
// Up to max bytes, NUL stored at buffer[count]: `buffer` must hold max + 1 bytes.
int SerialRead(PortHandle port, uint8_t* buffer, size_t max);
void SerialPutByte(PortHandle port, uint8_t byte);
// 1 with a byte, 0 after ten empty tries about 100 ms apart; a non-zero wake
// byte is sent after every empty read.
int SerialGetByte(PortHandle port, uint8_t& byte, uint8_t wake);
int SerialSetBaud(PortHandle port, uint32_t baud);
// length 0: up to the terminating NUL. Returns 1 once every byte is written,
// 0 when stopped or when the port keeps failing.
int SerialWrite(PortHandle port, const void* bytes, size_t length);

// The purge and flush the record protocol calls directly.
void SerialPurge(PortHandle port);
void SerialFlush(PortHandle port);

// The pause every retry loop keeps.
void PauseMs(int milliseconds);

// Makes every wait without a limit give up, and the write retries stop, so a
// worker can end when the program closes under it.
void SetStopRequested(bool on);
bool StopRequested();

} // namespace velmor
