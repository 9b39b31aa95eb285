#include "loader/upload/handoff.h"

#include "loader/log/log.h"
#include "loader/serial/receiver_query.h"
#include "loader/upload/byte_codes.h"
#include "loader/upload/flash_programming.h"
#include "loader/upload/image_preparation.h"
#include "loader/upload/record_protocol.h"

#include <cstring>

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

bool UploadSecondaryLoader(PortHandle port, SRecordReader& sfld)
{
    sfld.Rewind();
    LogLine(L"Uploading SFLD...");
    UploadRecord record;
    for (;;) {
        if (!sfld.ReadNextBlock(record)) {
            StatusLine(L"Image reading error.");
            return false;
        }
        if (record.DataCount() == 0) {
            record.MakeEndRecord();
            return SendRecord(port, record);
        }
        if (!SendRecord(port, record))
            return false;
    }
}

bool RunHandoff(PortHandle port)
{
    SRecordReader& sfld = TheSfldReader();
    StatusLine(Printf("Image Start address: 0x%08X", sfld.LowestAddress()));
    StatusLine(Printf("Image Entry point: 0x%08X", sfld.EntryPoint()));
    StatusLine(Printf("Image Size: %lu bytes", static_cast<unsigned long>(sfld.Size())));
    sfld.Rewind();
    RequestBootMode(port);

    uint8_t poll = SYNC_CODE;
    static char version[kVersionBufferSize];
    while (!StopRequested()) {
        SerialPutByte(port, poll);
        PauseMs(kPollPauseMs);
        uint8_t byte = 0;
        if (!SerialGetByte(port, byte, 0))
            continue;

        if (byte == '$') {
            PauseMs(kPollPauseMs);
            std::memset(version, 0, sizeof version);
            version[0] = '$';
            if (SerialRead(port, reinterpret_cast<uint8_t*>(version + 1), sizeof version - 2) == 0)
                continue;
            if (std::strstr(version, "$VER"))
                LogReplyText(version);
            StatusLine(L"Wait for REC_WAIT_CODE.");
            poll = PFLD_VERSION_POLL;
        } else if (byte == PFLD_VERSION_POLL) {
            if (poll != PFLD_ASK_POLL) {
                poll = PFLD_ASK_POLL;
                StatusLine(L"Ask PFLD version.");
            }
        } else if (byte == REC_WAIT_CODE) {
            if (UploadSecondaryLoader(port, sfld)) {
                LogLine(L"Complete.");
                StatusLine(L"Wait for SFLD");
                poll = SYNC_CODE;
                for (int i = 0; i < kWakeSfldSyncCount; ++i) {
                    PauseMs(kPollPauseMs);
                    SerialPutByte(port, SYNC_CODE);
                }
            }
        } else if (byte == SYNC_CODE) {
            SerialSetBaud(port, kSfldBaud);
            if (UploadFlash(port))
                return true;
            SerialSetBaud(port, kBootBaud);
        } else {
            PauseMs(kPollPauseMs);
            poll = SYNC_CODE;
        }
    }
    return false;
}

} // namespace velmor
