#include "loader/upload/record_protocol.h"

#include "loader/log/log.h"
#include "loader/upload/byte_codes.h"

namespace velmor {
namespace {

const wchar_t* RecordErrorText(uint8_t code)
{
    switch (code) {
    case BAD_CSUM: return L"ERROR: BAD_CSUM";
    case BAD_LENGTH: return L"ERROR: BAD_LENGTH";
    case BAD_COMMAND: return L"ERROR: BAD_COMMAND";
    case RECORD_TIMEOUT: return L"ERROR: RECORD_TIMEOUT";
    case NO_REC_END: return L"ERROR: NO_REC_END";
    default: return nullptr;
    }
}

} // namespace

bool WaitForByte(PortHandle port, uint8_t code, ReceiverWatch& watch)
{
    const ReceiverWatch::Clock::time_point start = ReceiverWatch::Clock::now();
    uint8_t byte = 0;
    while (!StopRequested()) {
        if (!SerialGetByte(port, byte, 0))
            return false;
        if (byte == code) {
            watch.Alive();
            return true;
        }
        if (ReceiverWatch::Clock::now() - start >= watch.Limits().silence)
            return false;
    }
    return false;
}

bool SendRecordOnce(PortHandle port, const UploadRecord& record, ReceiverWatch& watch)
{
    SerialPurge(port);
    PauseMs(kPurgeSettleMs);
    SerialPutByte(port, SYNC_CODE);
    if (!WaitForByte(port, REC_WAIT_CODE, watch)) {
        watch.Failed(L"No REC_WAIT_CODE for a record.");
        return false;
    }
    if (!SerialWrite(port, record.Frame(), record.WireLength())) {
        watch.Failed(L"The port took no record.");
        return false;
    }

    int recWaits = 0;
    while (!StopRequested()) {
        // A slow receiver is waited for, a silent or chattering one only up to the limit.
        if (watch.Silent()) {
            StatusLine(kNoAnswerText);
            watch.Failed(kNoAnswerText);
            return false;
        }
        uint8_t byte = 0;
        if (!SerialGetByte(port, byte, 0)) {
            PauseMs(kReplyRetryPauseMs);
            continue;
        }
        if (byte == SYNC_CODE) {
            watch.Alive();
            StatusLine(Printf("Address:0x%08X.", record.Address()));
            return true;
        }
        if (byte == REC_WAIT_CODE) {
            watch.Alive();
            // The counter is never reset: past the limit every further REC_WAIT resends.
            if (++recWaits > kRecWaitLimit) {
                SerialFlush(port);
                SerialPurge(port);
                PauseMs(kRecWaitResendPauseMs);
                StatusLine(L"REC_WAIT break");
                SerialWrite(port, record.Frame(), record.WireLength());
            }
            continue;
        }
        if (const wchar_t* error = RecordErrorText(byte)) {
            watch.Alive();
            StatusLine(error);
            watch.Failed(error);
            return false;
        }
    }
    return false;
}

bool SendRecord(PortHandle port, const UploadRecord& record, ReceiverWatch& watch)
{
    if (SendRecordOnce(port, record, watch))
        return true;
    StatusLine(L"Repeat Sending Record.");
    for (int pass = 0; pass < kResyncPasses && !StopRequested() && !watch.Silent(); ++pass) {
        uint8_t byte = 0;
        if (SerialGetByte(port, byte, 0)) {
            if (byte == REC_WAIT_CODE) {
                watch.Alive();
                break;
            }
            StatusLine(Printf("Rcv:%d %c", pass, byte));
            SerialPutByte(port, SYNC_CODE);
        }
        PauseMs(kResyncPauseMs);
    }
    return false;
}

} // namespace velmor
