// Line speeds as baud numbers, and the termios codes the client's side uses.
#pragma once

#include <chrono>
#include <termios.h>

namespace receiver {

// 0 for a code that is no standard rate.
unsigned BaudFromSpeed(speed_t speed);

// The rates the firmware can be set to talk at. The loader never scans
// 38400, but a receiver can be set to it.
bool IsCommandRate(unsigned baud);

// Time one byte takes on the wire: start bit, 8 data bits, stop bit.
std::chrono::nanoseconds ByteTime(unsigned baud);

} // namespace receiver
