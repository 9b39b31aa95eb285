#include "loader/upload/flash_programming.h"

#include "loader/log/log.h"
#include "loader/serial/receiver_query.h"
#include "loader/upload/byte_codes.h"
#include "loader/upload/record_protocol.h"

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
            watch.Failed(kNoAnswerText);
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
            watch.Failed(L"Flash erase failure.");
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
        watch.Failed(Printf("Unknown command 0x%02X during the erase.", byte));
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
            watch.Failed(L"No answer to the boot mode command.");
            return false;
        }
        link.report.LogLine(L"Complete");
    }
    link.report.StatusLine(L"FLASHProgram Begin");
    image.Rewind();
    link.report.SetUploadInProgress(true);

    SerialPutByte(link, SYNC_CODE);
    link.report.LogLine(L"Erasing FLASH...");
    link.report.Progress(Phase::Erase, 0, image.Size());
    link.Pause(kEraseCommandPauseMs);
    SerialPutByte(link, ERASE_CMD);
    if (!WaitForByte(link, SYNC_CODE, watch)) {
        watch.Failed(L"No answer to the erase command.");
        return false;
    }

    UploadRecord range;
    range.Reset();
    range.MakeRangeRecord(image.StartAddress(), image.StartAddress() + image.Size());
    if (!SendRecord(link, range, watch) || !WaitForErase(link, watch))
        return false;
    link.report.LogLine(L"Complete.");
    link.report.LogLine(L"FLASH Programming...");

    UploadRecord data;
    uint64_t programmed = 0;
    link.report.Progress(Phase::Program, 0, image.Size());
    for (;;) {
        if (!image.ReadNextBlock(data)) {
            link.report.StatusLine(L"Image read error.");
            watch.Failed(L"Image read error.");
            return false;
        }
        if (data.DataCount() == 0) {
            data.MakeEndRecord();
            if (!SendRecord(link, data, watch))
                return false;
            link.report.StatusLine(L"FLASH Programing Complete.");
            return true;
        }
        if (!SendRecord(link, data, watch))
            return false;
        programmed += data.DataCount();
        link.report.Progress(Phase::Program, programmed, image.Size());
    }
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
            watch.Failed(L"No version from the SFLD.");
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
