// Finding the receiver on its port and reading its flash section headers with
// the receiver's query sentences ("Connect GPS").
#pragma once

#include "loader/serial/receiver_info.h"
#include "loader/serial/serial_link.h"

#include <cstdint>
#include <string>

namespace velmor {

inline constexpr size_t kReplyBufferSize = 1024;
inline constexpr int kReplyEmptyReads = 10;
inline constexpr int kReplyPauseMs = 100;
inline constexpr uint32_t kNoWord = 0xFFFFFFFF;
inline constexpr uint32_t kBaudScanList[] = {4800, 57600, 19200, 115200, 9600};
inline constexpr uint32_t kPflBaud = 19200;
inline constexpr uint32_t kConnectBaud = 4800;

// One detection's exchange with the receiver: the reply buffer and whether
// memory is read through the resident loader ("$R") or in command mode.
class ReceiverQuery {
public:
    explicit ReceiverQuery(const Link& link) : m_link(link) {}
    // The query keeps a reference: a temporary Link would be gone at once.
    explicit ReceiverQuery(const Link&& link) = delete;

    // Set while the receiver answers in PFL mode.
    bool PflFlag() const { return m_pflFlag; }
    void SetPflFlag(bool on) { m_pflFlag = on; }

    // The reply line (in this query's buffer, valid until the next wait), or
    // nullptr after about a second of silence in all.
    const char* WaitReply(const char* prefix, bool strict);
    uint32_t ReadReceiverWord(uint32_t address);
    // Whether the last read got the word from the receiver; kNoWord alone
    // cannot tell an erased word from no answer.
    bool LastAnswered() const { return m_answered; }
    int ProbeSection(uint32_t start, uint32_t limit, SectionInfo& section);
    int DetectReceiver(ReceiverInfo& info);
    // Whether a loader left running by an unfinished upload answers SYNC_CODE
    // at 19200. Sends that one byte; nothing that erases or writes.
    bool ProbeLoader();

private:
    void ReadPfldVersion(SectionInfo& section, uint32_t end);
    void ReadFwVersion(SectionInfo& section);

    const Link& m_link;
    bool m_pflFlag = false;
    bool m_answered = false;
    char m_reply[kReplyBufferSize] = {};
};

// Opens the named port, detects the receiver into `info`, closes, reports.
// Ok when an upload may follow ("Load" enabled); NoReceiver (with
// loaderAnswered when only a loader did), a port fault, or what ended the waits.
Outcome ConnectGps(const std::string& portName, Reporter& report, ReceiverInfo& info, std::stop_token stop = {},
                   SerialLine::Clock::time_point deadline = SerialLine::Clock::time_point::max());

} // namespace velmor
