#include "loader/upload/flash_programming.h"

#include "loader/log/log.h"
#include "loader/serial/receiver_query.h"
#include "loader/upload/byte_codes.h"
#include "loader/upload/image_preparation.h"
#include "loader/upload/record_protocol.h"

#include <cstring>

namespace velmor {

bool WaitForErase(PortHandle port, ReceiverWatch& watch)
{
    unsigned sectors = 0;
    while (!StopRequested()) {
        // A large range takes as long as it takes, but every sector reports.
        if (watch.Silent()) {
            StatusLine(kNoAnswerText);
            StatusLine(L"FLASH erase failure.");
            watch.Failed(kNoAnswerText);
            return false;
        }
        uint8_t byte = 0;
        if (!SerialGetByte(port, byte, 0))
            continue;
        if (byte == SYNC_CODE) {
            watch.Alive();
            StatusLine(L"FLASH erasing complete.");
            return true;
        }
        if (byte == ERASE_FAILED_CODE) {
            StatusLine(L"Flash erase failure.");
            watch.Failed(L"Flash erase failure.");
            return false;
        }
        if (byte == SECTOR_ERASED_CODE) {
            watch.Alive();
            sectors = (sectors + 1) & 0xFFFF;
            StatusLine(Printf("%i sectors erased.", int(sectors)));
            continue;
        }
        StatusLine(Printf("Unknown command 0x%02X.", byte));
        StatusLine(L"FLASH erase failure.");
        watch.Failed(Printf("Unknown command 0x%02X during the erase.", byte));
        return false;
    }
    return false;
}

bool ProgramFlash(PortHandle port, ImageSource& image, ReceiverWatch& watch)
{
    if (PfldUpdate()) {
        LogLine(L"Entering boot mode...");
        SerialPutByte(port, BOOT_MODE_CMD);
        if (!WaitForByte(port, BOOT_MODE_CMD, watch)) {
            LogLine(L"Failed");
            watch.Failed(L"No answer to the boot mode command.");
            return false;
        }
        LogLine(L"Complete");
    }
    StatusLine(L"FLASHProgram Begin");
    image.Rewind();
    SetUploadInProgress(true);

    SerialPutByte(port, SYNC_CODE);
    LogLine(L"Erasing FLASH...");
    PauseMs(kEraseCommandPauseMs);
    SerialPutByte(port, ERASE_CMD);
    if (!WaitForByte(port, SYNC_CODE, watch)) {
        watch.Failed(L"No answer to the erase command.");
        return false;
    }

    UploadRecord range;
    range.Reset();
    range.MakeRangeRecord(image.StartAddress(), image.StartAddress() + image.Size());
    if (!SendRecord(port, range, watch) || !WaitForErase(port, watch))
        return false;
    LogLine(L"Complete.");
    LogLine(L"FLASH Programming...");

    UploadRecord data;
    for (;;) {
        if (!image.ReadNextBlock(data)) {
            StatusLine(L"Image read error.");
            watch.Failed(L"Image read error.");
            return false;
        }
        if (data.DataCount() == 0) {
            data.MakeEndRecord();
            if (!SendRecord(port, data, watch))
                return false;
            StatusLine(L"FLASH Programing Complete.");
            return true;
        }
        if (!SendRecord(port, data, watch))
            return false;
    }
}

bool UploadFlash(PortHandle port, ReceiverWatch& watch)
{
    char reply[kSfldReplySize];
    const char* version = nullptr;
    // A stray SYNC_CODE brings the hand-off here too: with no SFLD to answer,
    // go back to polling after the budget instead of staying at 115200.
    const auto giveUp = ReceiverWatch::Clock::now() + watch.Limits().versionPoll;
    while (!version) {
        if (StopRequested())
            return false;
        if (ReceiverWatch::Clock::now() >= giveUp) {
            watch.Failed(L"No version from the SFLD.");
            StatusLine(L"FLASH upload failed.");
            return false;
        }
        SerialPutByte(port, VERSION_CMD);
        PauseMs(kVersionPollPauseMs);
        std::memset(reply, 0, sizeof reply);
        if (SerialRead(port, reinterpret_cast<uint8_t*>(reply), sizeof reply - 1) > 0)
            version = std::strstr(reply, "$VER");
    }
    watch.Alive();
    LogReplyText(version);

    SerialPutByte(port, TYPE_ID_CMD);
    PauseMs(kTypePauseMs);
    if (SerialRead(port, reinterpret_cast<uint8_t*>(reply), sizeof reply - 1) > 0) {
        if (const char* type = std::strchr(reply, char(TYPE_ID_CMD)))
            LogLine(Printf("TypeID:%d", int(int8_t(type[1]))));
    }

    if (ProgramFlash(port, TheImageSource(), watch)) {
        StatusLine(L"FLASH upload complete.");
        return true;
    }
    StatusLine(L"FLASH upload failed.");
    return false;
}

} // namespace velmor
