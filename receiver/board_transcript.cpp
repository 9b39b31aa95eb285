// The board's transcript.
#include "receiver/board_transcript.h"

namespace receiver {

void BoardTranscript::Append(const std::vector<ReceivedRun>& runs, const std::vector<SentenceExchange>& exchanges)
{
    if (runs.empty() && exchanges.empty())
        return;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& run : runs) {
            if (m_received.empty() || m_received.back().baud != run.baud
                || m_received.back().understood != run.understood)
                m_received.push_back({{}, run.baud, run.understood});
            auto& last = m_received.back().bytes;
            last.insert(last.end(), run.bytes.begin(), run.bytes.end());
            m_receivedCount += run.bytes.size();
        }
        m_exchanges.insert(m_exchanges.end(), exchanges.begin(), exchanges.end());
    }
    m_changed.notify_all();
}

std::vector<ReceivedRun> BoardTranscript::Received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::vector<uint8_t> BoardTranscript::ReceivedBytes() const
{
    std::lock_guard lock(m_mutex);
    std::vector<uint8_t> all;
    all.reserve(m_receivedCount);
    for (const auto& run : m_received)
        all.insert(all.end(), run.bytes.begin(), run.bytes.end());
    return all;
}

std::vector<SentenceExchange> BoardTranscript::Exchanges() const
{
    std::lock_guard lock(m_mutex);
    return m_exchanges;
}

size_t BoardTranscript::ReceivedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_receivedCount;
}

size_t BoardTranscript::ExchangeCount() const
{
    std::lock_guard lock(m_mutex);
    return m_exchanges.size();
}

bool BoardTranscript::WaitForBytes(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_receivedCount >= count; });
}

bool BoardTranscript::WaitForExchanges(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_exchanges.size() >= count; });
}

void BoardTranscript::Clear()
{
    std::lock_guard lock(m_mutex);
    m_received.clear();
    m_exchanges.clear();
    m_receivedCount = 0;
}

} // namespace receiver
