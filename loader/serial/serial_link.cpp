// The serial operations on top of a serial line.
#include "loader/serial/serial_link.h"

#include "platform/text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace velmor {

namespace {

Fault OpenFaultKind(platform::OpenFault kind)
{
    switch (kind) {
    case platform::OpenFault::NotFound: return Fault::PortNotFound;
    case platform::OpenFault::NoPermission: return Fault::PortNoPermission;
    case platform::OpenFault::Busy: return Fault::PortBusy;
    default: return Fault::PortUnusable;
    }
}

} // namespace

std::unique_ptr<SerialLine> SerialOpen(const std::string& name, uint32_t baud, Reporter& report, Outcome& outcome,
                                       const platform::PortEnvironment& where)
{
    outcome = {};
    if (std::find(std::begin(kAcceptedBauds), std::end(kAcceptedBauds), baud) == std::end(kAcceptedBauds)) {
        outcome = Outcome::Failed(Fault::RateNotAccepted, Phase::Connect);
        report.PortFailed(outcome);
        return nullptr;
    }
    platform::OpenError error;
    auto line = platform::OpenLine(name, baud, error, where);
    if (!line) {
        outcome = Outcome::Failed(OpenFaultKind(error.kind), Phase::Connect);
        outcome.device = error.device;
        outcome.reason = error.text;
        if (error.kind == platform::OpenFault::NotSerial) {
            report.LogLine(platform::Widen(error.text));
            report.StatusLine(L"SetCommState return error");
            return nullptr;
        }
        report.LogLine(platform::Widen(error.text));
        report.PortFailed(outcome);
        return nullptr;
    }
    if (const std::string advice = line->Advice(); !advice.empty())
        report.LogLine(platform::Widen(advice));
    return line;
}

void ReportLineErrors(Reporter& report, uint32_t flags)
{
    if (flags == 0)
        return;
    wchar_t text[40];
    std::swprintf(text, 40, L"Comm error: 0x%08X:", flags);
    report.StatusLine(text);
    static constexpr std::pair<uint32_t, const wchar_t*> kNames[] = {
        {platform::CE_BREAK, L"CE_BREAK"},       {platform::CE_FRAME, L"CE_FRAME"},
        {platform::CE_OVERRUN, L"CE_OVERRUN"},   {platform::CE_RXOVER, L"CE_RXOVER"},
        {platform::CE_RXPARITY, L"CE_RXPARITY"}, {platform::CE_TXFULL, L"CE_TXFULL"},
    };
    for (const auto& [flag, name] : kNames)
        if (flags & flag)
            report.StatusLine(name);
}

uint32_t SerialCheckErrors(const Link& link)
{
    uint32_t flags = 0;
    if (!link.line.TakeLineErrors(flags) || flags == 0)
        return 0;
    ReportLineErrors(link.report, flags);
    return flags;
}

int SerialRead(const Link& link, uint8_t* buffer, size_t max, int waitMs)
{
    SerialCheckErrors(link);
    const auto wait = std::chrono::milliseconds(waitMs >= 0 ? waitMs : int(max) + 1);
    const int count = link.line.Read(buffer, max, wait);
    if (count <= 0)
        return 0;
    buffer[count] = 0;
    return count;
}

void SerialPutByte(const Link& link, uint8_t byte)
{
    // A line that takes nothing for a second is gone; the next read says so.
    for (int tries = 0; tries < kPutTries && !link.StopRequested(); ++tries) {
        SerialCheckErrors(link);
        if (link.line.Write(&byte, 1) == 1)
            return;
        link.Pause(kPutRetryPauseMs);
    }
}

int SerialGetByte(const Link& link, uint8_t& byte, uint8_t wake)
{
    for (int i = 0; i < kGetByteTries && !link.StopRequested(); ++i) {
        SerialCheckErrors(link);
        const int got = link.line.Read(&byte, 1, std::chrono::milliseconds(kGetBytePauseMs + 2));
        if (got == 1)
            return 1;
        if (got < 0) {
            if (link.line.Gone())
                return 0;
            link.Pause(kGetBytePauseMs);   // a failed line returns at once: keep the pace
            continue;
        }
        if (wake != 0)
            SerialPutByte(link, wake);
    }
    return 0;
}

int SerialSetBaud(const Link& link, uint32_t baud)
{
    link.line.Drain();
    link.Pause(kSetBaudSettleMs);
    link.line.Purge();
    const bool applied = link.line.SetSpeed(baud);
    uint32_t ignored = 0;
    link.line.TakeLineErrors(ignored);
    link.line.Purge();
    return applied ? 1 : 0;
}

int SerialWrite(const Link& link, const void* bytes, size_t length)
{
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    if (length == 0)
        length = std::strlen(static_cast<const char*>(bytes));
    SerialCheckErrors(link);
    int failures = 0;
    auto lastTaken = link.line.Now();
    while (length > 0) {
        if (link.StopRequested())
            return 0;
        const int written = link.line.Write(p, length);
        if (written < 0) {
            if (++failures >= kWriteFailureLimit)
                return 0;   // the line is gone: no retry brings it back
            link.Pause(kWriteRetryPauseMs);
            continue;
        }
        failures = 0;
        if (written == 0) {
            // The driver took nothing during its own wait; a peer that never
            // takes anything is as good as gone.
            if (link.line.Now() - lastTaken >= kWriteSilence)
                return 0;
            continue;
        }
        lastTaken = link.line.Now();
        p += written;
        length -= size_t(written);
        if (length > 0)
            link.Pause(kWriteRetryPauseMs);
    }
    return 1;
}

void SerialPurge(const Link& link)
{
    link.line.Purge();
}

void SerialFlush(const Link& link)
{
    link.line.Drain();
}

} // namespace velmor
