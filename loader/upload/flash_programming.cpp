#include "loader/upload/flash_programming.h"

#include "loader/log/log.h"
#include "loader/serial/receiver_query.h"
#include "loader/upload/byte_codes.h"
#include "loader/upload/image_preparation.h"
#include "loader/upload/record_protocol.h"

#include <cstring>

namespace velmor {

bool WaitForErase(PortHandle port)
{
    unsigned sectors = 0;
    while (!StopRequested()) {
        uint8_t byte = 0;
        if (!SerialGetByte(port, byte, 0))
            continue;   // erasing a large range takes as long as it takes
        if (byte == SYNC_CODE) {
            StatusLine(L"FLASH erasing complete.");
            return true;
        }
        if (byte == ERASE_FAILED_CODE) {
            StatusLine(L"Flash erase failure.");
            return false;
        }
        if (byte == SECTOR_ERASED_CODE) {
            sectors = (sectors + 1) & 0xFFFF;
            StatusLine(Printf("%i sectors erased.", int(sectors)));
            continue;
        }
        StatusLine(Printf("Unknown command 0x%02X.", byte));
        StatusLine(L"FLASH erase failure.");
        return false;
    }
    return false;
}

bool ProgramFlash(PortHandle port, ImageSource& image)
{
    if (PfldUpdate()) {
        LogLine(L"Entering boot mode...");
        SerialPutByte(port, BOOT_MODE_CMD);
        if (!WaitForByte(port, BOOT_MODE_CMD)) {
            LogLine(L"Failed");
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
    if (!WaitForByte(port, SYNC_CODE))
        return false;

    UploadRecord range;
    range.Reset();
    range.MakeRangeRecord(image.StartAddress(), image.StartAddress() + image.Size());
    if (!SendRecord(port, range) || !WaitForErase(port))
        return false;
    LogLine(L"Complete.");
    LogLine(L"FLASH Programming...");

    UploadRecord data;
    for (;;) {
        if (!image.ReadNextBlock(data)) {
            StatusLine(L"Image read error.");
            return false;
        }
        if (data.DataCount() == 0) {
            data.MakeEndRecord();
            if (!SendRecord(port, data))
                return false;
            StatusLine(L"FLASH Programing Complete.");
            return true;
        }
        if (!SendRecord(port, data))
            return false;
    }
}

bool UploadFlash(PortHandle port)
{
    char reply[kSfldReplySize];
    const char* version = nullptr;
    while (!version) {
        if (StopRequested())
            return false;
        SerialPutByte(port, VERSION_CMD);
        PauseMs(kVersionPollPauseMs);
        std::memset(reply, 0, sizeof reply);
        if (SerialRead(port, reinterpret_cast<uint8_t*>(reply), sizeof reply - 1) > 0)
            version = std::strstr(reply, "$VER");
    }
    LogReplyText(version);

    SerialPutByte(port, TYPE_ID_CMD);
    PauseMs(kTypePauseMs);
    if (SerialRead(port, reinterpret_cast<uint8_t*>(reply), sizeof reply - 1) > 0) {
        if (const char* type = std::strchr(reply, char(TYPE_ID_CMD)))
            LogLine(Printf("TypeID:%d", int(int8_t(type[1]))));
    }

    if (ProgramFlash(port, TheImageSource())) {
        StatusLine(L"FLASH upload complete.");
        return true;
    }
    StatusLine(L"FLASH upload failed.");
    return false;
}

} // namespace velmor
