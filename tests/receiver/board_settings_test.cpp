// The firmware's set sentences over a real pseudo-terminal: stream switches,
// port rates and the navigation reset, the position and parameter queries,
// and the sentences a receiver ignores.
#include "receiver/simulated_board.h"
#include "tests/receiver/board_client.h"
#include "tests/receiver/nmea_check.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace receiver {
namespace {

using test::BoardClient;
using test::Field;
using test::LineWithChecksum;
using test::ValidNmeaLine;
using namespace std::chrono_literals;

constexpr auto kQuiet = 100ms;   // five stream periods: long enough to see a burst that should not come
constexpr auto kArrival = 2s;
constexpr std::chrono::milliseconds kFastStream{20};
const std::string kPortQuery = "$PKVRQ,PRT\r\n";

int Count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The acknowledgement a set sentence (no line end) should get: itself under the reply talker.
std::string AckFor(const std::string& sentence)
{
    std::string body = sentence.substr(1);
    body.replace(0, 5, "PKVRR");
    return LineWithChecksum(body);
}

class BoardSettings : public ::testing::Test {
protected:
    BoardOptions Options(unsigned rate, bool stream, const std::string& name = "gps1") const
    {
        BoardOptions options;
        options.deviceDir = m_dir.Path();
        options.deviceName = name;
        options.commandRate = rate;
        options.stream = stream;
        options.streamPeriod = kFastStream;
        return options;
    }

    BoardClient& Start(const BoardOptions& options)
    {
        m_board = std::make_unique<SimulatedBoard>(options);
        m_board->Start();
        m_client = std::make_unique<BoardClient>(m_board->DevicePath(), options.commandRate);
        return *m_client;
    }

    // Sends a set sentence and returns the acknowledgement; what came after it stays collected.
    std::string Set(const std::string& sentence)
    {
        return m_client->Ask(sentence + "\r\n", "$PKVRR,");
    }

    // The parameter reply's fields after "PAR".
    std::string Parameters()
    {
        const std::string reply = m_client->Ask("$PKVRQ,PAR\r\n", "$PKVRR,PAR,");
        EXPECT_TRUE(ValidNmeaLine(reply)) << reply;
        const size_t start = reply.find("PAR,");
        return start == std::string::npos ? "" : reply.substr(start + 4, reply.find('*') - start - 4);
    }

    // Sends `bytes`; true when the board took them in and kept quiet.
    bool Unanswered(const std::string& bytes)
    {
        const size_t total = m_board->Transcript().ReceivedCount() + bytes.size();
        m_client->Send(bytes);
        if (!m_board->Transcript().WaitForBytes(total, kArrival))
            return false;
        m_client->ReadFor(kQuiet);
        return m_client->Take().empty();
    }

    static void ExpectSetup(const PortSetup& setup, unsigned rate, bool position, bool satellites)
    {
        EXPECT_EQ(setup.rate, rate);
        EXPECT_EQ(setup.positionSentences, position);
        EXPECT_EQ(setup.satelliteSentences, satellites);
    }

    velmor::test::TempDir m_dir;
    std::unique_ptr<SimulatedBoard> m_board;
    std::unique_ptr<BoardClient> m_client;
};

TEST_F(BoardSettings, StreamSwitchesStopAndStartTheGroupsOnTheLine)
{
    auto& client = Start(Options(9600, true));
    ASSERT_TRUE(client.ReadUntil([](const std::string& s) { return Count(s, "$GPRMC") >= 1; }, kArrival));

    const struct {
        const char* sentence;
        bool position;
        bool satellites;
    } steps[] = {
        {"$PKVRS,NME,ALL,A,OFF", false, false},
        {"$PKVRS,NME,POS,A,ON", true, false},
        {"$PKVRS,NME,SAT,A,ON", true, true},
        {"$PKVRS,NME,POS,A,OFF", false, true},
        {"$PKVRS,NME,SAT,A,OFF", false, false},
        {"$PKVRS,NME,ALL,A,ON", true, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.sentence);
        // Bursts already queued come before the acknowledgement; only what follows it counts.
        EXPECT_EQ(Set(step.sentence), AckFor(step.sentence));
        ExpectSetup(m_board->Port(ReceiverPort::A), 9600, step.position, step.satellites);
        if (!step.position && !step.satellites) {
            client.ReadFor(kQuiet);
            EXPECT_EQ(client.Take(), "");
            continue;
        }
        // The last line of a burst, twice: at least one whole burst after the switch.
        const std::string last = step.position ? "$GPRMC" : "$GPGSV,2,2";
        ASSERT_TRUE(client.ReadUntil([&](const std::string& s) { return Count(s, last) >= 2; }, kArrival));
        const std::string after = client.Take();
        for (const char* talker : {"$GPGGA", "$GPRMC"})
            EXPECT_EQ(Count(after, talker) > 0, step.position) << talker;
        for (const char* talker : {"$GPGSA", "$GPGSV"})
            EXPECT_EQ(Count(after, talker) > 0, step.satellites) << talker;
    }
    ExpectSetup(m_board->Port(ReceiverPort::B), PortSettings::kPortBStartRate, true, true);

    const auto exchanges = m_board->Transcript().Exchanges();
    ASSERT_EQ(exchanges.size(), std::size(steps));
    for (size_t i = 0; i < exchanges.size(); ++i) {
        EXPECT_EQ(exchanges[i].sentence, steps[i].sentence);
        EXPECT_TRUE(exchanges[i].setting);
        EXPECT_EQ(exchanges[i].reply, AckFor(steps[i].sentence));
    }
}

TEST_F(BoardSettings, SpeedCodeMovesTheLineOnceTheAcknowledgementIsOut)
{
    // Paced, so the acknowledgement takes its wire time at the old rate.
    auto options = Options(9600, false);
    options.pace = true;
    auto& client = Start(options);

    const struct {
        unsigned code;
        unsigned rate;
    } codes[] = {{8, 57600}, {4, 4800}, {9, 115200}, {5, 9600}, {7, 38400}, {6, 19200}, {6, 19200}};
    unsigned current = 9600;
    for (const auto& c : codes) {
        SCOPED_TRACE(c.code);
        const std::string sentence = "$PKVRS,SPD,A," + std::to_string(c.code);
        EXPECT_EQ(Set(sentence), AckFor(sentence)) << "the acknowledgement comes at the old rate";
        // The new rate is set before the acknowledgement reaches the wire.
        EXPECT_EQ(m_board->Port(ReceiverPort::A).rate, c.rate);
        EXPECT_EQ(m_board->CurrentRate(), c.rate);
        if (c.rate != current) {
            EXPECT_TRUE(Unanswered(kPortQuery)) << "still answered at " << current;
        }
        client.SetBaud(c.rate);
        const std::string reply = client.Ask(kPortQuery, "$PKVRR,PRT");
        EXPECT_TRUE(ValidNmeaLine(reply)) << reply;
        EXPECT_EQ(Field(reply, 2), std::to_string(c.rate));
        current = c.rate;
    }
    EXPECT_EQ(m_board->Port(ReceiverPort::B).rate, PortSettings::kPortBStartRate);
}

TEST_F(BoardSettings, PortBIsRememberedButLeavesTheLineAlone)
{
    auto& client = Start(Options(9600, true));
    EXPECT_EQ(Set("$PKVRS,NME,ALL,B,OFF"), AckFor("$PKVRS,NME,ALL,B,OFF"));
    EXPECT_EQ(Set("$PKVRS,SPD,B,6"), AckFor("$PKVRS,SPD,B,6"));
    EXPECT_EQ(Set("$PKVRS,NME,SAT,B,ON"), AckFor("$PKVRS,NME,SAT,B,ON"));
    ExpectSetup(m_board->Port(ReceiverPort::B), 19200, false, true);
    ExpectSetup(m_board->Port(ReceiverPort::A), 9600, true, true);

    // The line goes on streaming both groups at its own rate.
    client.Take();
    ASSERT_TRUE(client.ReadUntil([](const std::string& s) { return Count(s, "$GPRMC") >= 2; }, kArrival));
    EXPECT_GT(Count(client.Take(), "$GPGSV"), 0);
    EXPECT_EQ(Field(client.Ask(kPortQuery, "$PKVRR,PRT"), 2), "9600");
    EXPECT_EQ(Parameters(), "A,9600,ON,ON,B,19200,OFF,ON");
}

TEST_F(BoardSettings, PositionAndParameterReplies)
{
    auto& client = Start(Options(4800, true));
    ASSERT_TRUE(client.ReadUntil([](const std::string& s) { return s.find("$GPGSA") != std::string::npos; },
                                 kArrival));
    const std::string streamed = client.Take();
    const size_t ggaStart = streamed.find("$GPGGA");
    ASSERT_NE(ggaStart, std::string::npos) << streamed;
    const std::string gga = streamed.substr(ggaStart, streamed.find('\n', ggaStart) + 1 - ggaStart);

    const std::string position = client.Ask("$PKVRQ,POS\r\n", "$PKVRR,POS,");
    ASSERT_TRUE(ValidNmeaLine(position)) << position;
    EXPECT_EQ(Field(position, 2).size(), 9u) << "hhmmss.ss";
    EXPECT_EQ(Field(position, 3).size(), 6u) << "ddmmyy";
    // The fix the stream reports: latitude, N/S, longitude, E/W.
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(Field(position, 4 + i), Field(gga, 2 + i)) << i;
    EXPECT_EQ(Field(position, 8), Field(gga, 9)) << "altitude";

    EXPECT_EQ(Parameters(), "A,4800,ON,ON,B,4800,ON,ON");
    Set("$PKVRS,NME,ALL,A,OFF");
    Set("$PKVRS,SPD,B,9");
    Set("$PKVRS,NME,POS,B,OFF");
    EXPECT_EQ(Parameters(), "A,4800,OFF,OFF,B,115200,OFF,ON");

    Start(Options(38400, false, "quiet"));
    EXPECT_EQ(Parameters(), "A,38400,OFF,OFF,B,4800,OFF,OFF");
}

TEST_F(BoardSettings, UnknownAndMalformedSentencesAreIgnored)
{
    Start(Options(4800, false));
    const char* ignored[] = {
        "$PKVRS,XYZ,1",
        "$PKVRS,NME,GGA,A,ON",         // a single sentence is no group
        "$PKVRS,NME,POS,C,ON",
        "$PKVRS,NME,POS,A,YES",
        "$PKVRS,NME,POS,A",
        "$PKVRS,NME,POS,A,ON,1",
        "$PKVRS,NME,pos,a,on",         // the firmware reads upper case only
        "$PKVRS,NME,ALL,A,ON*00",      // wrong checksum
        "$PKVRS,SPD,A,3",
        "$PKVRS,SPD,A,10",
        "$PKVRS,SPD,A,",
        "$PKVRS,SPD,A,8x",
        "$PKVRS,SPD,C,8",
        "$PKVRS,SPD,A,9600",           // a rate, not its code
        "$PKVRQ,NME,ALL,A,ON",         // a query talker
        "$PXXXX,NME,ALL,A,ON",
        "$PKVRQ,ZZZ",
    };
    for (const char* sentence : ignored) {
        SCOPED_TRACE(sentence);
        EXPECT_TRUE(Unanswered(sentence + std::string("\r\n")));
    }
    ExpectSetup(m_board->Port(ReceiverPort::A), 4800, false, false);
    ExpectSetup(m_board->Port(ReceiverPort::B), PortSettings::kPortBStartRate, false, false);
    for (const auto& exchange : m_board->Transcript().Exchanges())
        EXPECT_FALSE(exchange.setting) << exchange.sentence;

    // A setting with a good checksum is taken.
    EXPECT_EQ(m_client->Ask(LineWithChecksum("PKVRS,NME,ALL,A,ON"), "$PKVRR,"), AckFor("$PKVRS,NME,ALL,A,ON"));

    // The resident loader knows no set sentences.
    auto pfl = Options(4800, false, "pfl");
    pfl.mode = BoardMode::Pfl;
    auto& client = Start(pfl);
    client.SetBaud(SimulatedBoard::kPflRate);
    EXPECT_TRUE(Unanswered("$PKVRS,NME,ALL,A,ON\r\n"));
    EXPECT_TRUE(Unanswered("$PKVRS,SPD,A,9\r\n"));
    ExpectSetup(m_board->Port(ReceiverPort::A), 4800, false, false);
}

TEST_F(BoardSettings, NavigationResetIsAcknowledgedAndChangesNoSetting)
{
    auto& client = Start(Options(57600, true));
    for (const char* sentence : {"$PKVRS,INI,8,8,,,1", "$PKVRS,INI,8,4,,,5"}) {
        SCOPED_TRACE(sentence);
        EXPECT_EQ(Set(sentence), LineWithChecksum("PKVRR,INI"));
    }
    ExpectSetup(m_board->Port(ReceiverPort::A), 57600, true, true);
    ExpectSetup(m_board->Port(ReceiverPort::B), PortSettings::kPortBStartRate, true, true);
    EXPECT_TRUE(client.ReadUntil([](const std::string& s) { return Count(s, "$GPRMC") >= 1; }, kArrival));
}

TEST_F(BoardSettings, SilentBoardTakesSettingsWithoutAWord)
{
    auto& client = Start(Options(4800, true));
    m_board->SetFault(BoardFault::Silence, true);
    client.Send("$PKVRS,NME,ALL,A,OFF\r\n$PKVRS,SPD,A,5\r\n");
    ASSERT_TRUE(m_board->Transcript().WaitForExchanges(2, kArrival));
    for (const auto& exchange : m_board->Transcript().Exchanges()) {
        EXPECT_TRUE(exchange.setting) << exchange.sentence;
        EXPECT_EQ(exchange.reply, "");
    }
    ExpectSetup(m_board->Port(ReceiverPort::A), 9600, false, false);

    m_board->SetFault(BoardFault::Silence, false);
    client.ReadFor(kQuiet);
    client.Take();
    client.SetBaud(9600);
    EXPECT_EQ(Field(client.Ask(kPortQuery, "$PKVRR,PRT"), 2), "9600");
    client.ReadFor(kQuiet);
    EXPECT_EQ(client.Take(), "") << "the stream stays off";
}

} // namespace
} // namespace receiver
