#include "tests/support/board_fixture.h"

#include "tests/support/image_files.h"

#include <algorithm>

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
    if (flash.size() < count || image.size() < count || !std::equal(image.begin(), image.begin() + long(count), flash.begin()))
        return ::testing::AssertionFailure() << "the board's flash differs from the image";
    return ::testing::AssertionSuccess();
}

uint32_t BoardFixture::WordAt(const std::vector<uint8_t>& image, size_t offset)
{
    return uint32_t(image[offset]) | uint32_t(image[offset + 1]) << 8 | uint32_t(image[offset + 2]) << 16
        | uint32_t(image[offset + 3]) << 24;
}

} // namespace velmor::test
