#include "loader/upload/handoff.h"

#include "loader/log/log.h"
#include "loader/serial/receiver_query.h"
#include "loader/upload/byte_codes.h"
#include "loader/upload/flash_programming.h"
#include "loader/upload/record_protocol.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace velmor {
namespace {

void SendBootRequestAt(const Link& link, uint32_t baud)
{
    SerialSetBaud(link, baud);
    SerialWrite(link, BOOT_REQUEST, sizeof BOOT_REQUEST);
    SerialSetBaud(link, kBootBaud);
    for (int i = 0; i < kBootSyncCount; ++i) {
        SerialPutByte(link, SYNC_CODE);
        if (i + 1 < kBootSyncCount)
            link.Pause(kBootSyncPauseMs);
    }
}

} // namespace

bool RequestBootMode(const Link& link, const ReceiverInfo& info)
{
    link.report.StatusLine(L"Waiting for target answer at 19200...");
    if ((info.baud != 0 && info.pflMode) || info.loaderOnly) {
        // A loader already answers: no boot request.
        SerialSetBaud(link, kBootBaud);
        SerialPutByte(link, SYNC_CODE);
    } else if (info.baud != 0) {
        SendBootRequestAt(link, info.baud);
    } else {
        for (uint32_t baud : kNoAnswerBootBauds)
            SendBootRequestAt(link, baud);
    }
    return true;
}

bool UploadSecondaryLoader(const Link& link, SRecordReader& sfld, ReceiverWatch& watch)
{
    sfld.Rewind();
    link.report.LogLine(L"Uploading SFLD...");
    return SendRecords(link, [&sfld](UploadRecord& record) { return sfld.ReadNextBlock(record); }, watch,
                       L"Image reading error.");
}

Outcome RunHandoff(const Link& link, UploadJob& job)
{
    const UploadLimits& limits = job.limits;
    ReceiverWatch watch(limits, link.line);
    int failures = 0;
    Phase phase = Phase::Handoff;
    bool answered = false;   // a loader's code came back: the receiver left its firmware
    const auto failed = [&](Fault otherwise) {
        Outcome outcome = link.Failure(otherwise, phase);
        outcome.flash = job.flash;
        outcome.loaderAnswered = answered;
        if (outcome.fault == Fault::LineGone)
            link.report.LogLine(platform::Widen("Upload stopped: " + FaultText(outcome)));
        return outcome;
    };
    // Every failed SFLD or flash upload counts; a failure that repeats must not
    // erase the flash again and again.
    const auto tooManyFailures = [&] {
        if (++failures < limits.attempts)
            return false;
        link.report.LogLine(Printf("Upload stopped after %d failed attempts: %ls", failures, watch.LastFailure().c_str()));
        return true;
    };
    const auto gaveUp = [&] {
        Outcome outcome = failed(Fault::TooManyAttempts);
        outcome.cause = watch.LastFault();
        outcome.code = watch.LastCode();
        outcome.attempts = failures;
        return outcome;
    };

    SRecordReader& sfld = job.sfld;
    link.report.StatusLine(Printf("Image Start address: 0x%08X", sfld.LowestAddress()));
    link.report.StatusLine(Printf("Image Entry point: 0x%08X", sfld.EntryPoint()));
    link.report.StatusLine(Printf("Image Size: %lu bytes", static_cast<unsigned long>(sfld.Size())));
    sfld.Rewind();
    link.report.Progress(Phase::Handoff, 0, 0);
    RequestBootMode(link, job.receiver);
    watch.Alive();

    uint8_t poll = SYNC_CODE;
    std::vector<char> version(kVersionBufferSize);
    while (!link.StopRequested()) {
        if (watch.Silent()) {
            link.report.LogLine(Printf("Upload stopped: %ls", kNoAnswerText));
            return failed(Fault::Silence);
        }
        SerialPutByte(link, poll);
        link.Pause(kPollPauseMs);
        uint8_t byte = 0;
        if (!SerialGetByte(link, byte, 0))
            continue;

        // Only a step forward counts as life: a receiver still streaming its
        // sentences, or repeating one answer, must not keep the upload waiting.
        if (byte == '$') {
            link.Pause(kPollPauseMs);
            std::fill(version.begin(), version.end(), 0);
            version[0] = '$';
            if (SerialRead(link, reinterpret_cast<uint8_t*>(version.data() + 1), version.size() - 2) == 0)
                continue;
            if (std::strstr(version.data(), "$VER")) {
                answered = true;
                if (poll == SYNC_CODE)
                    watch.Alive();
                LogReplyText(link.report, version.data());
            }
            link.report.StatusLine(L"Wait for REC_WAIT_CODE.");
            poll = PFLD_VERSION_POLL;
        } else if (byte == PFLD_VERSION_POLL) {
            answered = true;
            if (poll != PFLD_ASK_POLL) {
                watch.Alive();
                poll = PFLD_ASK_POLL;
                link.report.StatusLine(L"Ask PFLD version.");
            }
        } else if (byte == REC_WAIT_CODE) {
            answered = true;
            watch.Alive();
            phase = Phase::Handoff;
            if (!UploadSecondaryLoader(link, sfld, watch)) {
                if (link.StopRequested())
                    break;
                if (tooManyFailures())
                    return gaveUp();
            } else {
                link.report.LogLine(L"Complete.");
                link.report.StatusLine(L"Wait for SFLD");
                poll = SYNC_CODE;
                for (int i = 0; i < kWakeSfldSyncCount; ++i) {
                    link.Pause(kPollPauseMs);
                    SerialPutByte(link, SYNC_CODE);
                }
            }
        } else if (byte == SYNC_CODE) {
            answered = true;
            watch.Alive();
            SerialSetBaud(link, kSfldBaud);
            ++job.attempts;
            if (UploadFlash(link, job, watch))
                return {};
            phase = job.flash.stage == FlashState::Stage::Untouched ? Phase::Handoff
                : job.flash.stage == FlashState::Stage::Erasing     ? Phase::Erase
                                                                    : Phase::Program;
            if (link.StopRequested())
                break;
            SerialSetBaud(link, kBootBaud);
            if (tooManyFailures())
                return gaveUp();
        } else {
            link.Pause(kPollPauseMs);
            poll = SYNC_CODE;
        }
    }
    return failed(Fault::Stopped);
}

} // namespace velmor
