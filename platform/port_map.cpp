// Reading the port map.
#include "platform/port_map.h"

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/rfc2217_line.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <vector>

namespace platform {
namespace {

constexpr uint64_t kMaxPortMapBytes = 1 << 20;

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Why `line` is not an entry, or empty with `key` and `device` filled.
std::string ParseEntry(const std::string& line, std::string& key, std::string& device)
{
    const auto equals = line.find('=');
    if (equals == std::string::npos)
        return "not NAME=DEVICE";
    key = Trimmed(line.substr(0, equals));
    device = Trimmed(line.substr(equals + 1));
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    if (key != "GPS1" && key != "GPS2")
        return "'" + key + "' is not GPS1 or GPS2";
    if (IsNetworkPortName(device)) {
        NetworkPort where;
        std::string why;
        if (!ParseNetworkPort(device, where, why))
            return device + ": " + why;
        device = where.Url();
        return {};
    }
    if (device.empty() || device[0] != '/')
        return "'" + device + "' is neither a device path from / nor rfc2217://HOST:PORT";
    return {};
}

} // namespace

std::string PortMapFile()
{
    const std::string config = ConfigDirectory();
    return config.empty() ? std::string() : config + "ports.conf";
}

PortMap ReadPortMap(const std::string& file)
{
    PortMap map;
    map.file = file;
    // A FIFO or a folder put there is refused, never waited on or read as empty.
    std::vector<uint8_t> bytes;
    std::string why;
    errno = 0;
    if (!ReadRegularFile(file, kMaxPortMapBytes, bytes, why)) {
        map.found = errno != ENOENT && errno != ENOTDIR;
        if (map.found)
            map.problem = "it cannot be read: " + why;
        return map;
    }
    map.found = true;
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string text = Trimmed(line.substr(0, line.find('#')));
        if (text.empty())
            continue;
        std::string key, device;
        std::string why = ParseEntry(text, key, device);
        if (why.empty() && !map.entries.emplace(key, device).second)
            why = key + " a second time";
        if (!why.empty()) {
            map.problem = "line " + std::to_string(number) + ": " + why;
            map.entries.clear();
            return map;
        }
    }
    return map;
}

} // namespace platform
