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

// The result of the last detection, read later by the upload and the About box.
ReceiverInfo& TheReceiverInfo();
// Set while the receiver answers in PFL mode: memory is then read with "$R".
bool PflFlag();
void SetPflFlag(bool on);

// The reply line (in a buffer shared by every wait, valid until the next), or
// nullptr after about a second of silence in all.
const char* WaitReply(PortHandle port, const char* prefix, bool strict);
uint32_t ReadReceiverWord(uint32_t address, PortHandle port);
int ProbeSection(uint32_t start, uint32_t limit, SectionInfo& section, PortHandle port);
int DetectReceiver(PortHandle port, ReceiverInfo& info);

void ReportSection(const SectionInfo& section, const char* label);
// 8-bit text (at most 199 characters) to the log.
void LogNarrow(const char* text);
// A receiver's "$VER,..." answer to the log, without its first five characters.
void LogReplyText(const char* line);

// Opens the named port, detects the receiver, closes, reports. True when an
// upload may follow ("Load" enabled).
bool ConnectGps(const std::wstring& portName);

} // namespace velmor
