// Whole uploads: the loader's engine drives the simulated board over a
// pseudo-terminal, from "Connect GPS" to "Upload complete", with and without
// the board's faults; afterwards the board's flash must equal the image.
#include "loader/image/flash_layout.h"
#include "loader/log/log.h"
#include "loader/serial/receiver_query.h"
#include "loader/upload/byte_codes.h"
#include "loader/upload/image_preparation.h"
#include "loader/upload/update_operation.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tests/support/board_fixture.h"
#include "tests/support/image_files.h"
#include "tests/support/log_recorder.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <future>
#include <sstream>
#include <thread>
#include <utility>

namespace velmor {
namespace {

using namespace std::chrono_literals;
using receiver::OneShotFault;
using receiver::Transfer;
using test::Bytes;

constexpr auto kUploadLimit = 45s;

receiver::SampleImageOptions NewFirmware(uint32_t fwSize = 0x8000)
{
    receiver::SampleImageOptions options;
    options.fwVersion = "V2.31";
    options.fwSize = fwSize;
    return options;
}

class WholeUpload : public ::testing::Test {
protected:
    static receiver::BoardOptions Options()
    {
        receiver::BoardOptions options;
        options.recWaitInterval = 20ms;
        return options;
    }
    receiver::SimulatedBoard& StartBoard() { return m_board.Start(Options(), m_oldFlash); }

    // The update as the dialog runs it: its own "Connect GPS" first, then the
    // operation with that receiver. A hang is ended and fails.
    Outcome Upload(const Bytes& image, const std::string& name = "image.bin", const UploadLimits& limits = {},
                   const std::function<void()>& meanwhile = {})
    {
        EXPECT_TRUE(ConnectGps("GPS1:", m_log, m_info).Ok());
        m_imagePath = m_folder.File(name);
        test::WriteFile(m_imagePath, image);
        std::stop_source stop;
        auto run = std::async(std::launch::async, [this, limits, token = stop.get_token()] {
            return RunUpdate(Request(limits), m_log, token).outcome;
        });
        if (meanwhile)
            meanwhile();
        if (run.wait_for(kUploadLimit) != std::future_status::ready) {
            stop.request_stop();
            ADD_FAILURE() << "the upload did not end";
        }
        return run.get();
    }
    UpdateRequest Request(const UploadLimits& limits = {})
    {
        UpdateRequest request;
        request.port = "GPS1:";
        request.image = ReadImage(m_imagePath);
        request.receiver = m_info;
        request.limits = limits;
        request.askPfld = [this] { return m_pfldAnswer; };
        return request;
    }

    bool Logged(const std::wstring& line) { return m_log.HasPaneLine(line); }
    bool Shown(const std::wstring& line) { return m_log.HasStatusLine(line); }

    test::DeviceFolder m_folder;
    test::BoardFixture m_board {m_folder};
    test::LogRecorder m_log;
    PfldAnswer m_pfldAnswer = PfldAnswer::No;
    ReceiverInfo m_info;
    Bytes m_oldFlash = receiver::MakeSampleImage({});
    std::string m_imagePath;
};

TEST_F(WholeUpload, BinaryImageWithTheSfldBesideTheProgram)
{
    auto& board = StartBoard();
    const Bytes image = receiver::MakeSampleImage(NewFirmware(0x30000));
    ASSERT_TRUE(Upload(image).Ok());

    for (const wchar_t* line : {L"SFLD section skipped", L"PFL is up to date", L"Uploading SFLD...", L"Complete.",
                                L"FILE-1.", L"Erasing FLASH...", L"FLASH Programming..."})
        EXPECT_TRUE(Logged(line)) << platform::Narrow(line);
    for (const wchar_t* line : {L"Image Start address: 0x40000000", L"FLASH erasing complete.", L"13 sectors erased.",
                                L"FLASH Programing Complete.", L"FLASH upload complete.", L"Address:0x10033800."})
        EXPECT_TRUE(Shown(line)) << platform::Narrow(line);
    // Progress in each phase against the phase's own total: the hand-off has
    // none, the erase and the programming count the image's bytes.
    const auto reports = m_log.ProgressReports();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), test::LogRecorder::Report(Phase::Handoff, 0, 0));
    EXPECT_NE(std::find(reports.begin(), reports.end(), test::LogRecorder::Report(Phase::Erase, 0, 0x34000)),
              reports.end());
    EXPECT_EQ(reports.back(), test::LogRecorder::Report(Phase::Program, 0x34000, 0x34000));
    uint64_t done = 0;
    for (const auto& [phase, now, total] : reports)
        if (phase == Phase::Program) {
            EXPECT_EQ(total, 0x34000u);
            EXPECT_GE(now, done);
            done = now;
        }

    // The flash first, then what crossed the wire: a failure says which went wrong.
    EXPECT_TRUE(m_board.Holds(image, 0x34000));
    const auto erases = board.Transcript().Erases();
    ASSERT_EQ(erases.size(), 1u);
    EXPECT_EQ(erases[0].start, 0x10000000u);
    EXPECT_EQ(erases[0].end, 0x10034000u);
    EXPECT_FALSE(erases[0].bootMode);
    const auto flashRecords = board.Transcript().Records(Transfer::Flash);
    ASSERT_EQ(flashRecords.size(), 1 + 0x34000 / 2048 + 1u) << m_board.FlashTransfer();   // range, data, end
    EXPECT_EQ(flashRecords.front().kind, receiver::RecordKind::Range);
    EXPECT_EQ(flashRecords.back().kind, receiver::RecordKind::End);
    for (const auto& record : flashRecords)
        EXPECT_EQ(record.answer, SYNC_CODE);
    const auto sfldCodes = board.Transcript().CodesIn(receiver::BoardMode::Sfld);
    EXPECT_EQ(std::count(sfldCodes.begin(), sfldCodes.end(), BOOT_MODE_CMD), 0);
    // The board is back in its firmware; its sections read back with their checksums.
    m_log.Reset();
    ASSERT_TRUE(ConnectGps("GPS1:", m_log, m_info).Ok());
    EXPECT_TRUE(Logged(L"Main FW len:0x30000"));
    char crc[40];
    std::snprintf(crc, sizeof crc, "Main FW crc:0x%x", test::BoardFixture::WordAt(image, 0x34000));
    EXPECT_TRUE(Logged(platform::Widen(crc)));
    EXPECT_TRUE(Logged(L"Main FW ver:0.2 (V2.31)"));
}

// An S-record image, replaced on disk once the erase has begun: what goes to
// the receiver is the image as it was checked, read once.
TEST_F(WholeUpload, SRecordImageReadOnce)
{
    receiver::BoardOptions slowErase = Options();
    slowErase.sectorEraseTime = 200ms;
    auto& board = m_board.Start(slowErase, m_oldFlash);
    const std::string text = receiver::MakeSampleSRecords(NewFirmware());
    receiver::SampleImageOptions other = NewFirmware();
    other.fwVersion = "V9.99";
    const std::string replacement = receiver::MakeSampleSRecords(other);
    ASSERT_TRUE(Upload(Bytes(text.begin(), text.end()), "image.s37", {}, [&] {
        ASSERT_TRUE(board.Transcript().WaitForErases(1, 60s));
        test::WriteFile(m_imagePath, replacement);
    }).Ok());
    EXPECT_TRUE(Shown(L"Image type: Motorola S-Record"));
    // The S-record image holds the FW checksum word too, and all of it went over.
    const Bytes image = receiver::MakeSampleImage(NewFirmware());
    EXPECT_TRUE(m_board.Holds(image, image.size()));
}

// S-records need not come in address order: with the FW's lines first, an
// upload that gives up inside the FW has not programmed the PFLD area, and
// says so.
TEST_F(WholeUpload, SRecordsOutOfOrderProgramNoRunTheyDidNot)
{
    auto& board = StartBoard();
    std::istringstream lines(receiver::MakeSampleSRecords(NewFirmware()));
    std::string low, high, line;
    while (std::getline(lines, line)) {
        const bool fw = line.starts_with("S3") && std::stoul(line.substr(4, 8), nullptr, 16) >= kFwStart;
        (fw ? high : low) += line + "\n";
    }
    const std::string text = high + low;   // S0 and S7 stay with the PFLD's lines, in the middle and at the end
    for (int i = 0; i < 6; ++i)
        board.ArmFault(OneShotFault::RejectRecord(Transfer::Flash, 3, BAD_CSUM));
    const Outcome outcome = Upload(Bytes(text.begin(), text.end()), "image.s37");
    EXPECT_EQ(outcome.fault, Fault::TooManyAttempts);
    EXPECT_EQ(outcome.flash.stage, FlashState::Stage::Programming);
    EXPECT_EQ(outcome.flash.programmedTo, kFlashBase);
    EXPECT_TRUE(outcome.flash.PfldAreaOpen());
}

// A receiver that falls silent during the read-back has stopped answering:
// that is said, not taken for a flash that differs.
TEST_F(WholeUpload, SilenceDuringTheReadBackIsNoMismatch)
{
    auto& board = StartBoard();
    ASSERT_TRUE(ConnectGps("GPS1:", m_log, m_info).Ok());
    m_imagePath = m_folder.File("image.bin");
    test::WriteFile(m_imagePath, receiver::MakeSampleImage(NewFirmware()));
    UpdateRequest request = Request();
    request.verify = VerifyMode::Full;
    auto run = std::async(std::launch::async, [&] { return RunUpdate(request, m_log); });
    ASSERT_TRUE(test::WaitUntil([&] {
        for (const auto& [phase, done, total] : m_log.ProgressReports())
            if (phase == Phase::Verify && done > 10)
                return true;
        return false;
    }, 60s));
    board.SetFault(receiver::BoardFault::Silence, true);
    const UpdateResult result = run.get();
    EXPECT_EQ(result.outcome.fault, Fault::Silence);
    EXPECT_EQ(result.outcome.phase, Phase::Verify);
    EXPECT_GT(result.wordsCompared, 10u);
}

// An image with a newer PFLD and an SFLD of its own: declined, nothing goes
// to the receiver; agreed, its SFLD is the one sent and boot mode comes
// before the erase.
TEST_F(WholeUpload, PfldUpdateAgreedEntersBootModeBeforeTheErase)
{
    auto& board = StartBoard();
    receiver::SampleImageOptions options = NewFirmware();
    options.pfldVersion = "1.08";
    options.sfldVersion = "IMAGE-1";
    const Bytes image = receiver::MakeSampleImage(options);
    ASSERT_TRUE(ConnectGps("GPS1:", m_log, m_info).Ok());
    const size_t before = board.Transcript().ReceivedBytes().size();
    m_log.Reset();
    m_imagePath = m_folder.File("image.bin");
    test::WriteFile(m_imagePath, image);
    EXPECT_EQ(RunUpdate(Request(), m_log).outcome.fault, Fault::PfldDeclined);
    EXPECT_EQ(m_log.PaneLines().back(), L"Canceled by user");
    EXPECT_EQ(board.Transcript().ReceivedBytes().size(), before);
    EXPECT_TRUE(m_board.Holds(m_oldFlash, m_oldFlash.size()));

    m_pfldAnswer = PfldAnswer::Yes;
    ASSERT_TRUE(Upload(image).Ok());
    for (const wchar_t* line : {L"SFLD section found", L"IMAGE-1.", L"PFLD mode ... On", L"Entering boot mode..."})
        EXPECT_TRUE(Logged(line)) << platform::Narrow(line);
    EXPECT_FALSE(Logged(L"FILE-1."));
    const auto codes = board.Transcript().CodesIn(receiver::BoardMode::Sfld);
    const auto boot = std::find(codes.begin(), codes.end(), BOOT_MODE_CMD);
    const auto erase = std::find(codes.begin(), codes.end(), ERASE_CMD);
    ASSERT_NE(boot, codes.end());
    EXPECT_LT(boot, erase);
    ASSERT_EQ(board.Transcript().Erases().size(), 1u);
    EXPECT_TRUE(board.Transcript().Erases()[0].bootMode);
    EXPECT_TRUE(m_board.Holds(image, 0xC000));
    m_log.Reset();
    ASSERT_TRUE(ConnectGps("GPS1:", m_log, m_info).Ok());
    EXPECT_TRUE(Logged(L"Pfld ver:1.8 (1.08)"));
}

struct FaultCase {
    std::string name;
    OneShotFault fault;
    std::vector<std::wstring> status;   // lines that show the fault was met
};

// A stable, readable name in test listings instead of the case's bytes.
void PrintTo(const FaultCase& c, std::ostream* out)
{
    *out << c.name;
}

class UploadWithFault : public WholeUpload, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(UploadWithFault, ConvergesToTheRightFlash)
{
    auto& board = StartBoard();
    board.ArmFault(GetParam().fault);
    const Bytes image = receiver::MakeSampleImage(NewFirmware());
    ASSERT_TRUE(Upload(image).Ok());
    EXPECT_EQ(board.ArmedFaults(), 0u) << "the fault never fired";
    for (const auto& line : GetParam().status)
        EXPECT_TRUE(Shown(line)) << platform::Narrow(line);
    EXPECT_TRUE(m_board.Holds(image, 0xC000));
}

std::vector<FaultCase> FaultCases()
{
    std::vector<FaultCase> cases;
    // One rejected record per transfer; which code it is matters to the record
    // exchange's own tests, not here.
    cases.push_back({"sfld_reject", OneShotFault::RejectRecord(Transfer::Sfld, 1, BAD_CSUM),
                     {L"ERROR: BAD_CSUM", L"Repeat Sending Record."}});
    cases.push_back({"flash_reject", OneShotFault::RejectRecord(Transfer::Flash, 3, NO_REC_END),
                     {L"ERROR: NO_REC_END", L"FLASH upload failed."}});
    cases.push_back({"rec_wait_flood", OneShotFault::FloodRecWait(Transfer::Flash, 2), {L"REC_WAIT break"}});
    cases.push_back({"silent_polls", OneShotFault::SilentPolls(3), {}});
    cases.push_back({"erase_failure", OneShotFault::EraseFailure(), {L"Flash erase failure.", L"FLASH upload failed."}});
    cases.push_back({"erase_noise", OneShotFault::EraseNoise(0x86),
                     {L"Unknown command 0x86.", L"FLASH erase failure.", L"FLASH upload failed."}});
    return cases;
}

// Two receivers at once from one process, each with its own port, job and
// reporter: each board ends with its own image.
TEST_F(WholeUpload, TwoReceiversAtOnce)
{
    test::BoardFixture secondBoard {m_folder};
    m_board.Start(Options(), m_oldFlash, "gps1");
    secondBoard.Start(Options(), m_oldFlash, "gps2");
    struct Run {
        std::string port;
        Bytes image;
        UpdateRequest request;
        test::LogRecorder log;
    } runs[2];
    for (int i = 0; i < 2; ++i) {
        Run& run = runs[i];
        run.port = i == 0 ? "GPS1:" : "GPS2:";
        run.image = receiver::MakeSampleImage(NewFirmware(0x10000 + 0x8000 * i));
        const std::string path = m_folder.File("image" + std::to_string(i) + ".bin");
        test::WriteFile(path, run.image);
        ReceiverInfo found;
        ASSERT_TRUE(ConnectGps(run.port, run.log, found).Ok());
        run.request.port = run.port;
        run.request.receiver = found;
        run.request.image = ReadImage(path);
    }
    std::future<Outcome> results[2];
    for (Run& run : runs)
        results[&run - runs] =
            std::async(std::launch::async, [&run] { return RunUpdate(run.request, run.log).outcome; });
    const test::BoardFixture* boards[2] = {&m_board, &secondBoard};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(results[i].wait_for(kUploadLimit), std::future_status::ready) << i;
        EXPECT_TRUE(results[i].get().Ok()) << i;
        // Up to the FW end: a binary upload does not send the checksum word.
        EXPECT_TRUE(boards[i]->Holds(runs[i].image, runs[i].image.size() - 4));
    }
}

// A failure that repeats on every attempt ends the upload after five of them,
// with the last attempt's reason; the sixth fault is never met. A receiver
// that falls back to its resident loader after each failure gets its SFLD
// again each time, and those good SFLD uploads do not reset the count.
TEST_F(WholeUpload, RepeatedFailureStopsAfterFiveAttempts)
{
    const struct {
        const char* legend;
        Transfer transfer;
        int record;
        bool fallBack;
        size_t erases;
        size_t sfldUploads;
    } rows[] = {{"SFLD", Transfer::Sfld, 1, false, 0, 0}, {"flash", Transfer::Flash, 3, false, 5, 1},
                {"flash, SFLD again each time", Transfer::Flash, 3, true, 5, 5}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        m_log.Reset();
        auto& board = StartBoard();
        board.SetFault(receiver::BoardFault::FallBack, row.fallBack);
        for (int i = 0; i < 6; ++i)
            board.ArmFault(OneShotFault::RejectRecord(row.transfer, row.record, BAD_CSUM));
        const Outcome outcome = Upload(receiver::MakeSampleImage(NewFirmware()));
        EXPECT_EQ(outcome.fault, Fault::TooManyAttempts);
        EXPECT_EQ(outcome.cause, Fault::ReceiverError);
        EXPECT_EQ(outcome.code, BAD_CSUM);
        EXPECT_EQ(outcome.attempts, 5);
        EXPECT_EQ(m_log.PaneLines().back(), L"Upload stopped after 5 failed attempts: ERROR: BAD_CSUM");
        EXPECT_EQ(board.ArmedFaults(), 1u);
        EXPECT_EQ(board.Transcript().Erases().size(), row.erases);
        const auto sfld = board.Transcript().Records(Transfer::Sfld);
        EXPECT_EQ(size_t(std::count_if(sfld.begin(), sfld.end(),
                                       [](const receiver::RecordEntry& r) {
                                           return r.kind == receiver::RecordKind::End && r.answer == SYNC_CODE;
                                       })),
                  row.sfldUploads);
    }
}

// A receiver whose line goes away mid-upload (an adapter pulled out) ends the
// upload at once, saying so and where the flash was left.
TEST_F(WholeUpload, PortGoneMidUploadEndsItAtOnce)
{
    auto& board = StartBoard();
    std::chrono::steady_clock::time_point gone;
    const Outcome outcome = Upload(receiver::MakeSampleImage(NewFirmware()), "image.bin", {}, [&] {
        ASSERT_TRUE(board.Transcript().WaitForErases(1, 60s));
        m_board.Stop();
        gone = std::chrono::steady_clock::now();
    });
    EXPECT_LT(std::chrono::steady_clock::now() - gone, 2s);
    EXPECT_EQ(outcome.fault, Fault::LineGone);
    EXPECT_EQ(outcome.device, m_folder.File("gps1"));
    EXPECT_NE(outcome.flash.stage, FlashState::Stage::Untouched);
    EXPECT_TRUE(outcome.flash.PfldAreaOpen());
    EXPECT_EQ(m_log.PaneLines().back(), platform::Widen("Upload stopped: " + m_folder.File("gps1") + ": the port went away"));
}

INSTANTIATE_TEST_SUITE_P(BoardFaults, UploadWithFault, ::testing::ValuesIn(FaultCases()),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace velmor
