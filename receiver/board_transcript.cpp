// The board's transcript.
#include "receiver/board_transcript.h"

namespace receiver {
namespace {

template <typename Item>
void Add(std::vector<Item>& to, const std::vector<Item>& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

} // namespace

void BoardTranscript::Append(const std::vector<ReceivedRun>& runs, const std::vector<SentenceExchange>& exchanges)
{
    TranscriptStep step;
    step.runs = runs;
    step.exchanges = exchanges;
    Append(step);
}

void BoardTranscript::Append(const TranscriptStep& step)
{
    if (step.runs.empty() && step.exchanges.empty() && step.modes.empty() && step.codes.empty()
        && step.records.empty() && step.erases.empty() && step.uploads.empty())
        return;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& run : step.runs) {
            if (m_received.empty() || m_received.back().baud != run.baud
                || m_received.back().understood != run.understood)
                m_received.push_back({{}, run.baud, run.understood});
            auto& last = m_received.back().bytes;
            last.insert(last.end(), run.bytes.begin(), run.bytes.end());
            m_receivedCount += run.bytes.size();
        }
        Add(m_log.exchanges, step.exchanges);
        Add(m_log.modes, step.modes);
        Add(m_log.codes, step.codes);
        Add(m_log.records, step.records);
        Add(m_log.erases, step.erases);
        Add(m_log.uploads, step.uploads);
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
    return m_log.exchanges;
}

size_t BoardTranscript::ReceivedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_receivedCount;
}

size_t BoardTranscript::ExchangeCount() const
{
    std::lock_guard lock(m_mutex);
    return m_log.exchanges.size();
}

std::vector<BoardMode> BoardTranscript::Modes() const
{
    std::lock_guard lock(m_mutex);
    return m_log.modes;
}

std::vector<ReceivedCode> BoardTranscript::Codes() const
{
    std::lock_guard lock(m_mutex);
    return m_log.codes;
}

std::vector<uint8_t> BoardTranscript::CodesIn(BoardMode mode) const
{
    std::lock_guard lock(m_mutex);
    std::vector<uint8_t> codes;
    for (const auto& code : m_log.codes)
        if (code.mode == mode)
            codes.push_back(code.code);
    return codes;
}

std::vector<RecordEntry> BoardTranscript::Records() const
{
    std::lock_guard lock(m_mutex);
    return m_log.records;
}

std::vector<RecordEntry> BoardTranscript::Records(Transfer transfer) const
{
    std::lock_guard lock(m_mutex);
    std::vector<RecordEntry> records;
    for (const auto& record : m_log.records)
        if (record.transfer == transfer)
            records.push_back(record);
    return records;
}

std::vector<EraseEntry> BoardTranscript::Erases() const
{
    std::lock_guard lock(m_mutex);
    return m_log.erases;
}

std::vector<UploadEntry> BoardTranscript::Uploads() const
{
    std::lock_guard lock(m_mutex);
    return m_log.uploads;
}

bool BoardTranscript::WaitForBytes(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_receivedCount >= count; });
}

template <typename Item>
bool BoardTranscript::WaitForSize(const std::vector<Item>& items, size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return items.size() >= count; });
}

bool BoardTranscript::WaitForExchanges(size_t count, std::chrono::milliseconds timeout) const
{
    return WaitForSize(m_log.exchanges, count, timeout);
}

bool BoardTranscript::WaitForModes(size_t count, std::chrono::milliseconds timeout) const
{
    return WaitForSize(m_log.modes, count, timeout);
}

bool BoardTranscript::WaitForCodes(size_t count, std::chrono::milliseconds timeout) const
{
    return WaitForSize(m_log.codes, count, timeout);
}

bool BoardTranscript::WaitForRecords(size_t count, std::chrono::milliseconds timeout) const
{
    return WaitForSize(m_log.records, count, timeout);
}

bool BoardTranscript::WaitForErases(size_t count, std::chrono::milliseconds timeout) const
{
    return WaitForSize(m_log.erases, count, timeout);
}

bool BoardTranscript::WaitForUploads(size_t count, std::chrono::milliseconds timeout) const
{
    return WaitForSize(m_log.uploads, count, timeout);
}

void BoardTranscript::Clear()
{
    std::lock_guard lock(m_mutex);
    m_received.clear();
    m_receivedCount = 0;
    m_log = {};
}

} // namespace receiver
