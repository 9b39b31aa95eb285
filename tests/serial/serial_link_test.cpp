// The serial operations' rules, against a scripted far end on a pseudo-terminal.
#include "loader/serial/serial_link.h"
#include "tests/support/device_folder.h"
#include "tests/support/log_recorder.h"
#include "tests/support/pty_peer.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace velmor {
namespace {

using namespace std::chrono_literals;

class SerialLink : public ::testing::Test {
protected:
    PortHandle OpenGps1(uint32_t baud = 4800)
    {
        PortHandle port = SerialOpen(L"GPS1:", baud);
        EXPECT_NE(port, kInvalidPort);
        return port;
    }

    test::DeviceFolder m_folder;
    test::PtyPeer m_peer {m_folder.Path(), "gps1"};
    test::LogRecorder m_log;
};

TEST_F(SerialLink, OpenChecksTheRateAndReportsFailures)
{
    for (uint32_t baud : {0u, 12345u, 230400u}) {
        EXPECT_EQ(SerialOpen(L"GPS1:", baud), kInvalidPort) << baud;
    }
    EXPECT_EQ(SerialOpen(L"GPS2:", 4800), kInvalidPort);   // no such device
    const auto messages = m_log.Messages();
    ASSERT_EQ(messages.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(messages[i].text, L"Incorrect baud.");
        EXPECT_EQ(messages[i].caption, L"Error");
    }
    EXPECT_EQ(messages[3].text, L"Can not open serial port 1.");
    // The box keeps its one text; the pane says why.
    EXPECT_TRUE(m_log.HasPaneLine(platform::Widen(m_folder.Path() + "/gps2: no such device")));

    // 38400 is accepted although the loader never asks for it.
    PortHandle port = OpenGps1(38400);
    EXPECT_EQ(m_peer.Speed(), 38400u);
    // No sharing: the port is refused while it is open, also to programs that
    // take no lock (the tty's exclusive mode).
    EXPECT_EQ(SerialOpen(L"GPS1:", 4800), kInvalidPort);
    EXPECT_TRUE(m_log.HasPaneLine(platform::Widen(m_folder.Path() + "/gps1: busy, another program holds it")));
    int exclusive = 0;
    EXPECT_EQ(ioctl(port, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    SerialClose(port);
    EXPECT_EQ(port, kInvalidPort);
    SerialClose(port);   // already closed: nothing happens
    port = OpenGps1();
    SerialClose(port);
}

TEST_F(SerialLink, OpenRefusesWhatIsNoTerminal)
{
    FILE* f = std::fopen((m_folder.Path() + "/gps2").c_str(), "w");
    std::fclose(f);
    EXPECT_EQ(SerialOpen(L"GPS2:", 4800), kInvalidPort);
    EXPECT_TRUE(m_log.HasStatusLine(L"SetCommState return error"));
}

TEST_F(SerialLink, WritesExactBytes)
{
    PortHandle port = OpenGps1();
    EXPECT_EQ(SerialWrite(port, "$A\r\n", 0), 1);
    EXPECT_EQ(m_peer.ReadAll(), "$A\r\n");

    // An explicit length sends NULs too.
    const uint8_t bootRequest[7] = {0x24, 0x24, 0x00, 0x07, 0x0A, 0x00, 0x0D};
    EXPECT_EQ(SerialWrite(port, bootRequest, 7), 1);
    EXPECT_EQ(m_peer.ReadAll(), std::string("\x24\x24\x00\x07\x0A\x00\x0D", 7));

    EXPECT_EQ(SerialWrite(port, "", 0), 1);   // nothing to write: returns at once
    SerialPutByte(port, 0x90);
    EXPECT_EQ(m_peer.ReadAll(), "\x90");
    SerialClose(port);
}

TEST_F(SerialLink, ReadStoresNulAfterTheBytes)
{
    PortHandle port = OpenGps1();
    uint8_t buffer[8];
    std::memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(SerialRead(port, buffer, 5), 0);
    EXPECT_EQ(buffer[0], 0xAA);   // nothing came: buffer untouched

    m_peer.Write("hello world");
    EXPECT_EQ(SerialRead(port, buffer, 5), 5);
    EXPECT_EQ(std::memcmp(buffer, "hello", 5), 0);
    EXPECT_EQ(buffer[5], 0);
    EXPECT_EQ(buffer[6], 0xAA);
    EXPECT_EQ(SerialRead(port, buffer, 7), 6);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), " world");
    SerialClose(port);
}

TEST_F(SerialLink, GetByteWakesOnlyWhenAsked)
{
    PortHandle port = OpenGps1();
    uint8_t byte = 0;
    m_peer.Write("Z");
    EXPECT_EQ(SerialGetByte(port, byte, 0x55), 1);
    EXPECT_EQ(byte, 'Z');
    EXPECT_EQ(m_peer.ReadAll(), "");   // a byte was there: no wake byte

    EXPECT_EQ(SerialGetByte(port, byte, 0), 0);
    EXPECT_EQ(m_peer.ReadAll(), "");

    EXPECT_EQ(SerialGetByte(port, byte, 0x55), 0);
    EXPECT_EQ(m_peer.ReadAll(), std::string(10, '\x55'));
    SerialClose(port);
}

TEST_F(SerialLink, SetBaudLeavesTheRateToTheDriver)
{
    PortHandle port = OpenGps1();
    m_peer.Write("stale");
    EXPECT_EQ(SerialSetBaud(port, 115200), 1);
    EXPECT_EQ(m_peer.Speed(), 115200u);
    uint8_t buffer[8];
    EXPECT_EQ(SerialRead(port, buffer, 5), 0);   // purged

    EXPECT_EQ(SerialSetBaud(port, 230400), 1);   // not in the open list, but the driver takes it
    EXPECT_EQ(m_peer.Speed(), 230400u);
    EXPECT_EQ(SerialSetBaud(port, 12345), 0);
    EXPECT_EQ(m_peer.Speed(), 230400u);
    SerialClose(port);
}

TEST_F(SerialLink, VanishedPortEndsReadsWithNothing)
{
    PortHandle port = OpenGps1();
    m_peer.Hangup();
    uint8_t byte = 0;
    uint8_t buffer[4];
    EXPECT_EQ(SerialGetByte(port, byte, 0), 0);
    EXPECT_EQ(SerialRead(port, buffer, 3), 0);
    EXPECT_EQ(SerialCheckErrors(port), 0u);
    SerialClose(port);
}

TEST(LineErrors, ReportedInFixedOrder)
{
    test::LogRecorder log;
    ReportLineErrors(platform::CE_BREAK | platform::CE_FRAME);
    EXPECT_EQ(log.StatusLines(), (std::vector<std::wstring> {L"Comm error: 0x00000018:", L"CE_BREAK", L"CE_FRAME"}));

    log.Reset();
    ReportLineErrors(0x11F);
    EXPECT_EQ(log.StatusLines(), (std::vector<std::wstring> {L"Comm error: 0x0000011F:", L"CE_BREAK", L"CE_FRAME",
                                                            L"CE_OVERRUN", L"CE_RXOVER", L"CE_RXPARITY", L"CE_TXFULL"}));
    log.Reset();
    ReportLineErrors(0);
    EXPECT_TRUE(log.StatusLines().empty());
}

TEST(OpenFailures, SayWhatToDo)
{
    test::DeviceFolder folder;
    const std::string device = folder.Path() + "/gps1";
    std::fclose(std::fopen(device.c_str(), "w"));
    struct stat info {};
    ASSERT_EQ(stat(device.c_str(), &info), 0);
    const std::string group = getgrgid(info.st_gid)->gr_name;
    EXPECT_EQ(platform::DescribeOpenFailure(EACCES, device),
              device + ": permission denied (the device belongs to group '" + group + "'; add the user to it)");
    EXPECT_EQ(platform::DescribeOpenFailure(EIO, device), device + ": Input/output error");
}

TEST(DeviceNames, MapIntoTheDeviceFolder)
{
    test::DeviceFolder folder;
    EXPECT_EQ(platform::DevicePath("GPS1:"), folder.Path() + "/gps1");
    EXPECT_EQ(platform::DevicePath("GPS2:"), folder.Path() + "/gps2");
    EXPECT_EQ(platform::DevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    unsetenv(platform::kDeviceDirVariable);
    EXPECT_EQ(platform::DevicePath("GPS1:"), "/dev/gps1");
}

} // namespace
} // namespace velmor
