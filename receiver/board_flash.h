// The board's flash memory: loaded from a binary image (a flat copy of flash
// from its base address), read, erased and programmed, and written back to a file.
#pragma once

#include "receiver/flash_layout.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace receiver {

class BoardFlash {
public:
    BoardFlash();

    // Replaces the whole flash: the file's bytes from the base, erased beyond.
    // Throws std::runtime_error when the file cannot be read or is too big.
    void Load(const std::string& path);
    // Writes the flash up to the end of the loaded file or the last programmed
    // word, whichever is further. Throws std::runtime_error on failure.
    void Save(const std::string& path) const;

    // Bytes outside flash read as erased, like an unmapped bus.
    uint8_t Byte(uint32_t address) const;
    uint32_t Word(uint32_t address) const;   // little-endian
    std::vector<uint8_t> Read(uint32_t address, size_t count) const;

    // [address, address + count) lies inside the flash.
    static bool Holds(uint32_t address, size_t count);
    // Callers check Holds() first.
    void Erase(uint32_t address, size_t count);
    bool IsErased(uint32_t address, size_t count) const;
    void Program(uint32_t address, std::span<const uint8_t> bytes);

    // The FW version text, or "" when the FW header or the marker is missing.
    std::string FwVersionText() const;
    // The text in the PFLD's version area, or "" without a PFLD header.
    std::string PfldVersionText() const;
    // A FW header and a first word the board would start from. The checksum
    // word is not asked for: an upload leaves it out.
    bool HasFirmware() const;
    // After an upload: the FW checksum word lies past the uploaded range, so the
    // secondary loader computes it and stores it when that word is still erased.
    void SealFirmware();

private:
    std::vector<uint8_t> m_memory;
    size_t m_loadedSize = 0;
};

} // namespace receiver
