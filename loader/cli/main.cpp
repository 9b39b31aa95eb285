// velmor-cli: the loader's engine from the command line, for scripts and for
// benches that update many receivers at once.
#include "loader/cli/cli_json.h"
#include "loader/cli/doctor.h"
#include "loader/cli/exit_codes.h"
#include "loader/cli/flash_job.h"
#include "loader/cli/port_list.h"
#include "loader/cli/progress_display.h"
#include "loader/cli/signal_stop.h"
#include "loader/cli/watch.h"
#include "loader/serial/receiver_query.h"
#include "loader/upload/image_preparation.h"
#include "platform/line_opener.h"
#include "platform/rfc2217_line.h"
#include "platform/text.h"
#include "platform/version.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>
#include <unistd.h>

namespace velmor::cli {
namespace {

using nlohmann::json;

constexpr auto kTick = std::chrono::milliseconds(200);

// Lines of "info" and "check" as the dialog's log would show them.
class PrintReporter : public Reporter {
public:
    explicit PrintReporter(FILE* out) : m_out(out) {}
    void LogLine(const std::wstring& text) override { std::fprintf(m_out, "%s\n", platform::Narrow(text).c_str()); }
    void StatusLine(const std::wstring& text) override
    {
        if (!text.empty())
            LogLine(text);
    }

private:
    FILE* m_out;
};

// Standard output must have taken everything: a full disk or a closed pipe is
// no success.
int Flushed(int status)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    std::fprintf(stderr, "velmor-cli: the results could not be written to standard output\n");
    return std::max(status, int(kExitOutputFailed));
}

void PrintJson(const json& value)
{
    const std::string text = value.dump() + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
}

int RunInfo(const std::string& port, bool asJson, const SignalStop& signals)
{
    PrintReporter report(asJson ? stderr : stdout);
    ReceiverInfo info;
    const Outcome outcome = ConnectGps(port, report, info, signals.Token());
    if (!outcome.Ok())
        std::fprintf(stderr, "%s %s\n", port.c_str(), FaultText(outcome).c_str());
    if (asJson)
        PrintJson({{"port", JsonText(port)},
                   {"found", outcome.Ok()},
                   {"result", FaultName(outcome.fault)},
                   {"loader_answered", outcome.loaderAnswered},
                   {"receiver", ReceiverJson(outcome.Ok() ? std::optional(info) : std::nullopt)}});
    return Flushed(ExitCodeFor(outcome));
}

int RunCheck(const std::string& path, bool asJson)
{
    FILE* out = asJson ? stderr : stdout;
    PrintReporter report(out);
    const ImageFile image = ReadImage(path);
    UploadJob job;
    uint32_t pfldChecksum = 0;
    const Outcome outcome = CheckImage(image, job, report, pfldChecksum);
    if (!outcome.Ok()) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), FaultText(outcome).c_str());
        if (asJson)
            PrintJson({{"image", JsonText(path)}, {"accepted", false}, {"reason", JsonText(outcome.reason)}});
        return Flushed(kExitImageRefused);
    }
    const uint32_t start = job.image.StartAddress();
    const uint64_t end = uint64_t(start) + job.image.Size();
    std::fprintf(out, "A receiver whose PFLD checksum is not %s is asked: PFLD update requiered.\n",
                 Hex(pfldChecksum).c_str());
    std::fprintf(out, "A Load would erase %s to %s and send %u bytes as records of up to 2048 bytes.\n",
                 Hex(start).c_str(), Hex(uint32_t(end)).c_str(), job.image.Size());
    if (asJson)
        PrintJson({{"image", JsonText(path)},
                   {"accepted", true},
                   {"sha256", ToHex(image.snapshot->sha256)},
                   {"type", ImageTypeName(job.image.Type())},
                   {"pfld_checksum", Hex(pfldChecksum)},
                   {"erase_start", Hex(start)},
                   {"erase_end", Hex(uint32_t(end))},
                   {"bytes", job.image.Size()},
                   {"sfld_start", Hex(job.sfld.LowestAddress())},
                   {"sfld_bytes", job.sfld.Size()}});
    return Flushed(kExitSuccess);
}

// Two names of one receiver would have two jobs fight over it mid-upload.
bool SameDeviceTwice(const std::vector<std::string>& ports)
{
    std::vector<std::string> devices;
    for (const auto& port : ports) {
        std::error_code error;
        const std::string device = ::platform::ResolvePort(port);
        const auto real = std::filesystem::weakly_canonical(device, error);
        devices.push_back(error || ::platform::IsNetworkPortName(device) ? device : real.string());
    }
    for (size_t i = 0; i < devices.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (devices[i] == devices[j]) {
                std::fprintf(stderr, "%s and %s name the same device: give each receiver once\n", ports[j].c_str(),
                             ports[i].c_str());
                return true;
            }
    return false;
}

int RunFlash(const std::vector<std::string>& ports, FlashOptions options, bool asJson, const std::string& logDir,
             double timeout, const SignalStop& signals)
{
    if (SameDeviceTwice(ports))
        return kExitUsage;

    // The image was read once: every port is sent the same bytes.
    {
        const Outcome checked = CheckImageOnce(options.image);
        if (!checked.Ok()) {
            if (asJson)
                for (const auto& port : ports) {
                    PortResult refused;
                    refused.port = port;
                    refused.update.outcome = checked;
                    refused.code = kExitImageRefused;
                    refused.message = FaultText(checked);
                    PrintJson(PortResultJson(refused, options.image));
                }
            return Flushed(kExitImageRefused);
        }
    }
    options.deadline = DeadlineAfter(timeout);
    std::vector<std::unique_ptr<PortReporter>> reporters;
    std::vector<const PortReporter*> shown;
    for (const auto& port : ports) {
        reporters.push_back(OpenPortReporter(port, logDir, options.image));
        shown.push_back(reporters.back().get());
    }

    std::vector<PortResult> results(ports.size());
    std::vector<std::atomic<bool>> finished(ports.size());
    std::vector<std::jthread> threads;
    for (size_t i = 0; i < ports.size(); ++i)
        threads.emplace_back([&, i, token = signals.Token()] {
            results[i] = FlashPort(ports[i], options, *reporters[i], token);
            finished[i] = true;
        });

    FILE* out = asJson ? stderr : stdout;
    ProgressDisplay display(out, isatty(fileno(out)) != 0, shown);
    for (;;) {
        bool all = true;
        for (const auto& f : finished)
            all = all && f;
        if (all)
            break;
        display.Tick();
        signals.WaitFor(kTick);
    }
    threads.clear();
    display.Close();

    int worst = kExitSuccess;
    for (const PortResult& r : results) {
        TellCutShort(r, display.Live());
        worst = std::max(worst, int(r.code));
        if (asJson)
            PrintJson(PortResultJson(r, options.image));
    }
    if (signals.Signalled())
        worst = std::max(worst, int(kExitInterrupted));
    return Flushed(worst);
}

} // namespace
} // namespace velmor::cli

int main(int argc, char** argv)
{
    using namespace velmor::cli;
    std::setlocale(LC_ALL, "");
    // Before any thread: every thread inherits the blocked signals, and only
    // the signal thread takes them.
    SignalStop signals;

    CLI::App app {"velmor-cli: the GPS receiver firmware loader from the command line.\n"
                  "Exit status: 0 every port succeeded, 1 the results could not be written, 2 bad usage,\n"
                  "3 image refused, 4 no receiver (doctor: something stands in the way), 5 upload failed or\n"
                  "out of time, 6 verify mismatch, 130 interrupted; with several ports, the worst.",
                  "velmor-cli"};   // its own name in the usage lines, wherever it lies
    app.require_subcommand(1);
    app.set_version_flag("--version", "velmor-cli " + std::string(::platform::kVersion), "Print the version and exit");
    const auto portCheck = CLI::Validator(::platform::PortNameProblem, "PORT");

    bool asJson = false;
    auto* ports = app.add_subcommand("ports", "List the serial ports a receiver could be on.");
    ports->add_flag("--json", asJson, "A JSON array instead of lines.");

    std::vector<std::string> doctorPorts;
    auto* doctor = app.add_subcommand("doctor", "What stands between you and the ports, and how to mend it. Exit "
                                                "status 0 when nothing does, else 4.");
    doctor->add_option("--port", doctorPorts, "GPS1:, GPS2:, a device path or rfc2217://HOST:PORT; repeat for more. "
                                              "Without it, every port `ports` lists.")
        ->check(portCheck);
    doctor->add_flag("--json", asJson, "One JSON object: the port map, each port's findings, \"ok\".");

    std::string port;
    auto* info = app.add_subcommand("info", "Identify the receiver on a port, as \"Connect GPS\" does.");
    info->add_option("--port", port, "GPS1:, GPS2:, a device path or rfc2217://HOST:PORT.")->required()->check(portCheck);
    info->add_flag("--json", asJson, "The result as one JSON object.");

    std::string image;
    auto* check = app.add_subcommand("check", "Check an image as a Load would, without a receiver.");
    check->add_option("image", image, "Binary or S-record image.")->required();
    check->add_flag("--json", asJson, "The result as one JSON object.");

    std::vector<std::string> flashPorts;
    std::string pfld;
    std::string verify = "spot";
    bool noVerify = false;
    bool force = false;
    bool recover = false;
    std::string logDir = ".";
    double timeout = 0;
    // What flash and watch both take, into the same variables.
    const auto addUploadOptions = [&](CLI::App* command) {
        command->add_option("image", image, "Binary or S-record image.")->required();
        command->add_option("--pfld", pfld, "Answer to \"PFLD update requiered.\": yes or no. Without it an image "
                                            "that would rewrite the PFLD is refused.")
            ->check(CLI::IsMember({"yes", "no"}));
        auto* verifyOption =
            command->add_option("--verify", verify, "Read-back after the upload: spot (a word of every record) or full.")
                ->check(CLI::IsMember({"spot", "full"}));
        command->add_flag("--no-verify", noVerify, "No identification or read-back after the upload.")
            ->excludes(verifyOption);
        command->add_flag("--force", force, "Upload even when the receiver holds this firmware already.");
        command->add_option("--log-dir", logDir, "Folder of the per-port logs (appended).");
        command->add_option("--timeout", timeout, "Seconds for each receiver's job; 0: only the receiver's own deadlines.")
            ->check(CLI::Validator(
                [](const std::string& text) {
                    const double value = std::strtod(text.c_str(), nullptr);
                    return std::isfinite(value) && value >= 0 ? std::string() : "a number of seconds, 0 or more";
                },
                "SECONDS"));
    };
    auto* flash = app.add_subcommand("flash", "Upload an image to the receivers on one or more ports at once.");
    addUploadOptions(flash);
    flash->add_option("--port", flashPorts, "GPS1:, GPS2:, a device path or rfc2217://HOST:PORT; repeat for more "
                                            "receivers.")
        ->required()
        ->check(portCheck);
    flash->add_flag("--recover", recover, "Upload also when nothing answers the identification: sends boot requests "
                                          "to finish an upload that was left unfinished.");
    flash->add_flag("--json", asJson, "One JSON object per port at the end, and nothing else on standard output.");

    WatchOptions line;
    auto* watch = app.add_subcommand("watch", "A production line: upload the image to every receiver as it is "
                                              "plugged in, once, and record each.");
    addUploadOptions(watch);
    watch->add_option("--match", line.match, "Only ports whose /dev/serial/by-id name, device path or device folder "
                                             "name matches this glob; repeat for more.");
    watch->add_option("--usb", line.usb, "Only USB devices with this VID:PID (hex); repeat for more.")
        ->check(CLI::Validator(
            [](const std::string& text) {
                const bool hex = text.size() == 9 && text[4] == ':'
                    && std::all_of(text.begin(), text.end(), [](char c) { return c == ':' || std::isxdigit(static_cast<unsigned char>(c)); });
                return hex ? std::string() : "VID:PID, four hex digits each, as 0403:6001";
            },
            "VID:PID"));
    watch->add_flag("--new-only", line.newOnly, "Leave the receivers that are plugged in at start alone.");
    watch->add_option("--count", line.count, "End after this many receivers, with the worst one's exit status.")
        ->check(CLI::PositiveNumber);
    watch->add_option("--report", line.report, "Append one JSON line per receiver to this file.");
    watch->add_option("--junit", line.junit, "Keep a JUnit XML file of the receivers, one test case each.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {   // --help, --version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    signals.Start();
    if (*ports) {
        const auto where = ::platform::SystemPorts();
        const auto list = ListPorts(where);
        if (asJson)
            std::fputs((PortsToJson(list).dump(-1, ' ', false, json::error_handler_t::replace) + "\n").c_str(), stdout);
        else
            std::fputs((MapInEffect(where) + "\n" + FormatPorts(list)).c_str(), stdout);
        return Flushed(kExitSuccess);
    }
    if (*doctor) {
        const Diagnosis diagnosis = Diagnose(doctorPorts, Machine());
        const std::string text = asJson ? DiagnosisJson(diagnosis).dump(-1, ' ', false, json::error_handler_t::replace)
                                              + "\n"
                                        : FormatDiagnosis(diagnosis);
        std::fputs(text.c_str(), stdout);
        return Flushed(diagnosis.Ok() ? kExitSuccess : kExitNoReceiver);
    }
    if (*info)
        return RunInfo(port, asJson, signals);
    if (*check)
        return RunCheck(image, asJson);

    FlashOptions options;
    options.image = velmor::ReadImage(image);
    if (!pfld.empty())
        options.pfld = pfld == "yes";
    options.verify = noVerify ? velmor::VerifyMode::None : verify == "full" ? velmor::VerifyMode::Full
                                                                            : velmor::VerifyMode::Spot;
    options.force = force;
    options.recover = recover;
    if (*watch) {
        line.flash = options;
        line.logDir = logDir;
        line.timeout = timeout;
        return RunWatch(line, signals);
    }
    return RunFlash(flashPorts, options, asJson, logDir, timeout, signals);
}
