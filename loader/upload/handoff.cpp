#include "loader/upload/handoff.h"

#include "loader/log/log.h"
#include "loader/serial/receiver_query.h"
#include "loader/upload/byte_codes.h"
#include "loader/upload/flash_programming.h"
#include "loader/upload/image_preparation.h"
#include "loader/upload/record_protocol.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace velmor {
namespace {

void SendBootRequestAt(PortHandle port, uint32_t baud)
{
    SerialSetBaud(port, baud);
    SerialWrite(port, BOOT_REQUEST, sizeof BOOT_REQUEST);
    SerialSetBaud(port, kBootBaud);
    for (int i = 0; i < kBootSyncCount; ++i) {
        SerialPutByte(port, SYNC_CODE);
        if (i + 1 < kBootSyncCount)
            PauseMs(kBootSyncPauseMs);
    }
}

} // namespace

bool RequestBootMode(PortHandle port)
{
    StatusLine(L"Waiting for target answer at 19200...");
    const ReceiverInfo& info = TheReceiverInfo();
    if (info.baud != 0 && info.pflMode) {
        // The resident loader already answers: no boot request.
        SerialSetBaud(port, kBootBaud);
        SerialPutByte(port, SYNC_CODE);
    } else if (info.baud != 0) {
        SendBootRequestAt(port, info.baud);
    } else {
        for (uint32_t baud : kNoAnswerBootBauds)
            SendBootRequestAt(port, baud);
    }
    return true;
}

bool UploadSecondaryLoader(PortHandle port, SRecordReader& sfld, ReceiverWatch& watch)
{
    sfld.Rewind();
    LogLine(L"Uploading SFLD...");
    UploadRecord record;
    for (;;) {
        if (!sfld.ReadNextBlock(record)) {
            StatusLine(L"Image reading error.");
            watch.Failed(L"Image reading error.");
            return false;
        }
        if (record.DataCount() == 0) {
            record.MakeEndRecord();
            return SendRecord(port, record, watch);
        }
        if (!SendRecord(port, record, watch))
            return false;
    }
}

bool RunHandoff(PortHandle port, const UploadLimits& limits)
{
    ReceiverWatch watch(limits);
    int failures = 0;
    // Every failed SFLD or flash upload counts; a failure that repeats must not
    // erase the flash again and again.
    const auto tooManyFailures = [&] {
        if (++failures < limits.attempts)
            return false;
        LogLine(Printf("Upload stopped after %d failed attempts: %ls", failures, watch.LastFailure().c_str()));
        return true;
    };

    SRecordReader& sfld = TheSfldReader();
    StatusLine(Printf("Image Start address: 0x%08X", sfld.LowestAddress()));
    StatusLine(Printf("Image Entry point: 0x%08X", sfld.EntryPoint()));
    StatusLine(Printf("Image Size: %lu bytes", static_cast<unsigned long>(sfld.Size())));
    sfld.Rewind();
    RequestBootMode(port);
    watch.Alive();

    uint8_t poll = SYNC_CODE;
    std::vector<char> version(kVersionBufferSize);
    while (!StopRequested()) {
        if (watch.Silent()) {
            LogLine(Printf("Upload stopped: %ls", kNoAnswerText));
            return false;
        }
        SerialPutByte(port, poll);
        PauseMs(kPollPauseMs);
        uint8_t byte = 0;
        if (!SerialGetByte(port, byte, 0))
            continue;

        if (byte == '$') {
            watch.Alive();
            PauseMs(kPollPauseMs);
            std::fill(version.begin(), version.end(), 0);
            version[0] = '$';
            if (SerialRead(port, reinterpret_cast<uint8_t*>(version.data() + 1), version.size() - 2) == 0)
                continue;
            if (std::strstr(version.data(), "$VER"))
                LogReplyText(version.data());
            StatusLine(L"Wait for REC_WAIT_CODE.");
            poll = PFLD_VERSION_POLL;
        } else if (byte == PFLD_VERSION_POLL) {
            watch.Alive();
            if (poll != PFLD_ASK_POLL) {
                poll = PFLD_ASK_POLL;
                StatusLine(L"Ask PFLD version.");
            }
        } else if (byte == REC_WAIT_CODE) {
            watch.Alive();
            if (!UploadSecondaryLoader(port, sfld, watch)) {
                if (tooManyFailures())
                    return false;
            } else {
                LogLine(L"Complete.");
                StatusLine(L"Wait for SFLD");
                poll = SYNC_CODE;
                for (int i = 0; i < kWakeSfldSyncCount; ++i) {
                    PauseMs(kPollPauseMs);
                    SerialPutByte(port, SYNC_CODE);
                }
            }
        } else if (byte == SYNC_CODE) {
            watch.Alive();
            SerialSetBaud(port, kSfldBaud);
            if (UploadFlash(port, watch))
                return true;
            SerialSetBaud(port, kBootBaud);
            if (tooManyFailures())
                return false;
        } else {
            PauseMs(kPollPauseMs);
            poll = SYNC_CODE;
        }
    }
    return false;
}

} // namespace velmor
