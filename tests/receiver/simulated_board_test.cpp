// The simulated board over a real pseudo-terminal: speeds, queries, PFL mode,
// the position stream, fault switches, pacing and the transcript.
#include "receiver/sample_image.h"
#include "receiver/simulated_board.h"
#include "tests/receiver/board_client.h"
#include "tests/receiver/nmea_check.h"
#include "tests/support/image_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace receiver {
namespace {

using test::BoardClient;
using test::Field;
using test::ValidNmeaLine;
using namespace std::chrono_literals;

constexpr auto kQuiet = 100ms;            // how long "nothing more arrives" is watched
constexpr auto kArrival = 2s;             // bound on the board taking bytes in
constexpr std::chrono::milliseconds kFastStream{20};

std::string Hex(uint32_t value, const char* format = "%X")
{
    char text[12];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

class Board : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_imageOptions.fwVersion = "R7.42x";
        m_imageOptions.fwSize = 0x8000;
        m_image = MakeSampleImage(m_imageOptions);
        velmor::test::WriteFile(FlashPath(), m_image);
    }

    std::string FlashPath() const { return m_dir.File("flash.bin"); }

    BoardOptions Options(unsigned rate, const std::string& name = "gps1") const
    {
        BoardOptions options;
        options.deviceDir = m_dir.Path();
        options.deviceName = name;
        options.flashImage = FlashPath();
        options.commandRate = rate;
        options.stream = false;
        return options;
    }

    SimulatedBoard& Start(const BoardOptions& options)
    {
        m_boards.push_back(std::make_unique<SimulatedBoard>(options));
        m_boards.back()->Start();
        return *m_boards.back();
    }

    uint32_t ImageWord(uint32_t address) const
    {
        const size_t k = address - kFlashBase;
        return uint32_t(m_image[k]) | uint32_t(m_image[k + 1]) << 8 | uint32_t(m_image[k + 2]) << 16
            | uint32_t(m_image[k + 3]) << 24;
    }

    // Once the board has taken `total` bytes in all, anything it answers is on its way.
    static void ExpectNoAnswer(SimulatedBoard& board, BoardClient& client, size_t total)
    {
        ASSERT_TRUE(board.Transcript().WaitForBytes(total, kArrival));
        client.ReadFor(kQuiet);
        EXPECT_EQ(client.Take(), "");
    }

    velmor::test::TempDir m_dir;
    SampleImageOptions m_imageOptions;
    std::vector<uint8_t> m_image;
    std::vector<std::unique_ptr<SimulatedBoard>> m_boards;
};

const std::string kPortQuery = "$PKVRQ,PRT\r\n";

TEST_F(Board, AnswersOnlyAtItsOwnRate)
{
    const unsigned boardRates[] = {4800, 9600, 19200, 38400, 57600, 115200};
    const unsigned clientRates[] = {4800, 57600, 19200, 115200, 9600, 38400};
    for (unsigned rate : boardRates) {
        SCOPED_TRACE(rate);
        auto& board = Start(Options(rate, "gps" + std::to_string(rate)));
        BoardClient client(board.DevicePath(), rate);
        const std::string reply = client.Ask(kPortQuery, "$PKVRR");
        EXPECT_TRUE(ValidNmeaLine(reply)) << reply;
        EXPECT_EQ(Field(reply, 2), std::to_string(rate));

        size_t sent = kPortQuery.size();
        for (unsigned other : clientRates) {
            if (other == rate)
                continue;
            SCOPED_TRACE(other);
            client.SetBaud(other);
            client.Send(kPortQuery);
            sent += kPortQuery.size();
            ExpectNoAnswer(board, client, sent);
            const auto runs = board.Transcript().Received();
            EXPECT_EQ(runs.back().baud, other);
            EXPECT_FALSE(runs.back().understood);
        }
    }
}

TEST_F(Board, SendsNoiseToAClientAtAnotherRate)
{
    auto options = Options(4800);
    options.stream = true;
    options.streamPeriod = kFastStream;
    auto& board = Start(options);
    BoardClient client(board.DevicePath(), 38400);
    ASSERT_TRUE(client.ReadUntil([](const std::string& s) { return s.size() >= 100; }, kArrival));
    for (unsigned char c : client.Take())
        ASSERT_GE(c, 0xC0) << "noise must never look like sentence text or a loader code";

    client.SetBaud(4800);
    ASSERT_TRUE(client.ReadUntil([](const std::string& s) { return s.find("$GPRMC") != std::string::npos; }, kArrival));
    EXPECT_EQ(board.ClientBaud(), 4800u);
}


TEST_F(Board, SentenceFormsAcceptedAndIgnored)
{
    auto& board = Start(Options(9600));
    BoardClient client(board.DevicePath(), 9600);
    // With a checksum, lower-case hex, and after line noise: all answered.
    EXPECT_NE(client.Ask("$PKVRQ,PRT*34\r\n", "$PKVRR"), "");
    EXPECT_NE(client.Ask("$PKVRQ,RDM,10000020*16\r\n", "$PKVRR"), "");
    EXPECT_EQ(Field(client.Ask("$PKVRQ,RDM,1000002c\r\n", "$PKVRR"), 2), "1000002C");
    EXPECT_NE(client.Ask("\x01garbage$PKVRQ,PRT\r\n", "$PKVRR"), "");

    const std::string ignored[] = {
        "$PKVRQ,PRT*00\r\n",          // wrong checksum
        "$PKVRS,PRT,9600\r\n",        // no setting the firmware knows
        "$PKVRQ,XYZ\r\n",
        "$PKVRQ,RDM,10000G00\r\n",
        "$PKVRQ,RDM\r\n",
    };
    size_t sent = board.Transcript().ReceivedCount();
    for (const auto& sentence : ignored) {
        SCOPED_TRACE(sentence);
        client.Send(sentence);
        sent += sentence.size();
        ExpectNoAnswer(board, client, sent);
    }
}


TEST_F(Board, StreamLinesAreValidAndNeverSplitAReply)
{
    auto options = Options(115200);
    options.stream = true;
    options.streamPeriod = std::chrono::milliseconds(2);
    auto& board = Start(options);
    BoardClient client(board.DevicePath(), 115200);

    // One query at a time, until replies and bursts have had many chances to meet.
    const auto count = [](const std::string& text, const char* what) {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    };
    constexpr int kMinQueries = 100;
    constexpr int kMinBursts = 5;
    constexpr int kMaxQueries = 4000;
    int asked = 0;
    std::string seen;
    while (asked < kMaxQueries && (asked < kMinQueries || count(seen, "$GPGGA") < kMinBursts)) {
        client.Send("$PKVRQ,RDM," + Hex(kFlashBase + 4 * asked) + "\r\n");
        ++asked;
        ASSERT_TRUE(client.ReadUntil([&](const std::string& s) { seen = s; return count(s, "$PKVRR") == asked; },
                                     kArrival));
    }
    ASSERT_TRUE(client.ReadUntil([](const std::string& s) { return s.back() == '\n'; }, kArrival));

    const std::string all = client.Take();
    int answered = 0;
    std::map<std::string, int> streamed;
    for (size_t at = 0; at < all.size();) {
        const size_t end = all.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        const std::string line = all.substr(at, end + 1 - at);
        ASSERT_TRUE(ValidNmeaLine(line)) << line;
        if (Field(line, 0) == "PKVRR") {
            EXPECT_EQ(Field(line, 2), Hex(kFlashBase + 4 * answered));
            EXPECT_EQ(Field(line, 3), Hex(ImageWord(kFlashBase + 4 * answered), "%08X"));
            ++answered;
        } else {
            ++streamed[Field(line, 0)];
        }
        at = end + 1;
    }
    EXPECT_EQ(answered, asked);
    for (const char* talker : {"GPGGA", "GPGSA", "GPGSV", "GPRMC"})
        EXPECT_GE(streamed[talker], kMinBursts) << talker;
}

TEST_F(Board, PflModeAnswersShortFormsAt19200Only)
{
    for (bool comma : {false, true}) {
        auto options = Options(4800, comma ? "comma" : "colon");
        options.mode = BoardMode::Pfl;
        options.pflComma = comma;
        options.stream = true;   // the resident loader streams nothing anyway
        options.streamPeriod = kFastStream;
        auto& board = Start(options);
        BoardClient client(board.DevicePath(), 4800);
        client.Send("$A\r\n");
        ExpectNoAnswer(board, client, 4);

        client.SetBaud(19200);
        EXPECT_EQ(client.Ask("$A\r\n", "A"), "A:PFL\r\n");
        const std::string separator = comma ? "," : ":";
        EXPECT_EQ(client.Ask("$R10000020\r\n", "R"), "R10000020" + separator + "10000000\r\n");
        EXPECT_EQ(client.Ask("$R10004024\r\n", "R"),
                  "R10004024" + separator + Hex(ImageWord(0x10004024), "%08X") + "\r\n");
        EXPECT_EQ(client.Ask("$PKVRQ,PRT\r\n", "$", kQuiet), "");
        EXPECT_EQ(client.Take(), "");
    }
}





TEST_F(Board, PacedBytesTakeTheirWireTime)
{
    constexpr unsigned kRate = 57600;
    auto options = Options(kRate);
    options.pace = true;
    auto& board = Start(options);
    BoardClient client(board.DevicePath(), kRate);

    std::string queries;
    for (int i = 0; i < 40; ++i)
        queries += "$PKVRQ,RDM," + Hex(kFlashBase + 4 * i) + "\r\n";
    const auto wireTime = [](size_t bytes) { return std::chrono::microseconds(bytes * 10 * 1000000 / kRate); };
    constexpr auto kSlack = 3ms;   // the line may start with a little credit

    const auto start = std::chrono::steady_clock::now();
    client.Send(queries);
    ASSERT_TRUE(board.Transcript().WaitForBytes(queries.size(), kArrival));
    const auto received = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.ReadUntil([](const std::string& s) { return std::count(s.begin(), s.end(), '\n') == 40; },
                                 kArrival));
    const auto answered = std::chrono::steady_clock::now();

    EXPECT_GE(received - start, wireTime(queries.size()) - kSlack);
    EXPECT_GE(answered - start, wireTime(client.Take().size()) - kSlack);
}

TEST_F(Board, StopRemovesTheDeviceAndSavesFlash)
{
    auto& board = Start(Options(4800));
    const std::string device = board.DevicePath();
    EXPECT_EQ(board.ReadFlash(kFlashBase, 0x40), std::vector<uint8_t>(m_image.begin(), m_image.begin() + 0x40));
    board.SaveFlash(m_dir.File("saved.bin"));
    EXPECT_EQ(velmor::test::ReadFile(m_dir.File("saved.bin")), m_image);

    board.Stop();
    EXPECT_NE(::access(device.c_str(), F_OK), 0);
    EXPECT_THROW(Start(Options(230400, "odd")), std::invalid_argument);
}

} // namespace
} // namespace receiver
