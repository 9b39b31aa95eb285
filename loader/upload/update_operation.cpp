// The update's steps in their one order, and the read-backs that decide a
// skip and a verification.
#include "loader/upload/update_operation.h"

#include "loader/image/flash_layout.h"
#include "loader/serial/receiver_query.h"
#include "loader/upload/handoff.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

namespace velmor {
namespace {

constexpr uint32_t kVersionAreaBytes = 32;   // where a section keeps its version text, before its checksum word

// The words of the image, by address, as the records would put them in flash.
// Only whole words that a record holds count.
class ImageWords {
public:
    explicit ImageWords(const ImageSnapshot& snapshot)
    {
        ImageSource image;
        if (!image.Open(snapshot.bytes) || !image.Analyse())
            return;
        image.Rewind();
        UploadRecord record;
        while (image.ReadNextBlock(record) && record.DataCount() != 0) {
            const uint32_t first = (record.Address() + 3) & ~3u;
            m_records.push_back(first);
            for (uint64_t at = first; at + 4 <= uint64_t(record.Address()) + record.DataCount(); at += 4)
                m_words[uint32_t(at)] = LittleEndianWord(record.Data() + (at - record.Address()));
        }
        m_binary = image.Type() == ImageType::Binary;
        // A binary image's records stop short of the FW checksum word; the file holds it.
        if (const auto end = At(kFwStart + kHeaderOffset + 4); end && m_binary && !At(*end)) {
            const uint64_t offset = uint64_t(*end) - kFlashBase;
            if (*end >= kFlashBase && offset + 4 <= snapshot.bytes.size())
                m_checksumWord = LittleEndianWord(snapshot.bytes.data() + offset);
        }
    }

    std::optional<uint32_t> At(uint32_t address) const
    {
        const auto it = m_words.find(address);
        return it == m_words.end() ? std::nullopt : std::optional<uint32_t>(it->second);
    }
    bool Binary() const { return m_binary; }
    // The FW section's end address and its stored checksum word.
    std::optional<std::pair<uint32_t, uint32_t>> FwSection() const
    {
        const auto end = At(kFwStart + kHeaderOffset + 4);
        if (!end)
            return std::nullopt;
        if (const auto sum = At(*end))
            return std::make_pair(*end, *sum);
        if (m_checksumWord)
            return std::make_pair(*end, *m_checksumWord);
        return std::nullopt;
    }
    // Every word, or the first word of every record, within [from, to).
    std::vector<uint32_t> Addresses(VerifyMode mode, uint32_t from = 0, uint32_t to = UINT32_MAX) const
    {
        std::vector<uint32_t> addresses;
        if (mode == VerifyMode::Full) {
            for (const auto& [address, word] : m_words)
                if (address >= from && address < to)
                    addresses.push_back(address);
        } else {
            for (uint32_t first : m_records)
                if (first >= from && first < to && m_words.count(first))
                    addresses.push_back(first);
        }
        return addresses;
    }
    // Whether the image's bytes in [from, to) hold `text`.
    bool Contains(uint32_t from, uint32_t to, const std::string& text) const
    {
        std::string bytes;
        for (auto it = m_words.lower_bound(from); it != m_words.end() && it->first < to; ++it)
            for (int b = 0; b < 4; ++b)
                bytes += char(it->second >> (8 * b));
        return !text.empty() && bytes.find(text) != std::string::npos;
    }

private:
    std::map<uint32_t, uint32_t> m_words;
    std::vector<uint32_t> m_records;
    std::optional<uint32_t> m_checksumWord;
    bool m_binary = false;
};

// Reads `addresses` back through the receiver's memory query and compares them
// with the image. Ok, or VerifyMismatch at the first word that differs, or
// Silence when the receiver stops answering (an erased word would look the same).
Outcome ReadBack(const std::string& port, const ReceiverInfo& receiver, const ImageWords& words,
                 const std::vector<uint32_t>& addresses, Reporter& report, std::stop_token stop,
                 SerialLine::Clock::time_point deadline, uint64_t& compared)
{
    compared = 0;
    Outcome open;
    auto line = SerialOpen(port, receiver.baud, report, open);
    if (!line) {
        open.phase = Phase::Verify;
        return open;
    }
    const Link link {*line, report, stop, deadline};
    ReceiverQuery query(link);
    query.SetPflFlag(receiver.pflMode);
    for (size_t i = 0; i < addresses.size(); ++i) {
        if (link.StopRequested())
            return link.Failure(Fault::Stopped, Phase::Verify);
        report.Progress(Phase::Verify, i, addresses.size());
        const uint32_t expected = *words.At(addresses[i]);
        const uint32_t got = query.ReadReceiverWord(addresses[i]);
        if (!query.LastAnswered()) {
            Outcome outcome = link.Failure(Fault::Silence, Phase::Verify);
            outcome.address = addresses[i];
            return outcome;
        }
        if (got != expected) {
            Outcome outcome = Outcome::Failed(Fault::VerifyMismatch, Phase::Verify);
            outcome.address = addresses[i];
            outcome.expected = expected;
            outcome.found = got;
            return outcome;
        }
        ++compared;
    }
    report.Progress(Phase::Verify, addresses.size(), addresses.size());
    return {};
}

// Whether the receiver is shown to hold the image's FW: same length and
// checksum word, its version text found in the image's FW section, and the
// first word of every record and the version area read back equal. A
// checksum word alone is no evidence: a binary upload leaves the old one.
bool HoldsImageFw(const UpdateRequest& request, const ReceiverInfo& receiver, const ImageWords& words,
                  Reporter& report, std::stop_token stop, uint64_t& compared)
{
    const auto fw = words.FwSection();
    if (!fw || receiver.fw.length != fw->first - kFwStart || receiver.fw.crc != fw->second)
        return false;
    if (!words.Contains(kFwStart, fw->first, receiver.fw.text))
        return false;
    std::vector<uint32_t> addresses = words.Addresses(VerifyMode::Spot, kFwStart, fw->first);
    for (uint32_t at = fw->first - kVersionAreaBytes; at < fw->first; at += 4)
        if (words.At(at))
            addresses.push_back(at);
    return ReadBack(request.port, receiver, words, addresses, report, stop, request.deadline, compared).Ok();
}

} // namespace

UpdateResult RunUpdate(const UpdateRequest& request, Reporter& report, std::stop_token stop)
{
    UpdateResult result;
    UploadJob job;
    // Whatever ends the job, the flash is in the state the upload left it in.
    const auto finish = [&](Outcome outcome) {
        outcome.flash = job.flash;
        result.outcome = std::move(outcome);
        return result;
    };

    job.askPfld = request.askPfld;
    job.limits = request.limits;
    if (request.receiver) {
        job.receiver = *request.receiver;
    } else {
        report.Progress(Phase::Connect, 0, 0);
        ReceiverInfo before;
        Outcome found = ConnectGps(request.port, report, before, stop, request.deadline);
        if (!found.Ok() && !(found.fault == Fault::NoReceiver && request.recover))
            return finish(found);
        job.receiver = before;
        if (found.Ok())
            result.before = before;
        else
            report.LogLine(before.loaderOnly ? L"Recovering: the loader that answers takes the upload."
                                             : L"Recovering: boot requests go to a receiver that does not answer.");
    }

    std::optional<ImageWords> words;
    if (request.image.snapshot && (request.skipIfHeld || request.verify != VerifyMode::None))
        words.emplace(*request.image.snapshot);
    if (request.skipIfHeld && words && job.receiver.connected
        && HoldsImageFw(request, job.receiver, *words, report, stop, result.wordsCompared)) {
        result.skipped = true;
        return finish({});
    }
    // A read-back that was stopped is no evidence, and no reason to go on either.
    if (stop.stop_requested())
        return finish(Outcome::Failed(Fault::Stopped, Phase::Connect));
    if (SerialLine::Clock::now() >= request.deadline)
        return finish(Outcome::Failed(Fault::OutOfTime, Phase::Connect));

    Outcome opened;
    auto line = SerialOpen(request.port, kUploadOpenBaud, report, opened);
    if (!line)
        return finish(opened);
    if (Outcome prepared = PrepareImage(request.image, job, report); !prepared.Ok())
        return finish(prepared);
    Outcome uploaded = RunHandoff(Link {*line, report, stop, request.deadline}, job);
    line.reset();
    result.attempts = job.attempts;
    if (!uploaded.Ok())
        return finish(uploaded);
    result.bytes = job.image.Size();
    if (request.verify == VerifyMode::None)
        return finish({});

    // The receiver restarts in its new firmware: it must say so itself.
    report.Progress(Phase::Verify, 0, 0);
    ReceiverInfo after;
    Outcome found = ConnectGps(request.port, report, after, stop, request.deadline);
    if (!found.Ok()) {
        found.phase = Phase::Verify;
        return finish(found);
    }
    result.after = after;
    const auto fw = words->FwSection();
    if (fw && (after.fw.start != kFwStart || after.fw.length != fw->first - kFwStart)) {
        Outcome mismatch = Outcome::Failed(Fault::VerifyMismatch, Phase::Verify);
        mismatch.address = kFwStart + kHeaderOffset + 4;
        mismatch.expected = fw->first;
        mismatch.found = after.fw.start + after.fw.length;
        return finish(mismatch);
    }
    if (fw) {
        result.imageChecksum = fw->second;
        result.checksumWordNotSent = words->Binary();
        if (after.fw.crc != fw->second && !words->Binary()) {
            Outcome mismatch = Outcome::Failed(Fault::VerifyMismatch, Phase::Verify);
            mismatch.address = fw->first;
            mismatch.expected = fw->second;
            mismatch.found = after.fw.crc;
            return finish(mismatch);
        }
    }
    return finish(ReadBack(request.port, after, *words, words->Addresses(request.verify), report, stop,
                           request.deadline, result.wordsCompared));
}

} // namespace velmor
