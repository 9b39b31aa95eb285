// The termios port against a pseudo-terminal, and the serial operations'
// rules on a scripted line.
#include "loader/serial/serial_link.h"
#include "platform/paths.h"
#include "platform/port_map.h"
#include "platform/text.h"
#include "platform/tty_sysfs.h"
#include "tests/support/device_folder.h"
#include "tests/support/log_recorder.h"
#include "tests/support/pty_peer.h"
#include "tests/support/scripted_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <optional>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace velmor {
namespace {

using namespace std::chrono_literals;
using Step = test::ScriptedLine::Step;

class SerialPortTest : public ::testing::Test {
protected:
    test::DeviceFolder m_folder;
    test::PtyPeer m_peer {m_folder.Path(), "gps1"};
    test::LogRecorder m_log;
};

TEST_F(SerialPortTest, OpenChecksTheRateAndReportsFailures)
{
    Outcome outcome;
    for (uint32_t baud : {0u, 12345u, 230400u}) {
        EXPECT_EQ(SerialOpen("GPS1:", baud, m_log, outcome), nullptr) << baud;
        EXPECT_EQ(outcome.fault, Fault::RateNotAccepted);
    }
    EXPECT_EQ(SerialOpen("GPS2:", 4800, m_log, outcome), nullptr);   // no such device
    EXPECT_EQ(outcome.fault, Fault::PortNotFound);
    EXPECT_EQ(outcome.device, m_folder.Path() + "/gps2");
    EXPECT_EQ(m_log.PortFailures(), (std::vector<Fault> {Fault::RateNotAccepted, Fault::RateNotAccepted,
                                                          Fault::RateNotAccepted, Fault::PortNotFound}));
    // The pane says why, naming the device.
    EXPECT_TRUE(m_log.HasPaneLine(platform::Widen(m_folder.Path() + "/gps2: no such device")));
    // A file that is no terminal.
    std::fclose(std::fopen((m_folder.Path() + "/gps2").c_str(), "w"));
    EXPECT_EQ(SerialOpen("GPS2:", 4800, m_log, outcome), nullptr);
    EXPECT_EQ(outcome.fault, Fault::PortUnusable);
    EXPECT_TRUE(m_log.HasStatusLine(L"SetCommState return error"));

    // A line an earlier program left cooked and with flow control is made raw
    // (the settings themselves: LineSettings). 38400 is accepted although the
    // loader never asks for it.
    {
        const int earlier = open((m_folder.Path() + "/gps1").c_str(), O_RDWR | O_NOCTTY);
        termios cooked {};
        ASSERT_EQ(tcgetattr(earlier, &cooked), 0);
        cooked.c_iflag |= IXON | IXOFF;
        cooked.c_lflag |= ICANON | ECHO;
        ASSERT_EQ(tcsetattr(earlier, TCSANOW, &cooked), 0);
        close(earlier);
    }
    auto port = SerialOpen("GPS1:", 38400, m_log, outcome);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(m_peer.Speed(), 38400u);
    termios applied {};
    ASSERT_EQ(tcgetattr(dynamic_cast<platform::SerialPort&>(*port).Descriptor(), &applied), 0);
    EXPECT_EQ(applied.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(applied.c_lflag & (ICANON | ECHO), 0u);
    // No sharing: the port is refused while it is open, also to programs that
    // take no lock (the tty's exclusive mode), and given back when it closes.
    EXPECT_EQ(SerialOpen("GPS1:", 4800, m_log, outcome), nullptr);
    EXPECT_EQ(outcome.fault, Fault::PortBusy);
    EXPECT_TRUE(m_log.HasPaneLine(platform::Widen(m_folder.Path() + "/gps1: busy, another program holds it")));
    const int other = open((m_folder.Path() + "/gps1").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int exclusive = 0;
    EXPECT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    port.reset();
    EXPECT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(other);
    port = SerialOpen("GPS1:", 4800, m_log, outcome);
    EXPECT_NE(port, nullptr);
}

// What the driver is handed, from a line an earlier program left cooked, 7E2,
// with both kinds of flow control and hang-up on close.
TEST(LineSettings, RawEightNoParityOneStopNoFlowControl)
{
    termios cooked {};
    cooked.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL;
    cooked.c_iflag = IXON | IXOFF | IXANY | ICRNL | ISTRIP | INPCK | BRKINT | PARMRK;
    cooked.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    cooked.c_oflag = OPOST | ONLCR;
    cooked.c_cc[VMIN] = 1;
    cooked.c_cc[VTIME] = 5;
    const termios raw = platform::RawLineSettings(cooked);
    EXPECT_EQ(raw.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(raw.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
    EXPECT_EQ(raw.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(raw.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP | INPCK | BRKINT | PARMRK), 0u);
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(raw.c_oflag & OPOST, 0u);
    EXPECT_EQ(raw.c_cc[VMIN], 0);
    EXPECT_EQ(raw.c_cc[VTIME], 0);
}

TEST_F(SerialPortTest, BytesSpeedAndVanishing)
{
    Outcome outcome;
    auto port = SerialOpen("GPS1:", 4800, m_log, outcome);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(m_log.PaneLines(), std::vector<std::wstring> {});   // the pty refused low latency, quietly
    const uint8_t bootRequest[7] = {0x24, 0x24, 0x00, 0x07, 0x0A, 0x00, 0x0D};
    EXPECT_EQ(port->Write(bootRequest, 7), 7);
    EXPECT_EQ(m_peer.ReadAll(), std::string("\x24\x24\x00\x07\x0A\x00\x0D", 7));

    // A read waits for the first byte, then takes the burst.
    m_peer.Write("hello");
    uint8_t buffer[8];
    EXPECT_EQ(port->Read(buffer, 8, 1000ms), 5);
    EXPECT_EQ(std::memcmp(buffer, "hello", 5), 0);

    // Every rate the loader sets reaches the driver as that rate.
    for (uint32_t baud : {4800u, 9600u, 19200u, 57600u, 115200u}) {
        EXPECT_TRUE(port->SetSpeed(baud));
        EXPECT_EQ(m_peer.Speed(), baud);
    }
    m_peer.Write("stale");
    port->Purge();
    EXPECT_EQ(port->Read(buffer, 5, 20ms), 0);
    EXPECT_FALSE(port->SetSpeed(12345));
    EXPECT_EQ(m_peer.Speed(), 115200u);

    uint32_t flags = 1;
    EXPECT_FALSE(port->TakeLineErrors(flags));   // a pseudo-terminal keeps no counters
    EXPECT_FALSE(port->Gone());
    m_peer.Hangup();
    EXPECT_EQ(port->Read(buffer, 1, 100ms), -1);
    EXPECT_TRUE(port->Gone());
}

TEST(OpenFailures, SayWhatToDo)
{
    test::DeviceFolder folder;
    const std::string device = folder.Path() + "/gps1";
    std::fclose(std::fopen(device.c_str(), "w"));
    struct stat info {};
    ASSERT_EQ(stat(device.c_str(), &info), 0);
    const std::string group = getgrgid(info.st_gid)->gr_name;
    EXPECT_EQ(platform::DescribeOpenFailure(EACCES, device).text,
              device + ": permission denied (the device belongs to group '" + group + "'; add the user to it)");
    EXPECT_EQ(platform::DescribeOpenFailure(EIO, device).text, device + ": Input/output error");
}

class SerialOps : public ::testing::Test {
protected:
    test::ScriptedLine m_line;
    test::LogRecorder m_log;
    Link m_link {m_line, m_log, {}};
};

TEST_F(SerialOps, WritesExactBytes)
{
    m_line.Add({{"$A\r\n"}, {std::string("\x24\x24\x00\x07\x0A\x00\x0D", 7)}, {"\x90"}});
    EXPECT_EQ(SerialWrite(m_link, "$A\r\n", 0), 1);
    EXPECT_EQ(SerialWrite(m_link, "\x24\x24\x00\x07\x0A\x00\x0D", 7), 1);   // an explicit length sends NULs too
    EXPECT_EQ(SerialWrite(m_link, "", 0), 1);   // nothing to write: returns at once
    SerialPutByte(m_link, 0x90);
    EXPECT_TRUE(m_line.Done());
}

// Ten empty waits of about 100 ms, a wake byte after each only when asked; a
// byte ends the wait at once.
TEST_F(SerialOps, GetByteWaitsAboutASecondAndWakesOnlyWhenAsked)
{
    uint8_t byte = 0;
    m_line.Add({{"", "Z", 30ms}});
    EXPECT_EQ(SerialGetByte(m_link, byte, 0x55), 1);
    EXPECT_EQ(byte, 'Z');
    EXPECT_EQ(m_line.Elapsed(), 30ms);
    EXPECT_EQ(m_line.Sent(), "");

    const auto before = m_line.Elapsed();
    EXPECT_EQ(SerialGetByte(m_link, byte, 0), 0);
    EXPECT_GE(m_line.Elapsed() - before, 1000ms);
    EXPECT_LE(m_line.Elapsed() - before, 1100ms);
    EXPECT_EQ(m_line.Sent(), "");

    m_line.Add({{std::string(10, '\x55')}});
    EXPECT_EQ(SerialGetByte(m_link, byte, 0x55), 0);
    EXPECT_TRUE(m_line.Done());
}

TEST_F(SerialOps, SetBaudPurgesAndLineErrorsAreReported)
{
    m_line.Add({{"", "stale"}});
    m_line.Pause(10ms);
    EXPECT_EQ(SerialSetBaud(m_link, 115200), 1);
    EXPECT_EQ(m_line.Speeds(), std::vector<uint32_t> {115200});
    uint8_t buffer[8];
    EXPECT_EQ(SerialRead(m_link, buffer, 5), 0);   // purged

    m_line.RaiseLineErrors(platform::CE_BREAK | platform::CE_FRAME);
    EXPECT_EQ(SerialRead(m_link, buffer, 5), 0);
    m_line.RaiseLineErrors(0x11F);
    SerialCheckErrors(m_link);
    EXPECT_EQ(m_log.StatusLines(), (std::vector<std::wstring> {L"Comm error: 0x00000018:", L"CE_BREAK", L"CE_FRAME",
                                                              L"Comm error: 0x0000011F:", L"CE_BREAK", L"CE_FRAME",
                                                              L"CE_OVERRUN", L"CE_RXOVER", L"CE_RXPARITY",
                                                              L"CE_TXFULL"}));
}

// A line that went away ends every call at once; a peer that takes no byte
// ends a write at the silence limit instead of holding it for ever.
TEST_F(SerialOps, LinesThatGoAwayOrTakeNothing)
{
    m_line.Vanish();
    uint8_t byte = 0;
    uint8_t buffer[4];
    EXPECT_EQ(SerialGetByte(m_link, byte, 0), 0);
    EXPECT_EQ(SerialRead(m_link, buffer, 3), 0);
    EXPECT_EQ(SerialWrite(m_link, "x", 1), 0);
    SerialPutByte(m_link, 0x55);
    EXPECT_EQ(m_line.Elapsed(), 0ms);
    EXPECT_EQ(m_link.Ended(), Fault::LineGone);
    EXPECT_EQ(m_link.Failure(Fault::Silence, Phase::Program).device, "scripted");

    test::ScriptedLine stalled;
    stalled.Stall();
    const Link link {stalled, m_log, {}, stalled.Now() + 60s};   // a backstop, well past the limit
    EXPECT_EQ(SerialWrite(link, "record", 0), 0);
    EXPECT_GE(stalled.Elapsed(), kWriteSilence);
    EXPECT_LT(stalled.Elapsed(), kWriteSilence + 1s);

    // Writes that keep failing on a line not known to be gone: given up after about a second.
    test::ScriptedLine failing;
    failing.FailWrites();
    EXPECT_EQ(SerialWrite(Link {failing, m_log, {}}, "record", 0), 0);
    EXPECT_LE(failing.Elapsed(), 1500ms);
}

// "GPS1:" and "GPS2:" are the device folder's when there is one, else what
// the port map says, else the system's; a broken map is not used at all.
TEST(PortNames, DeviceFolderThenMapThenSystem)
{
    using platform::PortVia;
    test::TempDir dir;
    const std::string dev = dir.File("dev");
    const struct {
        const char* legend;
        std::string deviceDir;
        std::optional<std::string> map;   // none: no file
        std::string name, device;
        PortVia via;
        std::string problem;
    } rows[] = {
        {"the device folder first", "/run/d", "GPS1=/dev/ttyUSB3", "GPS1:", "/run/d/gps1", PortVia::DeviceFolder, ""},
        {"then the map", "", "# bench 7\n\n GPS1 = /dev/serial/by-id/usb-A \n", "GPS1:", "/dev/serial/by-id/usb-A",
         PortVia::Map, ""},
        {"a network port", "", "gps2=RFC2217://Bench7:04001", "gps2", "rfc2217://bench7:4001", PortVia::Map, ""},
        {"a name the map leaves out", "", "GPS1=/dev/ttyUSB3", "GPS2:", dev + "/gps2", PortVia::Default, ""},
        {"no map", "", std::nullopt, "GPS1:", dev + "/gps1", PortVia::Default, ""},
        {"a path as given", "", "GPS1=/dev/ttyUSB3", "/dev/ttyACM0", "/dev/ttyACM0", PortVia::Given, ""},
        {"another name", "", "GPS1=/dev/ttyUSB3\nGPS3=/dev/ttyUSB4", "GPS1:", "GPS1:", PortVia::Map,
         "line 2: 'GPS3' is not GPS1 or GPS2"},
        {"a relative path", "", "GPS1=ttyUSB3", "GPS1:", "GPS1:", PortVia::Map,
         "line 1: 'ttyUSB3' is neither a device path from / nor rfc2217://HOST:PORT"},
        {"a name twice", "", "GPS1=/dev/a\ngps1=/dev/b", "GPS1:", "GPS1:", PortVia::Map, "line 2: GPS1 a second time"},
        {"a bad network port", "", "GPS2=rfc2217://bench7", "GPS1:", "GPS1:", PortVia::Map, "line 1: rfc2217://bench7: "},
        {"no NAME=", "", "/dev/ttyUSB0", "GPS1:", "GPS1:", PortVia::Map, "line 1: not NAME=DEVICE"},
    };
    const std::string map = dir.File("ports.conf");
    for (const auto& row : rows) {
        std::filesystem::remove(map);
        if (row.map)
            std::ofstream(map) << *row.map;
        const auto route = platform::RoutePort(row.name, {row.deviceDir, map, dev, dir.File("sys")});
        EXPECT_EQ(route.device, row.device) << row.legend;
        EXPECT_EQ(route.via, row.via) << row.legend;
        EXPECT_EQ(route.problem.empty(), row.problem.empty()) << row.legend;
        EXPECT_NE(route.problem.find(row.problem), std::string::npos) << row.legend << ": " << route.problem;
    }
    // A folder or a FIFO where the map should be is refused, never read as an
    // empty map or waited on.
    for (const bool fifo : {false, true}) {
        std::filesystem::remove(map);
        ASSERT_EQ(fifo ? mkfifo(map.c_str(), 0600) : mkdir(map.c_str(), 0700), 0);
        const auto route = platform::RoutePort("GPS1:", {"", map, dev, dir.File("sys")});
        EXPECT_EQ(route.device, "GPS1:") << fifo;
        ASSERT_NE(route.problem.find("not a regular file"), std::string::npos) << fifo << ": " << route.problem;
    }
}

// A GPS name that does not open: the pane names the device it stood for and
// where that came from; the box keeps its one text.
TEST_F(SerialPortTest, MappedNamesSayWhereTheyLead)
{
    const std::string map = m_folder.File("ports.conf"), missing = m_folder.File("ttyUSB7");
    const platform::PortEnvironment where {"", map, m_folder.File("dev"), m_folder.File("sys")};
    std::ofstream(map) << "GPS1=" << m_folder.File("gps1") << "\nGPS2=" << missing << "\n";
    Outcome outcome;
    EXPECT_NE(SerialOpen("GPS1:", 4800, m_log, outcome, where), nullptr);
    EXPECT_EQ(SerialOpen("GPS2:", 4800, m_log, outcome, where), nullptr);
    EXPECT_EQ(outcome.device, missing);
    std::ofstream(map) << "GPS1=" << m_folder.File("gps1") << "\n";
    EXPECT_EQ(SerialOpen("GPS2:", 4800, m_log, outcome, where), nullptr);
    std::ofstream(map) << "GPS1=" << m_folder.File("gps1") << "\nGPS1=" << missing << "\n";
    EXPECT_EQ(SerialOpen("GPS1:", 4800, m_log, outcome, where), nullptr);
    const std::string lines = " (velmor-cli ports shows the lines that map each adapter)";
    EXPECT_EQ(m_log.PaneLines(),
              (std::vector<std::wstring> {
                  platform::Widen(missing + ": no such device; GPS2: is mapped to it in " + map + lines),
                  platform::Widen(m_folder.File("dev/gps2") + ": no such device; GPS2: stands for it while " + map
                                  + " has no line GPS2=DEVICE" + lines),
                  platform::Widen("the port map " + map + " is not used, line 2: GPS1 a second time; GPS1: opens "
                                  "nothing until it is mended")}));
    EXPECT_EQ(m_log.PortFailures(), (std::vector<Fault> {Fault::PortNotFound, Fault::PortNotFound, Fault::PortUnusable}));
}

// A file nobody may write, root included: for root a read-only bind mount in
// a mount namespace of this test process's own.
bool MakeReadOnly(const std::string& file)
{
    if (geteuid() != 0)
        return chmod(file.c_str(), 0444) == 0;
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
           && mount(file.c_str(), file.c_str(), nullptr, MS_BIND, nullptr) == 0
           && mount(nullptr, file.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

// An FTDI adapter's latency timer is set to 1 ms on open; where it cannot be,
// the pane says so once, with the fix. The board's pseudo-terminal plays the
// adapter in a sysfs tree of the test's own.
TEST_F(SerialPortTest, FtdiLatencyTimerLoweredOrAdvisedOnce)
{
    const std::string pts = std::filesystem::canonical(m_folder.File("gps1")).filename();
    const std::string device = m_folder.File("sys/class/tty/" + pts + "/device"), timer = device + "/latency_timer";
    std::filesystem::create_directories(device);
    const platform::PortEnvironment where {m_folder.Path(), "", "/dev", m_folder.File("sys")};
    const struct {
        std::string driver, timer;
        bool readOnly;
        int after;
    } rows[] = {{"ftdi_sio", "16", false, 1}, {"ftdi_sio", "1", false, 1}, {"cdc_acm", "16", false, 16},
                {"ftdi_sio", "16", true, 16}};
    for (const auto& row : rows) {
        std::filesystem::remove(device + "/driver");
        std::filesystem::create_symlink("../../bus/usb-serial/drivers/" + row.driver, device + "/driver");
        std::ofstream(timer) << row.timer << "\n";
        ASSERT_TRUE(!row.readOnly || MakeReadOnly(timer)) << std::strerror(errno);
        m_log.Reset();
        Outcome outcome;
        ASSERT_NE(SerialOpen("GPS1:", 4800, m_log, outcome, where), nullptr) << row.driver << " " << row.timer;
        EXPECT_EQ(platform::ReadNumberFile(timer), row.after) << row.driver << " " << row.timer;
        const std::vector<std::wstring> advice {platform::Widen(
            m_folder.File("gps1") + ": the FTDI adapter's latency timer is 16 ms and could not be set to 1 ms, so "
            "every answer comes late; until it is unplugged: echo 1 | sudo tee " + timer)};
        EXPECT_EQ(m_log.PaneLines(), row.readOnly ? advice : std::vector<std::wstring> {})
            << row.driver << " " << row.timer;
    }
    geteuid() == 0 ? umount(timer.c_str()) : chmod(timer.c_str(), 0644);
}

} // namespace
} // namespace velmor
