// What the board took off the wire and what it answered, for tests to check
// against; written by the board's thread, read and awaited from any thread.
#pragma once

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
};

class BoardTranscript {
public:
    // One step of the board's: what it took off the wire and answered. Added
    // together, so a waiter never sees the bytes without their answers.
    void Append(const std::vector<ReceivedRun>& runs, const std::vector<SentenceExchange>& exchanges);

    std::vector<ReceivedRun> Received() const;
    std::vector<uint8_t> ReceivedBytes() const;
    std::vector<SentenceExchange> Exchanges() const;
    size_t ReceivedCount() const;
    size_t ExchangeCount() const;

    // True once at least `count` bytes / sentences have arrived in all;
    // false when the wait ran out first.
    bool WaitForBytes(size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForExchanges(size_t count, std::chrono::milliseconds timeout) const;

    void Clear();

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<ReceivedRun> m_received;
    std::vector<SentenceExchange> m_exchanges;
    size_t m_receivedCount = 0;
};

} // namespace receiver
