// velmor-cli: the loader's engine from the command line, for scripts and for
// benches that update many receivers at once.
#include "loader/cli/exit_codes.h"
#include "loader/cli/flash_job.h"
#include "loader/cli/port_list.h"
#include "loader/cli/progress_display.h"
#include "loader/image/flash_layout.h"
#include "platform/rfc2217_line.h"
#include "platform/serial_port.h"
#include "loader/serial/receiver_query.h"
#include "loader/upload/image_preparation.h"
#include "platform/text.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>
#include <utility>
#include <unistd.h>

namespace velmor::cli {
namespace {

using nlohmann::json;

// Set by SIGINT; the only state the handler may touch.
volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int)
{
    g_interrupted = 1;
}

constexpr auto kTick = std::chrono::milliseconds(200);

// Lines of "info" and "check" as the dialog's log would show them.
class PrintReporter : public Reporter {
public:
    explicit PrintReporter(FILE* out) : m_out(out) {}
    void LogLine(const std::wstring& text) override
    {
        // "check" answered the PFLD question itself: what it turned on is no news.
        if (std::exchange(m_skipPfldLine, false) && text == L"PFLD mode ... On")
            return;
        std::fprintf(m_out, "%s\n", platform::Narrow(text).c_str());
    }
    void StatusLine(const std::wstring& text) override
    {
        if (!text.empty())
            LogLine(text);
    }
    void ClearPane() override {}
    platform::MessageAnswer Ask(const platform::Message& message) override
    {
        if (message.buttons == platform::MessageButtons::Ok) {
            std::fprintf(stderr, "%s\n", platform::Narrow(message.text).c_str());
            return platform::MessageAnswer::Ok;
        }
        // "check" shows what a Load would do: a receiver with another PFLD gets the question.
        std::fprintf(m_out, "A receiver whose PFLD checksum differs is asked: %s\n",
                     platform::Narrow(message.text.substr(0, message.text.find(L'\r'))).c_str());
        m_skipPfldLine = true;
        return platform::MessageAnswer::Yes;
    }
    void SetInputControlsEnabled(bool) override {}
    void SetUploadInProgress(bool) override {}
private:
    FILE* m_out;
    bool m_skipPfldLine = false;
};

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

json SectionJson(const SectionInfo& section)
{
    if (section.length == 0)
        return nullptr;
    return {{"start", Hex(section.start)}, {"length", section.length}, {"checksum", Hex(section.crc)},
            {"version", section.text}};
}

json ReceiverJson(const std::optional<ReceiverInfo>& info)
{
    if (!info)
        return nullptr;
    return {{"baud", info->baud}, {"pfl_mode", info->pflMode}, {"pfld", SectionJson(info->pfld)},
            {"fw", SectionJson(info->fw)}};
}

// A log file name for a port: "GPS1:" -> velmor-GPS1.log, /dev/ttyUSB0 -> velmor-dev-ttyUSB0.log.
std::string LogName(const std::string& port)
{
    std::string name;
    for (char c : port) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')
            name += c;
        else if (c == '/' && !name.empty())
            name += '-';
    }
    return "velmor-" + (name.empty() ? std::string("port") : name) + ".log";
}

int RunInfo(const std::string& port, bool asJson)
{
    PrintReporter report(asJson ? stderr : stdout);
    ReceiverInfo info;
    const bool found = ConnectGps(platform::Widen(port), report, info);
    if (asJson)
        std::cout << json {{"port", port}, {"found", found}, {"receiver", ReceiverJson(found ? std::optional(info) : std::nullopt)}}
                  << "\n";
    return found ? kExitSuccess : kExitNoReceiver;
}

int RunCheck(const std::string& image, bool asJson)
{
    PrintReporter report(asJson ? stderr : stdout);
    UploadJob job;   // no receiver: any PFLD in the image differs from "none"
    if (!PrepareImage(platform::Widen(image), job, report)) {
        if (asJson)
            std::cout << json {{"image", image}, {"accepted", false}} << "\n";
        return kExitImageRefused;
    }
    const uint32_t start = job.image.StartAddress();
    const uint64_t end = uint64_t(start) + job.image.Size();
    FILE* out = asJson ? stderr : stdout;
    std::fprintf(out, "A Load would erase %s to %s and send %u bytes as records of up to 2048 bytes.\n",
                 Hex(start).c_str(), Hex(uint32_t(end)).c_str(), job.image.Size());
    if (asJson)
        std::cout << json {{"image", image},
                           {"accepted", true},
                           {"type", ImageTypeName(job.image.Type())},
                           {"erase_start", Hex(start)},
                           {"erase_end", Hex(uint32_t(end))},
                           {"bytes", job.image.Size()},
                           {"sfld_start", Hex(job.sfld.LowestAddress())},
                           {"sfld_bytes", job.sfld.Size()}}
                  << "\n";
    return kExitSuccess;
}

int RunFlash(const std::string& image, const std::vector<std::string>& ports, const FlashOptions& options,
             bool asJson, const std::string& logDir, double timeout)
{
    // Two jobs on one receiver would fight over it mid-upload.
    std::vector<std::string> devices;
    for (const auto& port : ports) {
        std::error_code error;
        const std::string path = ::platform::ResolvePort(port);
        const auto real = std::filesystem::weakly_canonical(path, error);
        devices.push_back(error || ::platform::IsNetworkPortName(path) ? path : real.string());
    }
    for (size_t i = 0; i < devices.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (devices[i] == devices[j]) {
                std::fprintf(stderr, "%s and %s name the same device: give each receiver once\n", ports[j].c_str(),
                             ports[i].c_str());
                return kExitUsage;
            }

    std::error_code error;
    std::filesystem::create_directories(logDir, error);
    std::vector<std::unique_ptr<PortReporter>> reporters;
    std::vector<const PortReporter*> shown;
    for (const auto& port : ports) {
        reporters.push_back(std::make_unique<PortReporter>(port, logDir + "/" + LogName(port), options.pfld));
        if (!reporters.back()->LogOpen())
            std::fprintf(stderr, "cannot write the log %s/%s\n", logDir.c_str(), LogName(port).c_str());
        shown.push_back(reporters.back().get());
    }

    std::stop_source stop;
    std::vector<PortResult> results(ports.size());
    std::vector<std::atomic<bool>> finished(ports.size());
    std::vector<std::jthread> threads;
    for (size_t i = 0; i < ports.size(); ++i)
        threads.emplace_back([&, i, token = stop.get_token()] {
            results[i] = FlashPort(platform::Widen(ports[i]), options, *reporters[i], token);
            finished[i] = true;
        });

    FILE* out = asJson ? stderr : stdout;
    ProgressDisplay display(out, isatty(fileno(out)) != 0, shown);
    const auto started = std::chrono::steady_clock::now();
    bool interrupted = false;
    bool timedOut = false;
    for (;;) {
        bool all = true;
        for (const auto& f : finished)
            all = all && f;
        if (all)
            break;
        if (g_interrupted && !interrupted) {
            interrupted = true;
            stop.request_stop();
        }
        if (timeout > 0 && !timedOut && std::chrono::steady_clock::now() - started > std::chrono::duration<double>(timeout)) {
            timedOut = true;
            stop.request_stop();
        }
        display.Tick();
        std::this_thread::sleep_for(kTick);
    }
    threads.clear();
    display.Close();

    int worst = kExitSuccess;
    for (size_t i = 0; i < ports.size(); ++i) {
        PortResult& r = results[i];
        if ((interrupted || timedOut) && r.code == kExitUploadFailed) {
            const Phase phase = reporters[i]->Take().phase;
            const char* state = reporters[i]->UploadInProgress()
                ? ": the flash is erased or half-programmed; the receiver waits in its boot loaders for a new upload"
                : phase == Phase::Verify ? ": the upload was complete, the read-back was not"
                                         : ": the flash was not touched";
            r.result = std::string(interrupted ? "interrupted" : "out of time") + " during " + PhaseName(phase) + state;
            if (interrupted)
                r.code = kExitInterrupted;
            std::fprintf(stderr, "%s %s\n", r.port.c_str(), r.result.c_str());
        }
        worst = std::max(worst, int(r.code));
        if (asJson)
            std::cout << json {{"port", r.port},
                               {"result", r.result},
                               {"exit_code", int(r.code)},
                               {"skipped", r.skipped},
                               {"receiver_before", ReceiverJson(r.before)},
                               {"receiver_after", ReceiverJson(r.after)},
                               {"image", image},
                               {"bytes", r.bytes},
                               {"seconds", r.seconds},
                               {"attempts", r.attempts},
                               {"words_compared", r.wordsCompared},
                               {"first_difference", r.firstDifference}}
                      << "\n";
    }
    return interrupted ? std::max(worst, int(kExitInterrupted)) : worst;
}

} // namespace
} // namespace velmor::cli

int main(int argc, char** argv)
{
    using namespace velmor::cli;
    std::setlocale(LC_ALL, "");
    CLI::App app {"velmor-cli: the GPS receiver firmware loader from the command line.\n"
                  "Exit status: 0 every port succeeded, 2 bad usage, 3 image refused, 4 no receiver,\n"
                  "5 upload failed or out of time, 6 verify mismatch, 130 interrupted; with several\n"
                  "ports, the worst."};
    app.require_subcommand(1);

    bool asJson = false;
    auto* ports = app.add_subcommand("ports", "List the serial ports a receiver could be on.");
    ports->add_flag("--json", asJson, "A JSON array instead of lines.");

    std::string port;
    auto* info = app.add_subcommand("info", "Identify the receiver on a port, as \"Connect GPS\" does.");
    info->add_option("--port", port, "GPS1:, GPS2:, a device path or rfc2217://HOST:PORT.")
        ->required()
        ->check(::platform::PortNameProblem);
    info->add_flag("--json", asJson, "The result as one JSON object.");

    std::string image;
    auto* check = app.add_subcommand("check", "Check an image as a Load would, without a receiver.");
    check->add_option("image", image, "Binary or S-record image.")->required()->check(CLI::ExistingFile);
    check->add_flag("--json", asJson, "The result as one JSON object.");

    std::vector<std::string> flashPorts;
    std::string pfld;
    std::string verify = "spot";
    bool noVerify = false;
    bool force = false;
    std::string logDir = ".";
    double timeout = 0;
    auto* flash = app.add_subcommand("flash", "Upload an image to the receivers on one or more ports at once.");
    flash->add_option("image", image, "Binary or S-record image.")->required()->check(CLI::ExistingFile);
    flash->add_option("--port", flashPorts, "GPS1:, GPS2:, a device path or rfc2217://HOST:PORT; repeat for more "
                                         "receivers.")
        ->required()
        ->check(::platform::PortNameProblem);
    flash->add_option("--pfld", pfld, "Answer to \"PFLD update requiered.\": yes or no. Without it an image that "
                                      "would rewrite the PFLD is refused.")
        ->check(CLI::IsMember({"yes", "no"}));
    flash->add_option("--verify", verify, "Read-back after the upload: spot (a word of every record) or full.")
        ->check(CLI::IsMember({"spot", "full"}));
    flash->add_flag("--no-verify", noVerify, "No identification or read-back after the upload.");
    flash->add_flag("--force", force, "Upload even when the receiver holds this firmware already.");
    flash->add_flag("--json", asJson, "One JSON object per port at the end, and nothing else on standard output.");
    flash->add_option("--log-dir", logDir, "Folder of the per-port logs (appended).");
    flash->add_option("--timeout", timeout, "Seconds for the whole job; 0: only the receiver's own deadlines.")
        ->check(CLI::NonNegativeNumber);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);

    if (*ports) {
        const auto list = ListPorts();
        if (asJson)
            std::cout << PortsToJson(list).dump() << "\n";
        else
            std::cout << FormatPorts(list);
        return kExitSuccess;
    }
    if (*info)
        return RunInfo(port, asJson);
    if (*check)
        return RunCheck(image, asJson);

    FlashOptions options;
    options.image = ::platform::Widen(image);
    if (!pfld.empty())
        options.pfld = pfld == "yes";
    options.verify = noVerify ? VerifyMode::None : verify == "full" ? VerifyMode::Full : VerifyMode::Spot;
    options.force = force;
    return RunFlash(image, flashPorts, options, asJson, logDir, timeout);
}
