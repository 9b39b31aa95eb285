// sysfs lookups for serial devices.
#include "platform/tty_sysfs.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr unsigned kPtyFirstMajor = 136;   // UNIX98 pseudo-terminal clients: 136 to 143
constexpr unsigned kPtyLastMajor = 143;

std::string FirstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

TtyFacts FactsOfTty(const fs::path& sysfs, const std::string& name)
{
    TtyFacts facts;
    std::error_code error;
    const fs::path tty = fs::canonical(sysfs / "class/tty" / name, error);
    if (error || name.empty())
        return facts;
    facts.name = name;
    facts.number = FirstLine(tty / "dev");
    const fs::path device = fs::canonical(tty / "device", error);
    if (error)
        return facts;
    facts.driver = fs::read_symlink(device / "driver", error).filename().string();
    if (fs::exists(device / "latency_timer", error)) {
        facts.latencyFile = (sysfs / "class/tty" / name / "device/latency_timer").string();
        facts.latencyMs = ReadNumberFile(facts.latencyFile);
    }
    // The USB device is the first folder up with a vendor id.
    const fs::path root = fs::canonical(sysfs, error);
    for (fs::path up = device; !error && up != root && up.has_relative_path(); up = up.parent_path()) {
        if (!fs::exists(up / "idVendor", error))
            continue;
        facts.vendorId = FirstLine(up / "idVendor");
        facts.modelId = FirstLine(up / "idProduct");
        facts.vendor = FirstLine(up / "manufacturer");
        facts.model = FirstLine(up / "product");
        facts.serial = FirstLine(up / "serial");
        break;
    }
    return facts;
}

} // namespace

TtyFacts TtyFactsOf(const std::string& node, const std::string& sysfs)
{
    std::error_code error;
    const fs::path real = fs::canonical(node, error);
    return error ? TtyFacts {} : FactsOfTty(sysfs, real.filename().string());
}

std::vector<TtyFacts> SerialAdapters(const std::string& sysfs)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::path(sysfs) / "class/tty", error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("ttyUSB") || name.starts_with("ttyACM"))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<TtyFacts> adapters;
    for (const std::string& name : names)
        adapters.push_back(FactsOfTty(sysfs, name));
    return adapters;
}

bool IsPseudoTerminal(const std::string& node)
{
    struct stat info {};
    return stat(node.c_str(), &info) == 0 && S_ISCHR(info.st_mode) && major(info.st_rdev) >= kPtyFirstMajor
           && major(info.st_rdev) <= kPtyLastMajor;
}

int ReadNumberFile(const std::string& file)
{
    std::ifstream in(file);
    int value = -1;
    return in >> value && value >= 0 ? value : -1;
}

} // namespace platform
