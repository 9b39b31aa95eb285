// A simulated receiver board with a sample flash image, published as
// <device folder>/gps1 for the length of a test.
#pragma once

#include "receiver/sample_image.h"
#include "receiver/simulated_board.h"
#include "tests/support/device_folder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace velmor::test {

class BoardFixture {
public:
    explicit BoardFixture(const DeviceFolder& folder) : m_folder(folder) {}

    // Writes `image` as the board's flash file and starts a board on it.
    receiver::SimulatedBoard& Start(receiver::BoardOptions options, const std::vector<uint8_t>& image,
                                    const std::string& name = "gps1");
    // Whether the first `count` bytes of the board's flash are the image's.
    ::testing::AssertionResult Holds(const std::vector<uint8_t>& image, size_t count) const;
    // The flash transfer's records as the board decoded them, one per line,
    // for a failure message.
    std::string FlashTransfer() const;
    void Stop() { m_board.reset(); }

    // Little-endian word of an image at a file offset.
    static uint32_t WordAt(const std::vector<uint8_t>& image, size_t offset);

private:
    const DeviceFolder& m_folder;
    std::string m_flashPath;
    std::unique_ptr<receiver::SimulatedBoard> m_board;
};

} // namespace velmor::test
