#include "tests/support/board_fixture.h"

#include "tests/support/image_files.h"

#include <algorithm>
#include <cstdio>

namespace velmor::test {

receiver::SimulatedBoard& BoardFixture::Start(receiver::BoardOptions options, const std::vector<uint8_t>& image,
                                              const std::string& name)
{
    m_board.reset();
    m_flashPath = m_folder.File(name + "-flash.bin");
    WriteFile(m_flashPath, image);
    options.deviceDir = m_folder.Path();
    options.deviceName = name;
    options.flashImage = m_flashPath;
    m_board = std::make_unique<receiver::SimulatedBoard>(options);
    m_board->Start();
    return *m_board;
}

::testing::AssertionResult BoardFixture::Holds(const std::vector<uint8_t>& image, size_t count) const
{
    const std::vector<uint8_t> flash = ReadFile(m_flashPath);
    if (flash.size() < count || image.size() < count)
        return ::testing::AssertionFailure() << "the board's flash or the image is shorter than " << count;
    const auto [at, ignored] = std::mismatch(image.begin(), image.begin() + long(count), flash.begin());
    if (at != image.begin() + long(count))
        return ::testing::AssertionFailure() << "the board's flash differs from the image at offset 0x" << std::hex
                                             << (at - image.begin()) << "\n" << FlashTransfer();
    return ::testing::AssertionSuccess();
}

std::string BoardFixture::FlashTransfer() const
{
    if (!m_board)
        return "no board\n";
    static constexpr const char* kKinds[] = {"data", "end", "range"};
    std::string text = "flash transfer as the board decoded it:\n";
    for (const auto& r : m_board->Transcript().Records(receiver::Transfer::Flash)) {
        char line[128];
        std::snprintf(line, sizeof line, "  #%u %s 0x%08X +%zu answer 0x%02X%s\n", r.index, kKinds[int(r.kind)],
                      r.address, r.dataLength, r.answer, r.repeated ? " (repeated)" : "");
        text += line;
    }
    return text;
}

uint32_t BoardFixture::WordAt(const std::vector<uint8_t>& image, size_t offset)
{
    return uint32_t(image[offset]) | uint32_t(image[offset + 1]) << 8 | uint32_t(image[offset + 2]) << 16
        | uint32_t(image[offset + 3]) << 24;
}

} // namespace velmor::test
