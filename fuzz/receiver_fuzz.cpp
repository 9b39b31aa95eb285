// The receiver's side from the fuzzer's bytes, on a line in virtual time:
// identification, image preparation, hand-off and flash upload, whatever a bad
// cable, a wrong device or a hostile peer answers. Every run must keep:
// bounded virtual time; nothing sent after an image was refused; erase ranges
// and records only inside the image; success only after every record of the
// last transfer was sent and acknowledged.
#include "fuzz/receiver_exchange.h"

#include "loader/image/flash_layout.h"
#include "loader/upload/byte_codes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <vector>

using namespace velmor;

namespace {

constexpr auto kMaxVirtualTime = std::chrono::minutes(30);

struct Event {
    bool write = false;
    uint32_t speed = 0;
    std::vector<uint8_t> bytes;   // written, or read since the last write
};

class FuzzLine : public platform::SerialLine {
public:
    FuzzLine(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    int Read(uint8_t* buffer, size_t max, std::chrono::milliseconds wait) override
    {
        if (max == 0)
            return 0;
        if (m_pending.empty() || m_pending.front().first > m_now + wait) {
            m_now += wait;
            return 0;
        }
        m_now = std::max(m_now, m_pending.front().first);
        size_t count = 0;
        while (count < max && !m_pending.empty() && m_pending.front().first <= m_now) {
            buffer[count++] = m_pending.front().second;
            m_pending.pop_front();
        }
        if (m_events.empty() || m_events.back().write)
            m_events.push_back({false, m_speed, {}});
        m_events.back().bytes.insert(m_events.back().bytes.end(), buffer, buffer + count);
        return int(count);
    }

    // Each write is answered by the next chunk of the input.
    int Write(const uint8_t* bytes, size_t length) override
    {
        m_events.push_back({true, m_speed, std::vector<uint8_t>(bytes, bytes + length)});
        if (m_at + 2 <= m_size) {
            const auto at = m_now + std::chrono::milliseconds(10 * m_data[m_at]);
            const size_t length = std::min<size_t>(m_data[m_at + 1], m_size - m_at - 2);
            for (size_t i = 0; i < length; ++i)
                m_pending.push_back({at, m_data[m_at + 2 + i]});
            m_at += 2 + length;
        }
        return int(length);
    }
    bool SetSpeed(uint32_t baud) override
    {
        m_speed = baud;
        return true;
    }
    void Purge() override
    {
        while (!m_pending.empty() && m_pending.front().first <= m_now)
            m_pending.pop_front();
    }
    void Drain() override {}
    bool TakeLineErrors(uint32_t&) override { return false; }
    void Pause(std::chrono::milliseconds duration) override { m_now += duration; }
    Clock::time_point Now() const override { return m_now; }

    const std::vector<Event>& Events() const { return m_events; }
    Clock::duration Elapsed() const { return m_now - Clock::time_point {}; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
    uint32_t m_speed = 0;
    Clock::time_point m_now {};
    std::deque<std::pair<Clock::time_point, uint8_t>> m_pending;
    std::vector<Event> m_events;
};

[[noreturn]] void Broken(const char* invariant)
{
    std::fprintf(stderr, "invariant broken: %s\n", invariant);
    std::abort();
}

bool IsFrame(const Event& e)
{
    return e.write && e.bytes.size() >= 6 && e.bytes.front() == UploadRecord::kStartMark
        && e.bytes.back() == UploadRecord::kEndMark;
}

uint32_t BigEndian(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// The image's data records, by address and length, as an upload sends them.
std::vector<std::pair<uint32_t, size_t>> ImageRecords(const ImageSnapshot& snapshot)
{
    ImageSource source;
    std::vector<std::pair<uint32_t, size_t>> records;
    if (!source.Open(snapshot.bytes) || !source.Analyse())
        return records;
    source.Rewind();
    UploadRecord record;
    while (source.ReadNextBlock(record) && record.DataCount() != 0)
        records.emplace_back(record.Address(), record.DataCount());
    return records;
}

void CheckFlashTransfers(const std::vector<Event>& events, const UploadJob& job, bool succeeded)
{
    const uint32_t start = job.image.StartAddress();
    const uint64_t end = uint64_t(start) + job.image.Size();
    bool rangeNext = false;
    size_t lastErase = events.size();
    for (size_t i = 0; i < events.size(); ++i) {
        const Event& e = events[i];
        if (!e.write || e.speed != 115200)
            continue;
        if (e.bytes.size() == 1 && e.bytes[0] == ERASE_CMD) {
            rangeNext = true;
            lastErase = i;
            continue;
        }
        if (!IsFrame(e) || e.bytes.size() == 6)
            continue;
        const size_t payload = (size_t(e.bytes[1]) << 8 | e.bytes[2]) * 2;
        const uint32_t address = BigEndian(e.bytes, 3);
        if (rangeNext) {
            rangeNext = false;
            if (address != start || BigEndian(e.bytes, 7) != end)
                Broken("an erase range other than the image's");
            continue;
        }
        if (address < start || address + uint64_t(payload - 4) > end + 1)   // a padding byte may follow
            Broken("a record outside the image");
    }
    if (!succeeded)
        return;
    if (lastErase == events.size())
        Broken("success without an erase");

    // The last transfer, each frame counted once (a resend repeats it), each
    // acknowledged by a SYNC_CODE the loader read before its next write.
    std::vector<std::pair<uint32_t, size_t>> sent;
    bool range = true;
    bool ended = false;
    for (size_t i = lastErase + 1; i < events.size(); ++i) {
        const Event& e = events[i];
        if (!IsFrame(e))
            continue;
        bool acknowledged = false;
        for (size_t k = i + 1; k < events.size() && !events[k].write; ++k)
            for (uint8_t b : events[k].bytes)
                acknowledged = acknowledged || b == SYNC_CODE;
        const bool resent = i + 1 < events.size() && std::any_of(events.begin() + long(i) + 1, events.end(),
                                                                 [&](const Event& later) { return later.bytes == e.bytes; });
        if (resent)
            continue;   // its last sending is the one that counts
        if (!acknowledged)
            Broken("success with a record never acknowledged");
        if (range) {
            range = false;
            continue;
        }
        if (e.bytes.size() == 6) {
            ended = true;
            continue;
        }
        const size_t payload = (size_t(e.bytes[1]) << 8 | e.bytes[2]) * 2;
        sent.emplace_back(BigEndian(e.bytes, 3), payload - 4);
    }
    if (!ended)
        Broken("success without the end record");
    const auto expected = ImageRecords(*job.imageBytes);
    if (sent.size() != expected.size())
        Broken("success with records missing");
    for (size_t i = 0; i < sent.size(); ++i)
        if (sent[i].first != expected[i].first || sent[i].second < expected[i].second
            || sent[i].second > expected[i].second + 1)
            Broken("success with records other than the image's");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const auto variant = fuzz::Variant(data[0] % uint8_t(fuzz::Variant::Count));
    FuzzLine line(data + 1, size - 1);
    UploadJob job;
    size_t identification = 0;
    const fuzz::ExchangeResult result =
        fuzz::RunExchange(line, variant, job, [&] { identification = line.Events().size(); });

    if (line.Elapsed() > kMaxVirtualTime)
        Broken("the run outlasted its bound");
    if (!result.prepared) {
        // Refused before the hand-off: nothing went out after the identification.
        if (line.Events().size() != identification)
            Broken("bytes sent for an image that was refused");
        return 0;
    }
    CheckFlashTransfers(line.Events(), job, result.outcome.Ok());
    return 0;
}
