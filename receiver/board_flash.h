// The board's flash memory: loaded from a binary image (a flat copy of flash
// from its base address), read by address, and written back to a file.
#pragma once

#include "receiver/flash_layout.h"

#include <cstdint>
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

    // The FW version text, or "" when the FW header or the marker is missing.
    std::string FwVersionText() const;

private:
    std::vector<uint8_t> m_memory;
    size_t m_loadedSize = 0;
};

} // namespace receiver
