#include "loader/cli/flash_job.h"

#include "loader/image/flash_layout.h"
#include "loader/operation.h"
#include "loader/serial/receiver_query.h"
#include "loader/upload/handoff.h"
#include "loader/upload/image_preparation.h"
#include "platform/text.h"

#include <chrono>
#include <cstdio>
#include <map>

namespace velmor::cli {
namespace {

constexpr uint32_t kErasedWord = 0xFFFFFFFF;

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// The words of the image, by address, as the records would put them in flash.
// Only whole words that a record holds count.
class ImageWords {
public:
    explicit ImageWords(ImageSource& image)
    {
        UploadRecord record;
        image.Rewind();
        while (image.ReadNextBlock(record) && record.DataCount() != 0) {
            const uint8_t* data = record.Frame() + 7;
            const uint32_t first = (record.Address() + 3) & ~3u;
            m_records.push_back({first, 0});
            for (uint64_t at = first; at + 4 <= uint64_t(record.Address()) + record.DataCount(); at += 4) {
                m_words[uint32_t(at)] = LittleEndianWord(data + (at - record.Address()));
                ++m_records.back().second;
            }
        }
        image.Rewind();
    }

    std::optional<uint32_t> At(uint32_t address) const
    {
        const auto it = m_words.find(address);
        return it == m_words.end() ? std::nullopt : std::optional<uint32_t>(it->second);
    }
    const std::map<uint32_t, uint32_t>& All() const { return m_words; }
    // The first word of every record that holds one.
    std::vector<uint32_t> FirstOfEachRecord() const
    {
        std::vector<uint32_t> addresses;
        for (const auto& [first, count] : m_records)
            if (count > 0)
                addresses.push_back(first);
        return addresses;
    }

private:
    std::map<uint32_t, uint32_t> m_words;
    std::vector<std::pair<uint32_t, uint32_t>> m_records;
};

// The FW section's end and its stored checksum word, from the image file itself:
// a binary image's records stop short of the checksum word.
std::optional<std::pair<uint32_t, uint32_t>> FwSection(ImageSource& image, const ImageWords& words)
{
    const auto end = words.At(kFwStart + kHeaderOffset + 4);
    if (!end)
        return std::nullopt;
    if (auto sum = words.At(*end))
        return std::make_pair(*end, *sum);
    FILE* file = image.BinaryFile();
    uint32_t sum = 0;
    const bool read = file && ReadFileWord(file, int64_t(*end) - kFlashBase, sum);
    image.Rewind();
    return read ? std::optional(std::make_pair(*end, sum)) : std::nullopt;
}

PortResult Fail(PortResult result, ExitCode code, const std::string& why)
{
    result.code = code;
    result.result = why;
    return result;
}

// Reads the flash back through the receiver's memory query and compares it
// with the image: the first word of every record, or every word. A receiver
// that stops answering ends it at once: an erased word would look the same.
bool ReadBack(const std::wstring& port, const ReceiverInfo& receiver, const ImageWords& words, VerifyMode mode,
              PortReporter& report, std::stop_token stop, PortResult& result)
{
    std::vector<uint32_t> addresses;
    if (mode == VerifyMode::Full) {
        for (const auto& entry : words.All())
            addresses.push_back(entry.first);
    } else {
        addresses = words.FirstOfEachRecord();
    }
    auto line = SerialOpen(port, receiver.baud, report);
    if (!line) {
        result.firstDifference = "the port did not open for the read-back";
        return false;
    }
    const Link link {*line, report, stop};
    ReceiverQuery query(link);
    query.SetPflFlag(receiver.pflMode);
    for (size_t i = 0; i < addresses.size(); ++i) {
        if (stop.stop_requested()) {
            result.firstDifference = "stopped before " + Hex(addresses[i]);
            return false;
        }
        report.Progress(Phase::Verify, i, addresses.size());
        const uint32_t expected = *words.At(addresses[i]);
        const uint32_t got = query.ReadReceiverWord(addresses[i]);
        if (!query.LastAnswered()) {
            result.firstDifference = Hex(addresses[i]) + ": no answer from the receiver";
            return false;
        }
        ++result.wordsCompared;
        if (got != expected) {
            result.firstDifference = Hex(addresses[i]) + ": image " + Hex(expected) + ", receiver " + Hex(got);
            return false;
        }
    }
    report.Progress(Phase::Verify, addresses.size(), addresses.size());
    return true;
}

} // namespace

PortResult FlashPort(const std::wstring& port, const FlashOptions& options, PortReporter& report,
                     std::stop_token stop)
{
    const auto start = std::chrono::steady_clock::now();
    PortResult result;
    result.port = platform::Narrow(port);
    const auto done = [&](PortResult r) {
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        report.Finish(r.result);
        return r;
    };

    report.Progress(Phase::Connect, 0, 0);
    ReceiverInfo before;
    if (!ConnectGps(port, report, before)) {
        const std::wstring error = report.LastError();
        return done(Fail(result, kExitNoReceiver,
                         error.empty() ? "no receiver answered" : "the port did not open: " + platform::Narrow(error)));
    }
    result.before = before;

    UploadJob job;
    job.receiver = before;
    if (!PrepareImage(options.image, job, report)) {
        if (report.PfldRefused())
            return done(Fail(result, kExitImageRefused,
                             "the image would rewrite the receiver's PFLD: pass --pfld yes to allow it"));
        return done(Fail(result, kExitImageRefused,
                         options.pfld == false ? "the PFLD update was declined (--pfld no)" : "the image was refused"));
    }
    const ImageWords words(job.image);
    const auto fw = FwSection(job.image, words);
    if (fw && !options.force && before.fw.length == fw->first - kFwStart && before.fw.crc == fw->second) {
        result.skipped = true;
        result.result = "the receiver holds this firmware already (checksum " + Hex(fw->second) + "): skipped";
        return done(result);
    }

    auto line = SerialOpen(port, kWorkerOpenBaud, report);
    if (!line)
        return done(Fail(result, kExitNoReceiver, "the port did not open: " + platform::Narrow(report.LastError())));
    const bool uploaded = RunHandoff(Link {*line, report, stop}, job);
    line.reset();
    result.attempts = job.attempts;
    if (!uploaded)
        return done(Fail(result, kExitUploadFailed, stop.stop_requested() ? "stopped" : "the upload failed"));
    report.SetUploadInProgress(false);
    result.bytes = job.image.Size();

    if (options.verify == VerifyMode::None) {
        result.result = "uploaded, not verified";
        return done(result);
    }
    report.Progress(Phase::Verify, 0, 0);
    ReceiverInfo after;
    if (!ConnectGps(port, report, after))
        return done(Fail(result, kExitVerifyMismatch, "the receiver did not answer after the upload"));
    result.after = after;
    if (fw && (after.fw.start != kFwStart || after.fw.length != fw->first - kFwStart))
        return done(Fail(result, kExitVerifyMismatch, "the receiver's FW header is not the image's"));
    std::string checksumNote;
    if (fw && after.fw.crc != fw->second) {
        // A binary upload stops at the FW end: its checksum word is neither sent
        // nor erased, so it reads erased or as the old flash had it. The read-back decides.
        if (job.image.Type() != ImageType::Binary)
            return done(Fail(result, kExitVerifyMismatch,
                             "FW checksum " + Hex(after.fw.crc) + ", the image's " + Hex(fw->second)));
        checksumNote = after.fw.crc == kErasedWord
            ? "; the FW checksum word reads erased (a binary image does not send it)"
            : "; the FW checksum word reads " + Hex(after.fw.crc) + ", not the image's " + Hex(fw->second)
                + " (a binary image does not send it)";
    }
    if (!ReadBack(port, after, words, options.verify, report, stop, result)) {
        if (stop.stop_requested())
            return done(Fail(result, kExitUploadFailed, "stopped"));
        return done(Fail(result, kExitVerifyMismatch, "read-back differs at " + result.firstDifference));
    }
    result.result = "uploaded and verified (" + std::to_string(result.wordsCompared) + " words read back" + checksumNote
        + ")";
    return done(result);
}

} // namespace velmor::cli
