// The serial operations on top of the platform's termios driver.
#include "loader/serial/serial_link.h"

#include "loader/log/log.h"
#include "platform/message_box.h"
#include "platform/text.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace velmor {
namespace {

std::atomic<bool> g_stopRequested {false};

void ShowError(const wchar_t* text)
{
    platform::ShowMessage({text, L"Error", platform::MessageButtons::Ok, platform::MessageIcon::None});
}

} // namespace

void PauseMs(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SetStopRequested(bool on)
{
    g_stopRequested.store(on);
}

bool StopRequested()
{
    return g_stopRequested.load();
}

PortHandle SerialOpen(const std::wstring& name, uint32_t baud)
{
    if (std::find(std::begin(kAcceptedBauds), std::end(kAcceptedBauds), baud) == std::end(kAcceptedBauds)) {
        ShowError(L"Incorrect baud.");
        return kInvalidPort;
    }
    std::string why;
    PortHandle port = platform::OpenPort(platform::DevicePath(platform::Narrow(name)), &why);
    if (port == kInvalidPort) {
        LogLine(platform::Widen(why));
        // The same text whatever the port: users know the message by heart.
        ShowError(L"Can not open serial port 1.");
        return kInvalidPort;
    }
    if (!platform::ConfigurePort(port, baud)) {
        StatusLine(L"SetCommState return error");
        SerialClose(port);
        return kInvalidPort;
    }
    platform::PurgePort(port);
    return port;
}

void SerialClose(PortHandle& port)
{
    if (port == kInvalidPort)
        return;
    platform::ClosePort(port);
    port = kInvalidPort;
}

void ReportLineErrors(uint32_t flags)
{
    if (flags == 0)
        return;
    wchar_t text[40];
    std::swprintf(text, 40, L"Comm error: 0x%08X:", flags);
    StatusLine(text);
    static constexpr std::pair<uint32_t, const wchar_t*> kNames[] = {
        {platform::CE_BREAK, L"CE_BREAK"},       {platform::CE_FRAME, L"CE_FRAME"},
        {platform::CE_OVERRUN, L"CE_OVERRUN"},   {platform::CE_RXOVER, L"CE_RXOVER"},
        {platform::CE_RXPARITY, L"CE_RXPARITY"}, {platform::CE_TXFULL, L"CE_TXFULL"},
    };
    for (const auto& [flag, name] : kNames)
        if (flags & flag)
            StatusLine(name);
}

uint32_t SerialCheckErrors(PortHandle port)
{
    uint32_t flags = 0;
    if (!platform::TakeLineErrors(port, flags) || flags == 0)
        return 0;
    ReportLineErrors(flags);
    return flags;
}

int SerialRead(PortHandle port, uint8_t* buffer, size_t max)
{
    SerialCheckErrors(port);
    const int count = platform::ReadPort(port, buffer, max);
    if (count <= 0)
        return 0;
    buffer[count] = 0;
    return count;
}

void SerialPutByte(PortHandle port, uint8_t byte)
{
    // A port that takes nothing for a second is gone; the next read says so.
    for (int tries = 0; tries < kPutTries && !StopRequested(); ++tries) {
        SerialCheckErrors(port);
        if (platform::WritePort(port, &byte, 1) == 1)
            return;
        PauseMs(kPutRetryPauseMs);
    }
}

int SerialGetByte(PortHandle port, uint8_t& byte, uint8_t wake)
{
    for (int i = 0; i < kGetByteTries; ++i) {
        SerialCheckErrors(port);
        const int got = platform::ReadPort(port, &byte, 1);
        if (got == 1)
            return 1;
        if (got == 0 && wake != 0)
            SerialPutByte(port, wake);
        PauseMs(kGetBytePauseMs);
    }
    return 0;
}

int SerialSetBaud(PortHandle port, uint32_t baud)
{
    platform::DrainPort(port);
    PauseMs(kSetBaudSettleMs);
    platform::PurgePort(port);
    const bool applied = platform::SetPortSpeed(port, baud);
    uint32_t ignored = 0;
    platform::TakeLineErrors(port, ignored);
    platform::PurgePort(port);
    return applied ? 1 : 0;
}

int SerialWrite(PortHandle port, const void* bytes, size_t length)
{
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    if (length == 0)
        length = std::strlen(static_cast<const char*>(bytes));
    SerialCheckErrors(port);
    int failures = 0;
    while (length > 0) {
        if (StopRequested())
            return 0;
        const int written = platform::WritePort(port, p, length);
        if (written < 0) {
            if (++failures >= kWriteFailureLimit)
                return 0;   // the port is gone: no retry brings it back
            PauseMs(kWriteRetryPauseMs);
            continue;
        }
        failures = 0;
        // Zero means the driver took nothing during its own wait: try again.
        p += written;
        length -= size_t(written);
        if (written > 0 && length > 0)
            PauseMs(kWriteRetryPauseMs);
    }
    return 1;
}

void SerialPurge(PortHandle port)
{
    platform::PurgePort(port);
}

void SerialFlush(PortHandle port)
{
    platform::DrainPort(port);
}

} // namespace velmor
