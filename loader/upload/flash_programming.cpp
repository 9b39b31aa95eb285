#include "loader/upload/flash_programming.h"

#include "loader/log/log.h"
#include "loader/serial/receiver_query.h"
#include "loader/upload/byte_codes.h"
#include "loader/upload/record_protocol.h"

#include <algorithm>
#include <cstring>

namespace velmor {

bool WaitForErase(const Link& link, ReceiverWatch& watch)
{
    unsigned sectors = 0;
    while (!link.StopRequested()) {
        // A large range takes as long as it takes, but every sector reports.
        if (watch.Silent()) {
            link.report.StatusLine(kNoAnswerText);
            link.report.StatusLine(L"FLASH erase failure.");
            watch.Failed(Fault::Silence, kNoAnswerText);
            return false;
        }
        uint8_t byte = 0;
        if (!SerialGetByte(link, byte, 0))
            continue;
        if (byte == SYNC_CODE) {
            watch.Alive();
            link.report.StatusLine(L"FLASH erasing complete.");
            return true;
        }
        if (byte == ERASE_FAILED_CODE) {
            link.report.StatusLine(L"Flash erase failure.");
            watch.Failed(Fault::ReceiverError, L"Flash erase failure.", byte);
            return false;
        }
        if (byte == SECTOR_ERASED_CODE) {
            watch.Alive();
            sectors = (sectors + 1) & 0xFFFF;
            link.report.StatusLine(Printf("%i sectors erased.", int(sectors)));
            continue;
        }
        link.report.StatusLine(Printf("Unknown command 0x%02X.", byte));
        link.report.StatusLine(L"FLASH erase failure.");
        watch.Failed(Fault::ReceiverError, Printf("Unknown command 0x%02X during the erase.", byte), byte);
        return false;
    }
    return false;
}

bool ProgramFlash(const Link& link, UploadJob& job, ReceiverWatch& watch)
{
    ImageSource& image = job.image;
    if (job.pfldUpdate) {
        link.report.LogLine(L"Entering boot mode...");
        SerialPutByte(link, BOOT_MODE_CMD);
        if (!WaitForByte(link, BOOT_MODE_CMD, watch)) {
            link.report.LogLine(L"Failed");
            watch.Failed(Fault::Silence, L"No answer to the boot mode command.");
            return false;
        }
        link.report.LogLine(L"Complete");
    }
    link.report.StatusLine(L"FLASHProgram Begin");
    image.Rewind();
    const uint32_t start = image.StartAddress();
    const uint32_t end = image.StartAddress() + image.Size();
    // From here on the flash may change: the dialog asks before it closes.
    link.report.Progress(Phase::Erase, 0, image.Size());

    SerialPutByte(link, SYNC_CODE);
    link.report.LogLine(L"Erasing FLASH...");
    link.Pause(kEraseCommandPauseMs);
    job.flash = {FlashState::Stage::Erasing, start, end, start};
    SerialPutByte(link, ERASE_CMD);
    if (!WaitForByte(link, SYNC_CODE, watch)) {
        watch.Failed(Fault::Silence, L"No answer to the erase command.");
        return false;
    }

    UploadRecord range;
    range.Reset();
    range.MakeRangeRecord(start, end);
    if (!SendRecord(link, range, watch) || !WaitForErase(link, watch))
        return false;
    job.flash.stage = FlashState::Stage::Programming;
    link.report.LogLine(L"Complete.");
    link.report.LogLine(L"FLASH Programming...");

    uint64_t programmed = 0;
    link.report.Progress(Phase::Program, 0, image.Size());
    const bool sent = SendRecords(
        link, [&image](UploadRecord& record) { return image.ReadNextBlock(record); }, watch, L"Image read error.",
        [&](const UploadRecord& data) {
            programmed += data.DataCount();
            // Only an unbroken run from the erase start is known to be programmed:
            // S-records may come in any order.
            if (data.Address() <= job.flash.programmedTo)
                job.flash.programmedTo = std::max(job.flash.programmedTo, data.Address() + data.DataCount());
            link.report.Progress(Phase::Program, programmed, image.Size());
        });
    if (!sent)
        return false;
    job.flash.stage = FlashState::Stage::Written;
    link.report.StatusLine(L"FLASH Programing Complete.");
    return true;
}

bool UploadFlash(const Link& link, UploadJob& job, ReceiverWatch& watch)
{
    char reply[kSfldReplySize];
    const char* version = nullptr;
    // A stray SYNC_CODE brings the hand-off here too: with no SFLD to answer,
    // go back to polling after the budget instead of staying at 115200.
    const auto giveUp = link.line.Now() + watch.Limits().versionPoll;
    while (!version) {
        if (link.StopRequested())
            return false;
        if (link.line.Now() >= giveUp) {
            watch.Failed(Fault::Silence, L"No version from the SFLD.");
            link.report.StatusLine(L"FLASH upload failed.");
            return false;
        }
        SerialPutByte(link, VERSION_CMD);
        link.Pause(kVersionPollPauseMs);
        std::memset(reply, 0, sizeof reply);
        if (SerialRead(link, reinterpret_cast<uint8_t*>(reply), sizeof reply - 1) > 0)
            version = std::strstr(reply, "$VER");
    }
    watch.Alive();
    LogReplyText(link.report, version);

    SerialPutByte(link, TYPE_ID_CMD);
    link.Pause(kTypePauseMs);
    if (SerialRead(link, reinterpret_cast<uint8_t*>(reply), sizeof reply - 1) > 0) {
        if (const char* type = std::strchr(reply, char(TYPE_ID_CMD)))
            link.report.LogLine(Printf("TypeID:%d", int(int8_t(type[1]))));
    }

    if (ProgramFlash(link, job, watch)) {
        link.report.StatusLine(L"FLASH upload complete.");
        return true;
    }
    link.report.StatusLine(L"FLASH upload failed.");
    return false;
}

} // namespace velmor
