// What the board took off the wire and what it answered, for tests to check
// against; written by the board's thread, read and awaited from any thread.
#pragma once

#include "receiver/board_options.h"
#include "receiver/record_kinds.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace receiver {

// Consecutive received bytes that arrived at one client speed.
struct ReceivedRun {
    std::vector<uint8_t> bytes;
    unsigned baud = 0;         // the client's speed when they arrived
    bool understood = false;   // the speed matched the board's, so they were interpreted
};

struct SentenceExchange {
    std::string sentence;   // as received, from '$', without the line end
    std::string reply;      // the reply line sent, "" when the board kept quiet
    bool setting = false;   // a set sentence the firmware took; its reply acknowledges it
};

// A single byte a loader took as a code: a poll or command, not part of a
// frame or a sentence.
struct ReceivedCode {
    BoardMode mode = BoardMode::Pfl;
    unsigned baud = 0;
    uint8_t code = 0;
};

// One frame as the board decoded it, and its answer.
struct RecordEntry {
    Transfer transfer = Transfer::Sfld;
    unsigned index = 0;        // its number in the transfer, from 0; a resent record keeps its number
    RecordKind kind = RecordKind::Data;
    uint32_t address = 0;      // the range start for a range record; 0 when the frame ended before it
    size_t dataLength = 0;     // the bytes after the address, a padding byte included
    uint8_t answer = 0;        // SYNC_CODE when taken, else the first byte of the rejection;
                               // 0 when the acknowledgement was held back by a fault
    bool repeated = false;     // the last taken record again: acknowledged, not taken twice
};

struct EraseEntry {
    uint32_t start = 0;
    uint32_t end = 0;          // exclusive
    bool bootMode = false;     // the SFLD had entered boot mode before the erase
    unsigned sectors = 0;      // sectors erased
    bool completed = false;    // false: it failed, or the host came back at the wake-up rate meanwhile
};

struct UploadEntry {
    bool saved = false;        // the flash went back to the board's image file
    std::string error;         // why not
};

// Everything one step of the board's adds; added together, so a waiter never
// sees received bytes without what they caused.
struct TranscriptStep {
    std::vector<ReceivedRun> runs;
    std::vector<SentenceExchange> exchanges;
    std::vector<BoardMode> modes;
    std::vector<ReceivedCode> codes;
    std::vector<RecordEntry> records;
    std::vector<EraseEntry> erases;
    std::vector<UploadEntry> uploads;
};

class BoardTranscript {
public:
    void Append(const std::vector<ReceivedRun>& runs, const std::vector<SentenceExchange>& exchanges);
    void Append(const TranscriptStep& step);

    std::vector<ReceivedRun> Received() const;
    std::vector<uint8_t> ReceivedBytes() const;
    std::vector<SentenceExchange> Exchanges() const;
    size_t ReceivedCount() const;
    size_t ExchangeCount() const;

    // The modes the board ran in, from its start (or the last Clear) on.
    std::vector<BoardMode> Modes() const;
    std::vector<ReceivedCode> Codes() const;
    std::vector<uint8_t> CodesIn(BoardMode mode) const;
    std::vector<RecordEntry> Records() const;
    std::vector<RecordEntry> Records(Transfer transfer) const;
    std::vector<EraseEntry> Erases() const;
    std::vector<UploadEntry> Uploads() const;

    // True once at least `count` of them are in the transcript; false when
    // the wait ran out first.
    bool WaitForBytes(size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForExchanges(size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForModes(size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForCodes(size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForRecords(size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForErases(size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForUploads(size_t count, std::chrono::milliseconds timeout) const;

    void Clear();

private:
    template <typename Item>
    bool WaitForSize(const std::vector<Item>& items, size_t count, std::chrono::milliseconds timeout) const;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<ReceivedRun> m_received;
    size_t m_receivedCount = 0;
    TranscriptStep m_log;   // its runs unused: m_received joins runs of one speed
};

} // namespace receiver
