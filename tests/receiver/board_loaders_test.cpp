// The board's loaders over a real pseudo-terminal, driven by a raw client with
// its own frame encoder: the boot request, the PFLD's polls and the SFLD
// upload, the SFLD's commands, erase and programming, and the one-shot faults.
#include "loader/upload/byte_codes.h"
#include "receiver/sample_image.h"
#include "receiver/sfld_layout.h"
#include "receiver/simulated_board.h"
#include "tests/receiver/board_client.h"
#include "tests/support/image_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace receiver {
namespace {

using namespace velmor;   // the byte codes
using test::BoardClient;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr auto kArrival = 2s;
constexpr auto kQuiet = 100ms;
constexpr std::chrono::milliseconds kNoRepeats{60000};   // repeats would only blur exact replies
const std::string kSync(1, char(SYNC_CODE));
const std::string kRecWait(1, char(REC_WAIT_CODE));

std::string Code(uint8_t code)
{
    return std::string(1, char(code));
}

bool AllRecWait(const std::string& text)
{
    return !text.empty() && text.find_first_not_of(kRecWait) == std::string::npos;
}

// The test's own encoder: big-endian words, padding, XOR checksum.
std::string Frame(uint32_t address, const Bytes& data)
{
    Bytes payload = {uint8_t(address >> 24), uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address)};
    payload.insert(payload.end(), data.begin(), data.end());
    if (payload.size() % 2)
        payload.push_back(0);
    uint16_t sum = 0;
    for (size_t i = 0; i < payload.size(); i += 2)
        sum ^= uint16_t(payload[i] << 8 | payload[i + 1]);
    const size_t words = payload.size() / 2;
    std::string frame = {'[', char(words >> 8), char(words)};
    frame.append(payload.begin(), payload.end());
    return frame + char(sum >> 8) + char(sum) + ']';
}

std::string RangeFrame(uint32_t start, uint32_t end)
{
    return Frame(start, {uint8_t(end >> 24), uint8_t(end >> 16), uint8_t(end >> 8), uint8_t(end)});
}

const std::string kEndFrame("\x5B\x00\x00\x00\x00\x5D", 6);

// The data of a contiguous S-record file, and its first address.
Bytes SRecordData(const std::string& text, uint32_t& address)
{
    Bytes data;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("S3", 0) != 0)
            continue;
        const size_t count = std::stoul(line.substr(2, 2), nullptr, 16);
        if (data.empty())
            address = uint32_t(std::stoul(line.substr(4, 8), nullptr, 16));
        for (size_t i = 0; i + 5 < count; ++i)
            data.push_back(uint8_t(std::stoul(line.substr(12 + 2 * i, 2), nullptr, 16)));
    }
    return data;
}

class Loaders : public ::testing::Test {
protected:
    void SetUp() override
    {
        SampleImageOptions image;
        image.pfldVersion = "4.21";
        image.fwSize = 0x8000;
        m_image = MakeSampleImage(image);
        velmor::test::WriteFile(FlashPath(), m_image);
    }

    std::string FlashPath() const { return m_dir.File("flash.bin"); }

    BoardOptions Options(BoardMode mode = BoardMode::Pfl) const
    {
        BoardOptions options;
        options.deviceDir = m_dir.Path();
        options.flashImage = FlashPath();
        options.mode = mode;
        options.stream = false;
        options.recWaitInterval = kNoRepeats;
        options.sectorEraseTime = 1ms;
        return options;
    }

    BoardClient& Start(const BoardOptions& options, unsigned baud = 19200)
    {
        m_board = std::make_unique<SimulatedBoard>(options);
        m_board->Start();
        m_client = std::make_unique<BoardClient>(m_board->DevicePath(), baud);
        return *m_client;
    }

    // Sends `bytes` and returns what came back once at least `count` bytes did.
    std::string Ask(const std::string& bytes, size_t count)
    {
        m_client->Send(bytes);
        m_client->ReadUntil([&](const std::string& s) { return s.size() >= count; }, kArrival);
        return m_client->Take();
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

    // One record exchange as a loader does it: the reply bytes after the frame,
    // up to the first that is not REC_WAIT_CODE.
    std::string Exchange(const std::string& frame)
    {
        // With short repeat intervals more than one may have come.
        if (!AllRecWait(Ask(kSync, 1)))
            return "no REC_WAIT_CODE";
        m_client->Send(frame);
        m_client->ReadUntil([](const std::string& s) { return s.find_first_not_of(kRecWait) != std::string::npos; },
                            kArrival);
        return m_client->Take();
    }

    // In the PFLD: asks for the SFLD and sends it, at 19200.
    void UploadSfld(const std::string& srecords)
    {
        ASSERT_EQ(Ask(Code(PFLD_ASK_POLL), 1), kRecWait);
        uint32_t address = 0;
        const Bytes data = SRecordData(srecords, address);
        ASSERT_EQ(Exchange(Frame(address, data)), kSync);
        ASSERT_EQ(Exchange(kEndFrame), kSync);
        ASSERT_TRUE(m_board->Transcript().WaitForModes(2, kArrival));
        ASSERT_EQ(m_board->Mode(), BoardMode::Sfld);
    }

    // Wakes the SFLD at 19200 and goes on at 115200.
    void WakeSfld()
    {
        m_client->SetBaud(19200);
        ASSERT_EQ(Ask(kSync, 1), kSync);
        m_client->SetBaud(115200);
    }

    // SYNC_CODE, ERASE_CMD, the range record; the bytes of the erase up to its end.
    std::string Erase(uint32_t start, uint32_t end)
    {
        if (Ask(kSync + Code(ERASE_CMD), 1) != kSync)
            return "no SYNC_CODE for ERASE_CMD";
        const std::string answer = Exchange(RangeFrame(start, end));
        if (answer.empty() || answer[0] != char(SYNC_CODE))
            return "range record answered " + answer;
        // The erase may have begun in the same read as the acknowledgement.
        std::string erase = answer.substr(1);
        const auto ended = [&](const std::string& s) {
            return (erase + s).find_first_of(kSync + Code(ERASE_FAILED_CODE) + Code(OneShotFault::kDefaultNoise))
                != std::string::npos;
        };
        m_client->ReadUntil(ended, kArrival);
        m_client->ReadFor(kQuiet);
        return erase + m_client->Take();
    }

    void ToSfld(const std::string& version = "T-42")
    {
        UploadSfld(MakeSampleSfld(3, version));
        WakeSfld();
    }

    velmor::test::TempDir m_dir;
    std::vector<uint8_t> m_image;
    std::unique_ptr<SimulatedBoard> m_board;
    std::unique_ptr<BoardClient> m_client;
};

TEST_F(Loaders, PflModeKeepsItsSentencesApartFromPolls)
{
    auto& client = Start(Options());
    // 'D' and 'E' are poll bytes, but inside a sentence they are hex digits.
    EXPECT_EQ(client.Ask("$R1000DE00\r\n", "R"), "R1000DE00:FFFFFFFF\r\n");
    EXPECT_EQ(Ask(Code(PFLD_VERSION_POLL), 1), Code(PFLD_VERSION_POLL));
    EXPECT_EQ(client.Ask("$A\r\n", "A"), "A:PFL\r\n");
}

TEST_F(Loaders, FramesAcceptedOrRejectedWithTheirCode)
{
    auto options = Options();
    options.frameTimeout = 150ms;
    auto& client = Start(options);
    ASSERT_EQ(Ask(Code(PFLD_ASK_POLL), 1), kRecWait);

    std::string badSum = Frame(kRamBase, {1, 2, 3});
    badSum[badSum.size() - 2] ^= 1;
    std::string noEnd = Frame(kRamBase, {1, 2, 3});
    noEnd.back() = '}';
    const struct {
        const char* legend;
        std::string frame;
        uint8_t answer;
    } cases[] = {
        {"good", Frame(kRamBase, {1, 2, 3}), SYNC_CODE},
        {"checksum", badSum, BAD_CSUM},
        {"word count", std::string("\x5B\x10\x00", 3) + std::string(40, '\x55'), BAD_LENGTH},
        {"end mark", noEnd, NO_REC_END},
        {"outside RAM", Frame(kRamBase + kRamSize - 2, {1, 2, 3, 4}), BAD_COMMAND},
        {"cut short", Frame(kRamBase, {1, 2, 3}).substr(0, 7), RECORD_TIMEOUT},
        {"good again", Frame(kRamBase + 4, {4, 5}), SYNC_CODE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(Exchange(c.frame), Code(c.answer));
        client.ReadFor(kQuiet);   // a skipped frame ends when the line is quiet
        EXPECT_EQ(client.Take(), "") << "one answer per frame";
    }
    ASSERT_TRUE(m_board->Transcript().WaitForRecords(std::size(cases), kArrival));
    const auto records = m_board->Transcript().Records(Transfer::Sfld);
    ASSERT_EQ(records.size(), std::size(cases));
    EXPECT_EQ(records[0].index, 0u);
    EXPECT_EQ(records[0].dataLength, 4u);
    EXPECT_EQ(records[5].index, 1u) << "rejected frames take no number";
    EXPECT_EQ(records[6].index, 1u);
    EXPECT_EQ(records[6].address, kRamBase + 4);
}

TEST_F(Loaders, RecWaitRepeatsWhileWaitingButNeverIntoAFrame)
{
    auto options = Options();
    options.recWaitInterval = 5ms;
    options.pace = true;
    auto& client = Start(options, 115200);
    client.SetBaud(19200);
    ASSERT_EQ(Ask(Code(PFLD_ASK_POLL), 1), kRecWait);
    client.ReadUntil([](const std::string& s) { return s.size() >= 5; }, kArrival);
    EXPECT_TRUE(AllRecWait(client.Take()));

    // 1024 data bytes take over half a second at 19200: many intervals.
    const std::string frame = Frame(kRamBase, Bytes(1024, 0xA5));
    client.ReadFor(20ms);
    client.Take();
    const auto start = std::chrono::steady_clock::now();
    client.Send(frame);
    ASSERT_TRUE(client.ReadUntil([](const std::string& s) { return s.find(char(SYNC_CODE)) != s.npos; }, kArrival));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const std::string reply = client.Take();
    EXPECT_EQ(reply.find(char(SYNC_CODE)), reply.size() - 1) << "nothing but the acknowledgement after the frame";
    EXPECT_LE(reply.size(), 2u) << "at most one repeat before the frame's first byte arrived";
    EXPECT_GE(elapsed, std::chrono::microseconds(frame.size() * 10 * 1000000 / 19200) - 3ms);
}


TEST_F(Loaders, EraseAnswersOneCodePerSector)
{
    Start(Options());
    ToSfld();
    EXPECT_EQ(Ask(Code(BOOT_MODE_CMD), 1), Code(BOOT_MODE_CMD));
    EXPECT_TRUE(Unanswered(Code(ERASE_CMD))) << "ERASE_CMD counts only after SYNC_CODE";
    // 0x10005000 to 0x1000C001 touches three sectors.
    EXPECT_EQ(Erase(0x10005000, 0x1000C001), std::string(3, char(SECTOR_ERASED_CODE)) + kSync);
    const Bytes erased = m_board->ReadFlash(0x10004000, 0xC000);
    EXPECT_EQ(std::count(erased.begin(), erased.end(), 0xFF), 0xC000);
    EXPECT_NE(m_board->FlashWord(0x10000020), 0xFFFFFFFFu) << "the PFLD's sector is left alone";

    ASSERT_TRUE(m_board->Transcript().WaitForErases(1, kArrival));
    const EraseEntry erase = m_board->Transcript().Erases()[0];
    EXPECT_EQ(erase.start, 0x10005000u);
    EXPECT_EQ(erase.end, 0x1000C001u);
    EXPECT_TRUE(erase.bootMode);
    EXPECT_EQ(erase.sectors, 3u);
    EXPECT_TRUE(erase.completed);
    const auto range = m_board->Transcript().Records(Transfer::Flash);
    ASSERT_EQ(range.size(), 1u);
    EXPECT_EQ(range[0].kind, RecordKind::Range);
}

TEST_F(Loaders, ProgrammingNeedsErasedFlashAndToleratesAResend)
{
    Start(Options());
    ToSfld();
    ASSERT_EQ(Erase(0x10010000, 0x10014000), Code(SECTOR_ERASED_CODE) + kSync);
    const std::string data = Frame(0x10010000, velmor::test::PatternBytes(2048, 5));
    EXPECT_EQ(Exchange(data), kSync);
    EXPECT_EQ(Exchange(data), kSync) << "the same record again, after a lost acknowledgement";
    EXPECT_EQ(Exchange(Frame(0x10010000, {1, 2})), Code(ERASE_FAILED_CODE) + Code(BAD_COMMAND));
    EXPECT_EQ(Exchange(Frame(0x10004000, {1, 2, 3, 4})), Code(ERASE_FAILED_CODE) + Code(BAD_COMMAND));
    EXPECT_EQ(Exchange(Frame(0x10200000, {1, 2})), Code(BAD_COMMAND)) << "beyond the flash";
    EXPECT_EQ(m_board->ReadFlash(0x10010000, 2048), velmor::test::PatternBytes(2048, 5));

    ASSERT_TRUE(m_board->Transcript().WaitForRecords(2 + 6, kArrival));   // the SFLD's two, then these
    const auto records = m_board->Transcript().Records(Transfer::Flash);
    ASSERT_EQ(records.size(), 6u);
    EXPECT_FALSE(records[1].repeated);
    EXPECT_TRUE(records[2].repeated);
    EXPECT_EQ(records[2].index, records[1].index);
    EXPECT_EQ(records[3].answer, ERASE_FAILED_CODE);
}

TEST_F(Loaders, EndRecordSavesTheFlashAndRestarts)
{
    const struct {
        const char* legend;
        uint32_t eraseStart;   // 0x10004000: the FW header goes, so the PFLD runs next
        BoardMode after;
    } cases[] = {
        {"firmware kept", 0x10008000, BoardMode::Command},
        {"firmware erased", 0x10004000, BoardMode::Pfl},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        auto options = Options();
        options.commandRate = 9600;
        auto& client = Start(options);
        ToSfld();
        ASSERT_EQ(Erase(c.eraseStart, 0x1000C000).back(), char(SYNC_CODE));
        const Bytes data = velmor::test::PatternBytes(600, 9);
        ASSERT_EQ(Exchange(Frame(0x10008000, data)), kSync);
        ASSERT_EQ(Exchange(kEndFrame), kSync);
        ASSERT_TRUE(m_board->Transcript().WaitForUploads(1, kArrival));
        EXPECT_TRUE(m_board->Transcript().Uploads()[0].saved);
        EXPECT_EQ(m_board->Mode(), c.after);

        const Bytes saved = velmor::test::ReadFile(FlashPath());
        ASSERT_GE(saved.size(), 0x8000u + 600);
        EXPECT_EQ(Bytes(saved.begin() + 0x8000, saved.begin() + 0x8000 + 600), data);
        EXPECT_EQ(saved[0x8000 + 600], 0xFF);
        EXPECT_EQ(Bytes(saved.begin(), saved.begin() + 0x4000), Bytes(m_image.begin(), m_image.begin() + 0x4000));
        if (c.after == BoardMode::Command) {
            client.SetBaud(9600);
            EXPECT_NE(client.Ask("$PKVRQ,RID\r\n", "$PKVRR,RID,"), "");
        }
        velmor::test::WriteFile(FlashPath(), m_image);
    }
}

TEST_F(Loaders, RestartAfterAnUploadBringsBackTheStartUpSettings)
{
    auto options = Options(BoardMode::Command);
    options.commandRate = 9600;
    options.stream = true;
    options.streamPeriod = kNoRepeats;   // switched, but never due: no burst meets the upload
    auto& client = Start(options, 9600);
    ASSERT_NE(client.Ask("$PKVRS,NME,ALL,A,OFF\r\n", "$PKVRR,NME"), "");
    ASSERT_NE(client.Ask("$PKVRS,SPD,A,8\r\n", "$PKVRR,SPD"), "");
    client.SetBaud(57600);
    client.Send(std::string(std::begin(BOOT_REQUEST), std::end(BOOT_REQUEST)));
    ASSERT_TRUE(m_board->Transcript().WaitForModes(2, kArrival));
    client.SetBaud(19200);
    ToSfld();
    ASSERT_EQ(Erase(0x10008000, 0x1000C000).back(), char(SYNC_CODE));
    ASSERT_EQ(Exchange(Frame(0x10008000, velmor::test::PatternBytes(64, 3))), kSync);
    ASSERT_EQ(Exchange(kEndFrame), kSync);
    ASSERT_TRUE(m_board->Transcript().WaitForUploads(1, kArrival));
    ASSERT_EQ(m_board->Mode(), BoardMode::Command);

    const PortSetup line = m_board->Port(ReceiverPort::A);
    EXPECT_EQ(line.rate, 9600u);
    EXPECT_TRUE(line.positionSentences && line.satelliteSentences);
    client.SetBaud(9600);
    EXPECT_NE(client.Ask("$PKVRQ,PRT\r\n", "$PKVRR,PRT,9600"), "");
}

TEST_F(Loaders, SfldAnswersAtTheWakeUpRateWheneverTheHostReturns)
{
    Start(Options());
    ToSfld();
    // Left waiting for the range record, as when the host gave up on an exchange.
    ASSERT_EQ(Ask(kSync + Code(ERASE_CMD), 1), kSync);
    WakeSfld();
    EXPECT_EQ(Erase(0x10008000, 0x1000C000), Code(SECTOR_ERASED_CODE) + kSync);
    WakeSfld();
    EXPECT_EQ(Erase(0x10008000, 0x1000C000), Code(SECTOR_ERASED_CODE) + kSync);
}



} // namespace
} // namespace receiver
