#include "loader/terminal/terminal.h"

#include "platform/text.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velmor {
namespace {

constexpr size_t kPortNameMax = 59;
constexpr size_t kSendTextMax = kSendBufferSize - 3;   // room for CR, LF and the NUL

uint32_t BaudOf(int command)
{
    switch (command) {
    case CmdBaud9600: return 9600;
    case CmdBaud19200: return 19200;
    case CmdBaud57600: return 57600;
    case CmdBaud115200: return 115200;
    case CmdBaud4800: return 4800;
    default: return 0;
    }
}

// The send buffer as written on CmdSend: text or raw bytes, then CR LF.
void SendBuffer(const Link& link, const TerminalSession& session)
{
    char send[kSendBufferSize];
    session.CopySendBuffer(send);
    send[kSendTextMax] = '\0';
    const size_t n = send[0] == '@' ? ParseHexBytes(send) : std::strlen(send);
    send[n] = '\r';
    send[n + 1] = '\n';
    send[n + 2] = '\0';
    SerialWrite(link, send, n + 2);
}

class LineBuffer {
public:
    LineBuffer(const TerminalSession& session, Reporter& report) : m_session(session), m_report(report) {}

    void Flush()
    {
        if (!m_session.pause)
            ShowReceivedLine(m_report, m_line);
        std::memset(m_line, 0, sizeof m_line);
        m_position = 0;
    }

    void Take(uint8_t byte)
    {
        if (m_session.hex) {
            if (m_position + 3 > kTerminalLineMax)
                Flush();
            std::snprintf(m_line + m_position, 4, "%02X ", byte);
            m_position += 3;
            if (m_position >= kHexRowChars)
                Flush();
            return;
        }
        if (byte == '\r' || byte == '\n') {
            if (m_position > 0) {
                m_line[m_position] = '\0';
                Flush();
            }
            return;
        }
        if (byte <= 0x20 || byte >= 0x80)
            byte = ' ';
        if (m_position < kTerminalLineMax) {
            m_line[m_position++] = char(byte);
        } else {
            m_line[m_position] = '\0';
            Flush();   // the byte that did not fit is lost
        }
    }

private:
    const TerminalSession& m_session;
    Reporter& m_report;
    char m_line[kTerminalLineSize] = {};
    size_t m_position = 0;
};

} // namespace

const wchar_t* const kCannedCommands[] = {
    L"$PKVRQ,RID", L"$PKVRQ,PRT", L"$PKVRQ,POS", L"$PKVRQ,PAR", L"$PKVRS,SPD,A,8", L"$PKVRS,SPD,B,8",
    L"$PKVRQ,RDM,207ffc", L"$PKVRS,INI,8,8,,,1", L"$PKVRS,INI,8,4,,,5", L"@ 24 24 0 7 A 0 D", nullptr,
};
const wchar_t* const kCannedStreamCommands[] = {
    L"$PKVRS,NME,ALL,A,OFF", L"$PKVRS,NME,ALL,B,OFF", L"$PKVRS,NME,POS,A,ON",
    L"$PKVRS,NME,POS,B,ON",  L"$PKVRS,NME,SAT,A,ON",  L"$PKVRS,NME,SAT,B,ON", nullptr,
};

void TerminalSession::MarkEnded()
{
    std::lock_guard lock(m_mutex);
    m_isEnded = true;
    m_ended.notify_all();
}

bool TerminalSession::WaitEnded(int milliseconds)
{
    std::unique_lock lock(m_mutex);
    return m_ended.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_isEnded; });
}

bool TerminalSession::WaitForPrevious(int milliseconds)
{
    const bool ended = !m_previous || m_previous->WaitEnded(milliseconds);
    if (ended)
        m_previous.reset();   // no chain of finished sessions kept alive
    return ended;
}

void TerminalSession::SetSendText(const std::wstring& text)
{
    const std::string bytes = platform::Narrow(text, kSendTextMax);
    std::lock_guard lock(m_valuesMutex);
    std::memset(m_sendBuffer, 0, sizeof m_sendBuffer);
    std::memcpy(m_sendBuffer, bytes.data(), bytes.size());
}

void TerminalSession::CopySendBuffer(char (&send)[kSendBufferSize]) const
{
    std::lock_guard lock(m_valuesMutex);
    std::memcpy(send, m_sendBuffer, sizeof send);
}

void TerminalSession::SetPortName(const std::wstring& name)
{
    std::lock_guard lock(m_valuesMutex);
    m_portName = name.substr(0, kPortNameMax);
}

std::wstring TerminalSession::PortName() const
{
    std::lock_guard lock(m_valuesMutex);
    return m_portName;
}

int TerminalLoop(std::unique_ptr<platform::SerialLine> port, TerminalSession& session, Reporter& report,
                 std::stop_token stop)
{
    struct EndMark {
        TerminalSession& session;
        ~EndMark() { session.MarkEnded(); }
    } endMark {session};
    // Declared after the mark, so the port is closed before the next terminal hears of the end.
    auto owned = std::move(port);

    LineBuffer line(session, report);
    for (;;) {
        const Link link {*owned, report, stop};
        const int command = session.Pending();
        if (command == CmdStop) {
            session.Consume(command);
            return 0;
        }
        if (command == CmdSend) {
            // Taken first: a command posted while this one runs must stay.
            session.Consume(command);
            SendBuffer(link, session);
        } else if (const uint32_t baud = BaudOf(command)) {
            session.Consume(command);
            SerialSetBaud(link, baud);
        } else if (command == CmdReopen) {
            session.Consume(command);
            owned.reset();
            Outcome reopened;
            owned = SerialOpen(platform::Narrow(session.PortName()), session.baud, report, reopened);
            if (!owned)
                return 0;
            continue;
        }
        if (stop.stop_requested())
            return 0;

        uint8_t byte = 0;
        if (SerialGetByte(link, byte, 0))
            line.Take(byte);
    }
}

size_t ParseHexBytes(char* send)
{
    char work[kSendBufferSize];
    std::strncpy(work, send + 1, sizeof work - 1);
    work[sizeof work - 1] = '\0';
    size_t count = 0;
    char* save = nullptr;
    for (char* piece = strtok_r(work, " ", &save); piece && count < kSendTextMax; piece = strtok_r(nullptr, " ", &save))
        send[count++] = char(std::strtoul(piece, nullptr, 16) & 0xFF);
    return count;
}

void ShowReceivedLine(Reporter& report, const char* line)
{
    char text[kTerminalLineSize];
    std::strncpy(text, line, kTerminalLineMax);
    text[kTerminalLineMax] = '\0';
    // Keep an NMEA checksum, "*hh", and nothing after it.
    if (char* star = std::strchr(text, '*'))
        star[std::min<size_t>(std::strlen(star), 3)] = '\0';
    report.LogLine(platform::Widen(text));
}

} // namespace velmor
