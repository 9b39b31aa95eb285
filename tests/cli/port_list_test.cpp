// The port listing: GPS names, one entry per device, and both output forms.
#include "loader/cli/port_list.h"
#include "tests/support/device_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>

namespace velmor::cli {
namespace {

namespace fs = std::filesystem;

PortEntry Device(const std::string& path, std::string PortEntry::*field = nullptr, const char* value = "")
{
    PortEntry port;
    port.name = port.path = path;
    if (field)
        port.*field = value;
    return port;
}

// ttyACM0 is reached through gps1, ttyUSB0 through a by-id link and twice from
// udev; ttyUSB9 is known to udev but has no node.
TEST(PortListTest, FoldsLinksAndRepeatsIntoOneEntryPerDevice)
{
    test::DeviceFolder dev;
    std::ofstream(dev.File("ttyUSB0"));
    std::ofstream(dev.File("ttyACM0"));
    fs::create_directory(dev.File("by-id"));
    fs::create_symlink("../ttyUSB0", dev.File("by-id/usb-Acme_Receiver_42-if00"));
    fs::create_symlink("ttyACM0", dev.File("gps1"));

    const auto ports = CollectPorts({Device(dev.File("ttyUSB0"), &PortEntry::vendorId, "1546"),
                                     Device(dev.File("ttyACM0"), &PortEntry::vendor, "Acme"),
                                     Device(dev.File("ttyUSB0"), &PortEntry::serial, "dup"),
                                     Device(dev.File("ttyUSB9"))},
                                    dev.File("by-id"));

    using Row = std::tuple<std::string, std::string, std::string, std::string, std::string, bool>;
    std::vector<Row> rows;
    for (const PortEntry& p : ports)
        rows.emplace_back(p.name, p.stableName, p.vendorId, p.vendor, p.serial, p.present);
    EXPECT_EQ(rows, (std::vector<Row>{
                        {"GPS1:", "", "", "Acme", "", true},
                        {dev.File("ttyUSB0"), dev.File("by-id/usb-Acme_Receiver_42-if00"), "1546", "", "dup", true},
                        {dev.File("ttyUSB9"), "", "", "", "", false},
                    }));
}

TEST(PortListTest, TextAndJsonCarryTheFields)
{
    const std::vector<PortEntry> ports = {
        {"GPS1:", "/dev/gps1", "/dev/serial/by-id/usb-Acme-if00", "1546", "01a8", "Acme", "Receiver 8", "A42", true},
        Device("/dev/ttyACM3"),
    };

    EXPECT_EQ(FormatPorts(ports),
              "GPS1:         /dev/gps1  /dev/serial/by-id/usb-Acme-if00  1546:01a8  Acme Receiver 8  serial A42\n"
              "/dev/ttyACM3  (no device node)\n");

    const auto json = PortsToJson(ports);
    EXPECT_EQ(json, nlohmann::json::parse(R"([
        {"name": "GPS1:", "path": "/dev/gps1", "stableName": "/dev/serial/by-id/usb-Acme-if00", "vendorId": "1546",
         "modelId": "01a8", "vendor": "Acme", "model": "Receiver 8", "serial": "A42", "present": true},
        {"name": "/dev/ttyACM3", "path": "/dev/ttyACM3", "stableName": null, "vendorId": null, "modelId": null,
         "vendor": null, "model": null, "serial": null, "present": false}])"));
}

} // namespace
} // namespace velmor::cli
