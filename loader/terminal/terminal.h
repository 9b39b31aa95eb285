// The receiver command terminal: sends canned or typed commands and raw bytes,
// shows what the receiver sends as text lines or hex rows. It runs on the worker
// thread and is steered from the dialog through one command word.
#pragma once

#include "loader/serial/serial_link.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace velmor {

enum TerminalCommand : int {
    CmdNone = 0,
    CmdStop = 1,
    CmdSend = 2,
    CmdBaud9600 = 3,
    CmdBaud19200 = 4,
    CmdBaud57600 = 5,
    CmdBaud115200 = 6,
    CmdBaud4800 = 7,
    CmdReopen = 9,
};

inline constexpr size_t kSendBufferSize = 512;
inline constexpr size_t kTerminalLineSize = 512;
inline constexpr size_t kTerminalLineMax = 511;
inline constexpr size_t kHexRowChars = 24;   // eight bytes as "XX "

// The canned commands, in the order they are added to the (sorted) command combo.
extern const wchar_t* const kCannedCommands[];
extern const wchar_t* const kCannedStreamCommands[];

// One run of the terminal: its own command word, so that a stop posted to a
// terminal being left cannot be replaced by a command meant for the next one,
// and the dialog-side values its loop reads.
class TerminalSession {
public:
    explicit TerminalSession(std::shared_ptr<TerminalSession> previous = nullptr) : m_previous(std::move(previous)) {}

    void Post(int command) { m_command.store(command); }
    int Pending() const { return m_command.load(); }
    // Clears the word only if it still holds `command`: one posted meanwhile stays.
    void Consume(int command)
    {
        int expected = command;
        m_command.compare_exchange_strong(expected, CmdNone);
    }
    void MarkEnded();
    // True once the loop has ended and closed its port, or false at the deadline.
    bool WaitEnded(int milliseconds);
    // Waits (bounded) until the terminal before this one has let go of the port.
    bool WaitForPrevious(int milliseconds);

    // Fills the send buffer (then post CmdSend); the loop takes a copy.
    void SetSendText(const std::wstring& text);
    void CopySendBuffer(char (&send)[kSendBufferSize]) const;
    std::atomic<bool> hex {false};
    std::atomic<bool> pause {false};
    std::atomic<uint32_t> baud {4800};   // for a reopen
    void SetPortName(const std::wstring& name);   // the port-name buffer, at most 59 characters
    std::wstring PortName() const;

private:
    std::shared_ptr<TerminalSession> m_previous;
    std::atomic<int> m_command {CmdNone};
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_isEnded = false;
    mutable std::mutex m_valuesMutex;
    char m_sendBuffer[kSendBufferSize] = {};
    std::wstring m_portName = L"GPS1:";
};

inline constexpr int kTerminalHandOverMs = 5000;   // a loop sees its stop within about a second
inline constexpr uint32_t kTerminalOpenBaud = 57600;

// Runs until CmdStop, the stop token, or a failed reopen; closes its port itself.
int TerminalLoop(std::unique_ptr<platform::SerialLine> port, TerminalSession& session, Reporter& report,
                 std::stop_token stop);
// Rewrites "@ 24 24 0 7 ..." in `send` as raw bytes from its start; the count.
size_t ParseHexBytes(char* send);
void ShowReceivedLine(Reporter& report, const char* line);

} // namespace velmor
