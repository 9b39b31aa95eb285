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

bool WaitForByte(const Link& link, uint8_t code, ReceiverWatch& watch)
{
    const ReceiverWatch::Clock::time_point start = link.line.Now();
    uint8_t byte = 0;
    while (!link.StopRequested()) {
        if (!SerialGetByte(link, byte, 0))
            return false;
        if (byte == code) {
            watch.Alive();
            return true;
        }
        if (link.line.Now() - start >= watch.Limits().silence)
            return false;
    }
    return false;
}

bool SendRecordOnce(const Link& link, const UploadRecord& record, ReceiverWatch& watch)
{
    SerialPurge(link);
    link.Pause(kPurgeSettleMs);
    SerialPutByte(link, SYNC_CODE);
    if (!WaitForByte(link, REC_WAIT_CODE, watch)) {
        watch.Failed(Fault::Silence, L"No REC_WAIT_CODE for a record.");
        return false;
    }
    if (!SerialWrite(link, record.Frame(), record.WireLength())) {
        watch.Failed(Fault::Silence, L"The port took no record.");
        return false;
    }

    int recWaits = 0;
    while (!link.StopRequested()) {
        // A slow receiver is waited for, a silent or chattering one only up to the limit.
        if (watch.Silent()) {
            link.report.StatusLine(kNoAnswerText);
            watch.Failed(Fault::Silence, kNoAnswerText);
            return false;
        }
        uint8_t byte = 0;
        if (!SerialGetByte(link, byte, 0)) {
            link.Pause(kReplyRetryPauseMs);
            continue;
        }
        if (byte == SYNC_CODE) {
            watch.Alive();
            link.report.StatusLine(Printf("Address:0x%08X.", record.Address()));
            return true;
        }
        if (byte == REC_WAIT_CODE) {
            watch.Alive();
            // The counter is never reset: past the limit every further REC_WAIT resends.
            if (++recWaits > kRecWaitLimit) {
                SerialFlush(link);
                SerialPurge(link);
                link.Pause(kRecWaitResendPauseMs);
                link.report.StatusLine(L"REC_WAIT break");
                SerialWrite(link, record.Frame(), record.WireLength());
            }
            continue;
        }
        if (const wchar_t* error = RecordErrorText(byte)) {
            watch.Alive();
            link.report.StatusLine(error);
            watch.Failed(Fault::ReceiverError, error, byte);
            return false;
        }
    }
    return false;
}

bool SendRecord(const Link& link, const UploadRecord& record, ReceiverWatch& watch)
{
    if (SendRecordOnce(link, record, watch))
        return true;
    link.report.StatusLine(L"Repeat Sending Record.");
    for (int pass = 0; pass < kResyncPasses && !link.StopRequested() && !watch.Silent(); ++pass) {
        uint8_t byte = 0;
        if (SerialGetByte(link, byte, 0)) {
            if (byte == REC_WAIT_CODE) {
                watch.Alive();
                break;
            }
            link.report.StatusLine(Printf("Rcv:%d %c", pass, byte));
            SerialPutByte(link, SYNC_CODE);
        }
        link.Pause(kResyncPauseMs);
    }
    return false;
}

bool SendRecords(const Link& link, const std::function<bool(UploadRecord&)>& read, ReceiverWatch& watch,
                 const wchar_t* readError, const std::function<void(const UploadRecord&)>& taken)
{
    UploadRecord record;
    for (;;) {
        if (!read(record)) {
            link.report.StatusLine(readError);
            watch.Failed(Fault::ImageRefused, readError);
            return false;
        }
        const bool last = record.DataCount() == 0;
        if (last)
            record.MakeEndRecord();
        if (!SendRecord(link, record, watch))
            return false;
        if (last)
            return true;
        if (taken)
            taken(record);
    }
}

} // namespace velmor
