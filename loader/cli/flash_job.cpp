#include "loader/cli/flash_job.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

namespace velmor::cli {
std::string ResultText(const UpdateResult& update, const std::string& port)
{
    const Outcome& outcome = update.outcome;
    if (update.skipped)
        return "the receiver holds this firmware already (" + std::to_string(update.wordsCompared)
            + " words read back equal): skipped";
    if (outcome.Ok()) {
        if (update.after) {
            std::string text = "uploaded and verified (" + std::to_string(update.wordsCompared) + " words read back";
            if (update.checksumWordNotSent && update.after->fw.crc != update.imageChecksum)
                text += update.after->fw.crc == 0xFFFFFFFF
                    ? "; the FW checksum word reads erased (a binary image does not send it)"
                    : "; the FW checksum word reads " + Hex(update.after->fw.crc) + ", not the image's "
                        + Hex(update.imageChecksum) + " (a binary image does not send it)";
            return text + ")";
        }
        return "uploaded, not verified";
    }
    std::string text;
    switch (outcome.fault) {
    case Fault::PfldNeedsAnswer:
        return "the image would rewrite the receiver's PFLD: pass --pfld yes to allow it";
    case Fault::PfldDeclined:
        return "the PFLD update was declined (--pfld no)";
    case Fault::NoReceiver:
        text = FaultText(outcome);
        if (outcome.phase == Phase::Verify)
            return "the receiver did not answer after the upload";
        if (outcome.loaderAnswered)
            text += ": run again with --recover to finish it";
        return text;
    case Fault::Silence:
        if (outcome.phase == Phase::Verify)
            return "the receiver stopped answering during the read-back at " + Hex(outcome.address)
                + "; the upload itself completed";
        break;
    default:
        break;
    }
    text = FaultText(outcome);
    if (outcome.fault == Fault::Stopped || outcome.fault == Fault::OutOfTime || outcome.fault == Fault::LineGone
        || outcome.phase != Phase::Connect)
        text += std::string(" during ") + PhaseName(outcome.phase);
    if (outcome.phase == Phase::Verify) {
        if (outcome.fault != Fault::VerifyMismatch)
            text += "; the upload was complete, the read-back was not";
        return text;
    }
    if (outcome.phase != Phase::Connect || outcome.flash.stage != FlashState::Stage::Untouched)
        text += "; " + FlashStateText(outcome.flash);
    if (LeftInLoader(outcome))
        text += "; the receiver waits in its loader: run velmor-cli flash IMAGE --port " + port
            + " --recover to upload again";
    return text;
}

PortResult FlashPort(const std::string& port, const FlashOptions& options, PortReporter& report,
                     std::stop_token stop)
{
    const auto start = std::chrono::steady_clock::now();
    UpdateRequest request;
    request.port = port;
    request.image = options.image;
    // A script never blocks on the question: --pfld answers it, or nobody may.
    request.askPfld = [&options, &report] {
        if (!options.pfld) {
            report.Note("No answer allowed: pass --pfld yes to rewrite the PFLD, --pfld no to refuse.");
            return PfldAnswer::NotAllowed;
        }
        report.Note(*options.pfld ? "Answered Yes (--pfld yes)." : "Answered No (--pfld no).");
        return *options.pfld ? PfldAnswer::Yes : PfldAnswer::No;
    };
    request.skipIfHeld = !options.force;
    request.recover = options.recover;
    request.verify = options.verify;
    request.deadline = options.deadline;

    PortResult result;
    result.port = port;
    result.update = RunUpdate(request, report, stop);
    result.code = ExitCodeFor(result.update.outcome);
    result.message = ResultText(result.update, port);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    report.Finish(result.message);
    return result;
}

Outcome CheckImageOnce(const ImageFile& image)
{
    UploadJob dry;
    uint32_t pfldChecksum = 0;
    SilentReporter silent;   // each port's log gets the check's lines again
    const Outcome checked = CheckImage(image, dry, silent, pfldChecksum);
    if (!checked.Ok())
        std::fprintf(stderr, "%s: %s\n", image.path.c_str(), FaultText(checked).c_str());
    return checked;
}

std::unique_ptr<PortReporter> OpenPortReporter(const std::string& port, const std::string& logDir,
                                               const ImageFile& image)
{
    std::error_code error;
    std::filesystem::create_directories(logDir, error);
    auto reporter = std::make_unique<PortReporter>(port, logDir + "/" + LogName(port));
    if (!reporter->LogError().empty())
        std::fprintf(stderr, "%s: no log %s/%s: %s\n", port.c_str(), logDir.c_str(), LogName(port).c_str(),
                     reporter->LogError().c_str());
    reporter->Note("Image " + image.path + " SHA-256 " + ToHex(image.snapshot->sha256));
    return reporter;
}

SerialLine::Clock::time_point DeadlineAfter(double seconds)
{
    const auto now = SerialLine::Clock::now();
    // Beyond what the clock can count is no deadline either, not one long past.
    const double room = std::chrono::duration<double>(SerialLine::Clock::time_point::max() - now).count();
    if (seconds <= 0 || seconds >= room)
        return SerialLine::Clock::time_point::max();
    return now + std::chrono::duration_cast<SerialLine::Clock::duration>(std::chrono::duration<double>(seconds));
}

void TellCutShort(const PortResult& result, bool clipped)
{
    const Fault fault = result.update.outcome.fault;
    if (fault == Fault::Stopped || fault == Fault::OutOfTime || (clipped && result.code != kExitSuccess))
        std::fprintf(stderr, "%s %s\n", result.port.c_str(), result.message.c_str());
}

} // namespace velmor::cli
