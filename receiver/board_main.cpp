// velmor-board: a simulated GPS receiver board on a pseudo-terminal, served
// until SIGINT or SIGTERM; the published device name goes to standard output.
#include "receiver/line_speed.h"
#include "platform/version.h"
#include "receiver/command_line.h"
#include "receiver/simulated_board.h"

#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <map>
#include <pthread.h>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "Usage: velmor-board [OPTION]...\n"
    "Serves a simulated GPS receiver board on a pseudo-terminal until SIGINT or SIGTERM;\n"
    "the device's path goes to standard output.\n"
    "\n"
    "  --dir DIR               where to publish the device (default $VELMOR_DEVICE_DIR, else /dev)\n"
    "  --name NAME             device name (default gps1)\n"
    "  --flash FILE            binary flash image loaded at 0x10000000 (default: erased flash);\n"
    "                          rewritten after each completed flash upload\n"
    "  --baud N                command rate: 4800, 9600, 19200, 38400, 57600 or 115200 (default 4800)\n"
    "  --pfl                   start in the resident loader (answers at 19200 only)\n"
    "  --pfl-comma             PFL memory replies put ',' after the address instead of ':'\n"
    "  --no-stream             start with the position and satellite sentences off\n"
    "  --pace                  bytes take their time on the wire (10 bits each)\n"
    "  --fault F               switch a fault on: silence, wrong-echo, no-rid, junk or bad-cell;\n"
    "                          may be repeated\n"
    "  --type-id N             the SFLD's type identifier byte (default 1)\n"
    "  --erase-time MS         time to erase one flash sector (default 3)\n"
    "  --rec-wait-interval MS  REC_WAIT repeat interval while a loader waits for a frame (default 50)\n"
    "  --frame-timeout MS      time limit for a whole frame (default 2000)\n"
    "  -h, --help              show this help and exit\n"
    "  --version               show the version and exit\n";

constexpr unsigned long kMaxTypeId = 0xFF;
constexpr unsigned long kMaxMilliseconds = 3600000;   // an hour: anything longer is a typing error

const std::map<std::string, receiver::BoardFault> kFaultNames = {
    {"silence", receiver::BoardFault::Silence},
    {"wrong-echo", receiver::BoardFault::WrongEcho},
    {"no-rid", receiver::BoardFault::NoRid},
    {"junk", receiver::BoardFault::Junk},
    {"bad-cell", receiver::BoardFault::BadCell},
    {"fall-back", receiver::BoardFault::FallBack},
};

[[noreturn]] void UsageError(const std::string& message)
{
    receiver::UsageError("velmor-board", kUsage, message);
}

unsigned long Number(const std::string& text, unsigned long maximum)
{
    return static_cast<unsigned long>(receiver::ParseNumber("velmor-board", kUsage, text, maximum));
}

} // namespace

int main(int argc, char** argv)
{
    receiver::BoardOptions options;
    if (const char* dir = std::getenv("VELMOR_DEVICE_DIR"); dir && *dir)
        options.deviceDir = dir;
    std::vector<receiver::BoardFault> faults;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                UsageError(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--dir") {
            options.deviceDir = value();
        } else if (arg == "--name") {
            options.deviceName = value();
        } else if (arg == "--flash") {
            options.flashImage = value();
        } else if (arg == "--baud") {
            const std::string text = value();
            char* end = nullptr;
            const unsigned long baud = std::strtoul(text.c_str(), &end, 10);
            if (*end != '\0' || !receiver::IsCommandRate(unsigned(baud)))
                UsageError("no command rate: " + text);
            options.commandRate = unsigned(baud);
        } else if (arg == "--pfl") {
            options.mode = receiver::BoardMode::Pfl;
        } else if (arg == "--pfl-comma") {
            options.pflComma = true;
        } else if (arg == "--no-stream") {
            options.stream = false;
        } else if (arg == "--pace") {
            options.pace = true;
        } else if (arg == "--type-id") {
            options.sfldTypeId = uint8_t(Number(value(), kMaxTypeId));
        } else if (arg == "--erase-time") {
            options.sectorEraseTime = std::chrono::milliseconds(Number(value(), kMaxMilliseconds));
        } else if (arg == "--rec-wait-interval") {
            options.recWaitInterval = std::chrono::milliseconds(Number(value(), kMaxMilliseconds));
        } else if (arg == "--frame-timeout") {
            options.frameTimeout = std::chrono::milliseconds(Number(value(), kMaxMilliseconds));
        } else if (arg == "--fault") {
            const std::string name = value();
            const auto found = kFaultNames.find(name);
            if (found == kFaultNames.end())
                UsageError("unknown fault: " + name);
            faults.push_back(found->second);
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--version") {
            std::cout << "velmor-board " << platform::kVersion << "\n";
            return 0;
        } else {
            UsageError("unknown option: " + arg);
        }
    }

    // Blocked before the worker starts, so the signals reach only sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    receiver::SimulatedBoard board(options);
    for (auto fault : faults)
        board.SetFault(fault, true);
    try {
        board.Start();
    } catch (const std::exception& e) {
        std::cerr << "velmor-board: " << e.what() << "\n";
        return 1;
    }
    std::cout << board.DevicePath() << std::endl;
    std::cerr << "velmor-board: " << (options.mode == receiver::BoardMode::Pfl ? "PFL mode" : "command mode")
              << " at " << board.CurrentRate() << " baud; stop with Ctrl-C\n";

    int signal = 0;
    sigwait(&stopSignals, &signal);
    board.Stop();
    return 0;
}
