// `ports` and `doctor` on a fake machine: a sysfs tree with an FTDI adapter
// (latency timer 16) and a CDC ACM receiver, device nodes with a by-id link,
// udev's marks, a port map, and a simulated board's pseudo-terminal.
#include "loader/cli/doctor.h"
#include "loader/cli/port_list.h"
#include "tests/support/pty_peer.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

namespace velmor::cli {
namespace {

namespace fs = std::filesystem;

// The names' column without its padding.
std::string Unpadded(const std::string& text)
{
    return std::regex_replace(text, std::regex("(\\S) {3,}"), "$1  ");
}

class FakeMachine : public ::testing::Test {
protected:
    FakeMachine()
    {
        m_machine.ports = {"", m_root.File("ports.conf"), m_root.File("dev"), m_root.File("sys")};
        m_machine.udevData = m_root.File("udev");
        m_machine.modemManagerRunning = [] { return true; };
        m_machine.brlttyInstalled = [] { return true; };
        m_machine.mayOpen = [this](const std::string& node) { return node != Dev("ttyACM0"); };
        Adapter("ttyUSB0", "188:0", "usb1/1-1", "1-1:1.0/ttyUSB0", "ftdi_sio",
                {{"idVendor", "0403"}, {"idProduct", "6001"}, {"manufacturer", "FTDI"}, {"product", "FT232R"},
                 {"serial", "A5XK3RJT"}});
        Write("sys/devices/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer", "16");
        Adapter("ttyACM0", "166:0", "usb1/1-2", "1-2:1.0", "cdc_acm",
                {{"idVendor", "1546"}, {"idProduct", "01a8"}, {"manufacturer", "u-blox"}, {"product", "GNSS"}});
        Write("udev/c166:0", "E:ID_MM_CANDIDATE=1\nE:ID_MM_DEVICE_IGNORE=1\n");   // as velmor's rules mark gps1
        fs::create_directories(m_root.File("dev/serial/by-id"));
        fs::create_symlink("../../ttyUSB0", Dev("serial/by-id/usb-FTDI_FT232R_A5XK3RJT-if00-port0"));
        Write("ports.conf", "# the bench\nGPS2 = " + m_root.File("board") + "\n");
    }
    std::string Dev(const std::string& name) const { return m_root.File("dev/" + name); }
    void Write(const std::string& file, const std::string& text)
    {
        fs::create_directories(fs::path(m_root.File(file)).parent_path());
        std::ofstream(m_root.File(file)) << text;
    }
    // sysfs as the kernel lays out a USB tty: the USB device, the folder the
    // driver binds (`port`), the tty under it; and the device node.
    void Adapter(const std::string& name, const std::string& number, const std::string& usb, const std::string& port,
                 const std::string& driver, const std::map<std::string, std::string>& attributes)
    {
        const std::string device = "sys/devices/" + usb + "/" + port, tty = device + "/tty/" + name;
        for (const auto& [attribute, value] : attributes)
            Write("sys/devices/" + usb + "/" + attribute, value);
        Write(tty + "/dev", number);
        fs::create_symlink("../..", m_root.File(tty + "/device"));
        fs::create_symlink("../../../bus/usb/drivers/" + driver, m_root.File(device + "/driver"));
        fs::create_directories(m_root.File("sys/class/tty"));
        fs::create_symlink(m_root.File(tty), m_root.File("sys/class/tty/" + name));
        Write("dev/" + name, "");
    }

    test::TempDir m_root;
    Machine m_machine;
    test::PtyPeer m_board {m_root.Path(), "board"};
};

TEST_F(FakeMachine, PortsShowTheMapAndTheLinesForEachAdapter)
{
    const auto ports = ListPorts(m_machine.ports);
    EXPECT_EQ(MapInEffect(m_machine.ports),
              "Port map " + m_root.File("ports.conf") + ": GPS1: is " + Dev("gps1") + ", GPS2=" + m_root.File("board"));
    const std::string byId = Dev("serial/by-id/usb-FTDI_FT232R_A5XK3RJT-if00-port0");
    EXPECT_EQ(Unpadded(FormatPorts(ports)),
              "GPS2:  " + m_root.File("board") + "  (port map)\n" +
              Dev("ttyACM0") + "  1546:01a8  u-blox GNSS\n"
              "    port map line: GPS1=" + Dev("ttyACM0") + "\n"
              "    udev rule:  SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"1546\", ATTRS{idProduct}==\"01a8\", "
              "SYMLINK+=\"gps1\"\n" +
              Dev("ttyUSB0") + "  " + byId + "  0403:6001  FTDI FT232R  serial A5XK3RJT\n"
              "    port map line: GPS1=" + byId + "\n"
              "    udev rule:  SUBSYSTEM==\"tty\", ATTRS{serial}==\"A5XK3RJT\", SYMLINK+=\"gps1\"\n");
    EXPECT_EQ(PortsToJson(ports)[0], nlohmann::json::parse(R"({"name": "GPS2:", "path": ")" + m_root.File("board") + R"(",
        "stableName": null, "vendorId": null, "modelId": null, "vendor": null, "model": null, "serial": null,
        "present": true, "via": "port map", "mapLine": null, "udevRule": null})"));

    // The adapter the map reaches is folded into its name; a link to nothing is listed as such.
    Write("ports.conf", "GPS1=" + byId + "\n");
    fs::create_symlink("../../ttyUSB9", Dev("serial/by-id/usb-gone"));
    EXPECT_EQ(Unpadded(FormatPorts(ListPorts(m_machine.ports))),
              "GPS1:  " + byId + "  0403:6001  FTDI FT232R  serial A5XK3RJT  (port map)\n" +
              Dev("ttyACM0") + "  1546:01a8  u-blox GNSS\n"
              "    port map line: GPS2=" + Dev("ttyACM0") + "\n"
              "    udev rule:  SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"1546\", ATTRS{idProduct}==\"01a8\", "
              "SYMLINK+=\"gps2\"\n" +
              Dev("serial/by-id/usb-gone") + "  (no device node)\n");
}

TEST_F(FakeMachine, DoctorNamesWhatStandsInTheWay)
{
    const Diagnosis all = Diagnose({}, m_machine);
    const struct {
        std::string name, kind, driver;
        int latency;
        bool modemManager, mayOpen;
        std::vector<std::string> problems;   // each a part of one problem's text
        size_t warnings;
    } rows[] = {
        {"GPS2:", "pseudo-terminal", "", -1, false, true, {}, 0},   // brltty is a warning for USB adapters only
        {Dev("ttyACM0"), "usb serial", "cdc_acm", -1, false, false, {"may not open it"}, 1},
        {Dev("ttyUSB0"), "usb serial", "ftdi_sio", 16, true, true, {"ModemManager runs and may probe"}, 2},
    };
    ASSERT_EQ(all.ports.size(), std::size(rows));
    for (size_t i = 0; i < all.ports.size(); ++i) {
        const PortDiagnosis& port = all.ports[i];
        const auto& row = rows[i];
        EXPECT_EQ(port.name, row.name);
        EXPECT_EQ(port.kind, row.kind) << row.name;
        EXPECT_EQ(port.tty.driver, row.driver) << row.name;
        EXPECT_EQ(port.tty.latencyMs, row.latency) << row.name;
        EXPECT_EQ(port.modemManagerMayProbe, row.modemManager) << row.name;
        EXPECT_EQ(port.mayOpen, row.mayOpen) << row.name;
        EXPECT_EQ(port.warnings.size(), row.warnings) << row.name;
        ASSERT_EQ(port.problems.size(), row.problems.size()) << row.name;
        for (size_t p = 0; p < row.problems.size(); ++p)
            EXPECT_NE(port.problems[p].find(row.problems[p]), std::string::npos) << port.problems[p];
    }
    EXPECT_FALSE(all.Ok());
    const auto json = DiagnosisJson(all);
    EXPECT_EQ(json["ok"], false);
    EXPECT_EQ(json["map"]["entries"]["GPS2"], m_root.File("board"));
    EXPECT_EQ(json["ports"][2]["by_id"], Dev("serial/by-id/usb-FTDI_FT232R_A5XK3RJT-if00-port0"));
    EXPECT_EQ(json["ports"][2]["latency_timer_ms"], 16);
    EXPECT_NE(FormatDiagnosis(all).find("\n2 problems stand in the way.\n"), std::string::npos);

    // One port, with nothing in the way; a name mapped to nothing; a broken map.
    EXPECT_TRUE(Diagnose({"GPS2:"}, m_machine).Ok());
    Write("ports.conf", "GPS1=" + Dev("ttyUSB7") + "\n");
    const Diagnosis missing = Diagnose({"GPS1:"}, m_machine);
    ASSERT_EQ(missing.ports.at(0).problems.size(), 1u);
    EXPECT_EQ(missing.ports[0].problems[0], Dev("ttyUSB7") + ": no such device; GPS1: is mapped to it in "
                                                + m_root.File("ports.conf")
                                                + " (velmor-cli ports shows the lines that map each adapter)");
    Write("ports.conf", "GPS1=ttyUSB0\n");
    const Diagnosis broken = Diagnose({"GPS2:"}, m_machine);
    EXPECT_FALSE(broken.Ok());
    EXPECT_NE(broken.problems.at(0).find("is not used, line 1: 'ttyUSB0' is neither"), std::string::npos);
}

} // namespace
} // namespace velmor::cli
