// Reply matching and parsing rules, on a scripted line.
#include "loader/serial/receiver_query.h"
#include "loader/upload/byte_codes.h"
#include "tests/support/log_recorder.h"
#include "tests/support/scripted_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace velmor {
namespace {

// A memory query and the receiver's answer.
test::ScriptedLine::Step Rdm(uint32_t address, uint32_t value)
{
    char query[40], reply[64];
    std::snprintf(query, sizeof query, "$PKVRQ,RDM,%X\r\n", address);
    std::snprintf(reply, sizeof reply, "$PKVRR,RDM,%X,%X\r\n", address, value);
    return {query, reply};
}

class ReceiverReply : public ::testing::Test {
protected:
    // The reply WaitReply finds in `bytes`, and what is left unread on the line.
    std::pair<std::string, std::string> Wait(const std::string& bytes, const char* prefix, bool strict)
    {
        test::ScriptedLine line({{"", bytes}});
        const Link link {line, m_log, {}};
        ReceiverQuery query(link);
        const char* reply = query.WaitReply(prefix, strict);
        uint8_t rest[2048] = {};
        SerialRead(link, rest, sizeof rest - 1);
        return {reply ? reply : "<none>", reinterpret_cast<char*>(rest)};
    }

    test::LogRecorder m_log;
};

TEST_F(ReceiverReply, LineMatching)
{
    struct Case {
        const char* legend;
        std::string bytes;
        const char* prefix;
        bool strict;
        std::string expected;
    } cases[] = {
        {"noise before the line", "\x91zz$PKVRR,PRT,4800*1A\r\n", "$PKVRR", false, "$PKVRR,PRT,4800*1A\r\n"},
        {"LF ends the line", "$PKVRR,X\n", "$PKVRR", false, "$PKVRR,X\n"},
        {"CR and any byte end the line", "$PKVRR,X\rZ-rest", "$PKVRR", false, "$PKVRR,X\rZ"},
        {"a broken prefix restarts the match", "$PKVRQ,PRT\r\n$PKVRR,1\r\n", "$PKVRR", false, "$PKVRR,1\r\n"},
        // The byte that breaks a match is dropped, not tried as the first prefix byte.
        {"the breaking byte is dropped", "$$PKVRR,1\r\n", "$PKVRR", false, "<none>"},
        {"strict: the first wrong byte ends the wait", "xA:PFL\r\n", "A:", true, "<none>"},
        {"strict: a match", "A:PFL\r\n", "A:", true, "A:PFL\r\n"},
        {"silence", "", "$PKVRR", false, "<none>"},
        {"a CR before the prefix is complete is not an end", "$PK\r\nVRR", "$PKVRR", false, "<none>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Wait(c.bytes, c.prefix, c.strict).first, c.expected) << c.legend;

    // A strict mismatch leaves the rest unread.
    EXPECT_EQ(Wait("xA:PFL\r\n", "A:", true), std::make_pair(std::string("<none>"), std::string("A:PFL\r\n")));
    // An overlong line restarts the match.
    const std::string longLine = "$PKVRR," + std::string(1100, 'x') + "\r\n";
    EXPECT_EQ(Wait(longLine + "$PKVRR,OK\r\n", "$PKVRR", false).first, "$PKVRR,OK\r\n");
}

TEST_F(ReceiverReply, MemoryWords)
{
    struct Case {
        const char* legend;
        bool pfl;
        std::string reply;
        uint32_t expected;
    } cases[] = {
        {"RDM reply", false, "$PKVRR,RDM,10000020,10000000*5A\r\n", 0x10000000},
        {"RDM lower-case hex", false, "$PKVRR,RDM,10000020,e59ff018\r\n", 0xE59FF018},
        {"RDM with noise first", false, "$GPGGA,1*00\r\n$PKVRR,RDM,10000020,00000001\r\n", 1},
        {"RDM erased word", false, "$PKVRR,RDM,10000020,FFFFFFFF\r\n", kNoWord},
        {"RDM echo of another address", false, "$PKVRR,RDM,10000024,10000000\r\n", kNoWord},
        {"RDM echo without a value", false, "$PKVRR,RDM,10000020\r\n", kNoWord},
        {"RDM silence", false, "", kNoWord},
        {"PFL colon", true, "R10000020:10000000\r\n", 0x10000000},
        {"PFL comma", true, "R10000020,10000000\r\n", 0x10000000},
        {"PFL wrong echo", true, "R10000000:10000000\r\n", kNoWord},
        {"PFL leading noise is strict", true, "xR10000020:10000000\r\n", kNoWord},
        {"PFL echo beyond 32 bits", true, "R110000020:5\r\n", kNoWord},
    };
    for (const auto& c : cases) {
        test::ScriptedLine line({{c.pfl ? "$R10000020\r\n" : "$PKVRQ,RDM,10000020\r\n", c.reply}});
        const Link link {line, m_log, {}};
        ReceiverQuery query(link);
        query.SetPflFlag(c.pfl);
        EXPECT_EQ(query.ReadReceiverWord(0x10000020), c.expected) << c.legend;
        // Only an answer with a value counts: an erased word is one, silence is not.
        EXPECT_EQ(query.LastAnswered(), c.expected != kNoWord || std::string(c.legend) == "RDM erased word")
            << c.legend;
        EXPECT_TRUE(line.Done()) << c.legend;
    }
}

// With nothing answering, every rate of the scan is tried in order; then one
// SYNC_CODE at 19200 asks whether a loader an unfinished upload left running
// is there. Only its SYNC_CODE counts: other bytes are no loader.
TEST_F(ReceiverReply, SilentLineIsScannedInOrderThenALoaderIsAskedFor)
{
    const std::string sync(1, char(SYNC_CODE));
    const struct {
        const char* legend;
        std::string answer;   // to the SYNC_CODE
        bool loader;
    } rows[] = {{"silence", "", false}, {"a loader", sync, true}, {"chatter", "D$", false}};
    for (const auto& row : rows) {
        std::vector<test::ScriptedLine::Step> script {{"$A\r\n"}};
        for (int i = 0; i < 5; ++i)
            script.push_back({"$PKVRQ,PRT\r\n"});
        script.push_back({sync, row.answer});
        test::ScriptedLine line(script);
        const Link link {line, m_log, {}};
        ReceiverQuery query(link);
        ReceiverInfo info;
        EXPECT_EQ(query.DetectReceiver(info), 0) << row.legend;
        EXPECT_FALSE(info.connected) << row.legend;
        EXPECT_EQ(info.loaderOnly, row.loader) << row.legend;
        EXPECT_TRUE(line.Done()) << row.legend;
        EXPECT_EQ(line.Speeds(), (std::vector<uint32_t> {19200, 4800, 57600, 19200, 115200, 9600, 19200})) << row.legend;
    }
}

// A section is there only when its header's end lies strictly between its
// start and the limit; otherwise nothing more is asked.
TEST_F(ReceiverReply, ProbeSectionBounds)
{
    const struct {
        const char* legend;
        uint32_t end;
        int found;
    } rows[] = {{"end at the start", 0x10004000, 0}, {"end at the limit", 0x10104000, 0}, {"end inside", 0x10004100, 1}};
    for (const auto& row : rows) {
        test::ScriptedLine line({Rdm(0x10004020, 0x10004000), Rdm(0x10004024, row.end)});
        if (row.found)
            line.Add({Rdm(row.end, 0xABCD), {"$PKVRQ,RID\r\n", "$PKVRR,RID,VMS-1,V9*00\r\n"}});
        const Link link {line, m_log, {}};
        ReceiverQuery query(link);
        SectionInfo section;
        EXPECT_EQ(query.ProbeSection(0x10004000, 0x10104000, section), row.found) << row.legend;
        EXPECT_TRUE(line.Done()) << row.legend;
        EXPECT_EQ(section.length, row.found ? 0x100u : 0u) << row.legend;
        EXPECT_STREQ(section.text, row.found ? "V9" : "") << row.legend;   // the version stops at the '*'

    }
}

// The PFLD's version is what follows the last "v<digit>" among the first 31 of
// the 36 bytes that end with its checksum word, up to a blank or control byte.
TEST_F(ReceiverReply, PfldVersionText)
{
    const struct {
        const char* legend;
        std::string bytes;
        const char* text;
        int major, minor;
    } rows[] = {
        {"none", "PFLD build 107", "", 0, 0},
        {"the last v wins", "v1.05 PFLD v1.07", "1.07", 1, 7},
        {"cut at a blank", "PFLD v2.15 beta", "2.15", 2, 15},
        {"a v without a digit", "PFLD v. v3-1", "3-1", 3, 1},
        {"a v past the scanned bytes", std::string(31, 'x') + "v9", "", 0, 0},
    };
    for (const auto& row : rows) {
        std::string bytes = row.bytes;
        bytes.resize(36, '\0');
        uint32_t words[9] = {};
        for (size_t i = 0; i < bytes.size(); ++i)
            words[i / 4] |= uint32_t(uint8_t(bytes[i])) << (8 * (i % 4));
        test::ScriptedLine line({Rdm(0x10000020, 0x10000000), Rdm(0x10000024, 0x10002000), Rdm(0x10002000, words[8])});
        for (uint32_t i = 0; i < 9; ++i)
            line.Add({Rdm(0x10001FE0 + 4 * i, words[i])});
        const Link link {line, m_log, {}};
        ReceiverQuery query(link);
        SectionInfo section;
        EXPECT_EQ(query.ProbeSection(0x10000000, 0x10004000, section), 1) << row.legend;
        EXPECT_TRUE(line.Done()) << row.legend;
        EXPECT_STREQ(section.text, row.text) << row.legend;
        EXPECT_EQ(section.major, row.major) << row.legend;
        EXPECT_EQ(section.minor, row.minor) << row.legend;
    }
}

TEST(ReceiverReport, ReplyText)
{
    test::LogRecorder log;
    LogReplyText(log, "$VER,SFLD 2.04 sim\r\n");
    LogReplyText(log, "$VER,");          // five characters: ignored
    LogReplyText(log, "$VER,\x01tail");  // cut to "$VER,": nothing left after the skip
    LogReplyText(log, "$VE\x01long text");
    LogReplyText(log, ("$VER," + std::string(400, 'a')).c_str());
    const auto lines = log.PaneLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], L"SFLD 2.04 sim.");
    EXPECT_EQ(lines[1], L".");
    EXPECT_EQ(lines[2], L".");
    EXPECT_EQ(lines[3], std::wstring(254, L'a') + L".");

    log.Reset();
    LogNarrow(log, std::string(300, 'b').c_str());
    ASSERT_EQ(log.PaneLines().size(), 1u);
    EXPECT_EQ(log.PaneLines()[0].size(), 199u);
}

} // namespace
} // namespace velmor
