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

bool WaitForByte(PortHandle port, uint8_t code)
{
    uint8_t byte = 0;
    while (!StopRequested()) {
        if (!SerialGetByte(port, byte, 0))
            return false;
        if (byte == code)
            return true;
    }
    return false;
}

bool SendRecordOnce(PortHandle port, const UploadRecord& record)
{
    SerialPurge(port);
    PauseMs(kPurgeSettleMs);
    SerialPutByte(port, SYNC_CODE);
    if (!WaitForByte(port, REC_WAIT_CODE))
        return false;
    SerialWrite(port, record.Frame(), record.WireLength());

    int recWaits = 0;
    while (!StopRequested()) {
        uint8_t byte = 0;
        if (!SerialGetByte(port, byte, 0)) {
            PauseMs(kReplyRetryPauseMs);   // no overall limit: a slow receiver is waited for
            continue;
        }
        if (byte == SYNC_CODE) {
            StatusLine(Printf("Address:0x%08X.", record.Address()));
            return true;
        }
        if (byte == REC_WAIT_CODE) {
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
            StatusLine(error);
            return false;
        }
    }
    return false;
}

bool SendRecord(PortHandle port, const UploadRecord& record)
{
    if (SendRecordOnce(port, record))
        return true;
    StatusLine(L"Repeat Sending Record.");
    for (int pass = 0; pass < kResyncPasses && !StopRequested(); ++pass) {
        uint8_t byte = 0;
        if (SerialGetByte(port, byte, 0)) {
            if (byte == REC_WAIT_CODE)
                break;
            StatusLine(Printf("Rcv:%d %c", pass, byte));
            SerialPutByte(port, SYNC_CODE);
        }
        PauseMs(kResyncPauseMs);
    }
    return false;
}

} // namespace velmor
