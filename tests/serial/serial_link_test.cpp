// The termios port against a pseudo-terminal, and the serial operations'
// rules on a scripted line.
#include "loader/serial/serial_link.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tests/support/device_folder.h"
#include "tests/support/log_recorder.h"
#include "tests/support/pty_peer.h"
#include "tests/support/scripted_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
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
}

TEST(DeviceNames, MapIntoTheDeviceFolder)
{
    test::DeviceFolder folder;
    EXPECT_EQ(platform::DevicePath("GPS1:"), folder.Path() + "/gps1");
    EXPECT_EQ(platform::DevicePath("GPS2:"), folder.Path() + "/gps2");
    EXPECT_EQ(platform::DevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(platform::DevicePath("dev/GPS1"), "dev/GPS1");
    unsetenv(platform::kDeviceDirVariable);   // the folder restores it
    EXPECT_EQ(platform::DevicePath("GPS1:"), "/dev/gps1");
}

} // namespace
} // namespace velmor
