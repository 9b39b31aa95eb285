// Flash contents of the simulated board.
#include "receiver/board_flash.h"

#include "receiver/xor_checksum.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace receiver {

BoardFlash::BoardFlash() : m_memory(kFlashSize, kErasedByte) {}

void BoardFlash::Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read flash image " + path);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        throw std::runtime_error("cannot read flash image " + path);
    if (bytes.size() > kFlashSize)
        throw std::runtime_error("flash image " + path + " is larger than the board's flash");

    std::fill(m_memory.begin(), m_memory.end(), kErasedByte);
    std::copy(bytes.begin(), bytes.end(), m_memory.begin());
    m_loadedSize = bytes.size();
}

void BoardFlash::Save(const std::string& path) const
{
    size_t end = m_memory.size();
    while (end > m_loadedSize && m_memory[end - 1] == kErasedByte)
        --end;
    end = std::min(m_memory.size(), (end + 3) / 4 * 4);

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(m_memory.data()), std::streamsize(end));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write flash image " + path);
}

uint8_t BoardFlash::Byte(uint32_t address) const
{
    if (address < kFlashBase || address - kFlashBase >= m_memory.size())
        return kErasedByte;
    return m_memory[address - kFlashBase];
}

uint32_t BoardFlash::Word(uint32_t address) const
{
    uint32_t value = 0;
    for (uint32_t i = 0; i < 4; ++i)
        value |= uint32_t(Byte(address + i)) << (8 * i);
    return value;
}

std::vector<uint8_t> BoardFlash::Read(uint32_t address, size_t count) const
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = Byte(uint32_t(address + i));
    return bytes;
}

bool BoardFlash::Holds(uint32_t address, size_t count)
{
    return address >= kFlashBase && count <= kFlashSize && address - kFlashBase <= kFlashSize - count;
}

void BoardFlash::Erase(uint32_t address, size_t count)
{
    std::fill_n(m_memory.begin() + (address - kFlashBase), count, kErasedByte);
}

bool BoardFlash::IsErased(uint32_t address, size_t count) const
{
    const auto from = m_memory.begin() + (address - kFlashBase);
    return std::all_of(from, from + long(count), [](uint8_t b) { return b == kErasedByte; });
}

void BoardFlash::Program(uint32_t address, std::span<const uint8_t> bytes)
{
    std::copy(bytes.begin(), bytes.end(), m_memory.begin() + (address - kFlashBase));
}

std::string BoardFlash::FwVersionText() const
{
    const uint32_t end = Word(kFwStart + kHeaderEndOffset);
    if (Word(kFwStart + kHeaderStartOffset) != kFwStart || end <= kFwStart + kVersionAreaSize
        || end >= kFwLimit)
        return {};

    const std::vector<uint8_t> area = Read(end - kVersionAreaSize, kVersionAreaSize);
    const std::string text(area.begin(), area.end());
    const size_t marker = text.find(kFwVersionMarker);
    if (marker == std::string::npos)
        return {};
    std::string version;
    for (size_t i = marker + kFwVersionMarker.size(); i < text.size(); ++i) {
        const char c = text[i];
        // The reply's own separators would end the field early on the other side.
        if (c <= ' ' || c > '~' || c == ',' || c == '*')
            break;
        version += c;
    }
    return version;
}

std::string BoardFlash::PfldVersionText() const
{
    const uint32_t end = Word(kPfldStart + kHeaderEndOffset);
    if (Word(kPfldStart + kHeaderStartOffset) != kPfldStart || end <= kPfldStart + kVersionAreaSize
        || end >= kPfldLimit)
        return {};
    std::string text;
    for (uint8_t c : Read(end - kVersionAreaSize, kVersionAreaSize)) {
        if (c < ' ' || c > '~')
            break;
        text += char(c);
    }
    return text;
}

bool BoardFlash::HasFirmware() const
{
    const uint32_t end = Word(kFwStart + kHeaderEndOffset);
    return Word(kFwStart + kHeaderStartOffset) == kFwStart && end > kFwStart + kHeaderSize && end < kFwLimit
        && Byte(kFwStart + 3) == kSectionFirstWordTop;
}

void BoardFlash::SealFirmware()
{
    if (!HasFirmware())
        return;
    const uint32_t end = Word(kFwStart + kHeaderEndOffset);
    if (!Holds(end, 4) || !IsErased(end, 4))
        return;
    const std::vector<uint8_t> section = Read(kFwStart, end - kFwStart);
    const uint32_t sum = XorWords(section);
    const uint8_t word[4] = {uint8_t(sum), uint8_t(sum >> 8), uint8_t(sum >> 16), uint8_t(sum >> 24)};
    Program(end, word);
}

} // namespace receiver
