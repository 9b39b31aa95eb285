// Baud numbers for termios speed codes.
#include "receiver/line_speed.h"

#include <algorithm>
#include <iterator>

namespace receiver {
namespace {

struct SpeedCode {
    speed_t code;
    unsigned baud;
};

constexpr SpeedCode kSpeeds[] = {
    {B300, 300}, {B600, 600}, {B1200, 1200}, {B2400, 2400}, {B4800, 4800},
    {B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600},
    {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
};

constexpr unsigned kCommandRates[] = {4800, 9600, 19200, 38400, 57600, 115200};
constexpr long long kBitsPerByte = 10;

} // namespace

unsigned BaudFromSpeed(speed_t speed)
{
    const auto* found = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                                     [speed](const SpeedCode& s) { return s.code == speed; });
    return found == std::end(kSpeeds) ? 0 : found->baud;
}

bool IsCommandRate(unsigned baud)
{
    return std::find(std::begin(kCommandRates), std::end(kCommandRates), baud) != std::end(kCommandRates);
}

std::chrono::nanoseconds ByteTime(unsigned baud)
{
    constexpr long long kNanosPerSecond = 1000000000;
    return std::chrono::nanoseconds(baud == 0 ? 0 : kBitsPerByte * kNanosPerSecond / baud);
}

} // namespace receiver
