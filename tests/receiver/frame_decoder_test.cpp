// The board's frame decoder, frame by frame: what it accepts, and which error
// code answers each kind of broken frame.
#include "loader/upload/byte_codes.h"
#include "receiver/frame_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace receiver {
namespace {

using Bytes = std::vector<uint8_t>;

// Feeds a frame without its start mark; how many bytes it took to end, and the result.
struct Fed {
    size_t taken = 0;
    bool ended = false;
    DecodedFrame frame;
};

Fed Feed(const Bytes& afterStart)
{
    FrameDecoder decoder;
    decoder.Start();
    Fed fed;
    for (uint8_t b : afterStart) {
        ++fed.taken;
        if (decoder.Feed(b)) {
            fed.ended = true;
            break;
        }
    }
    fed.frame = decoder.Frame();
    return fed;
}

TEST(FrameDecoder, AcceptsAndRejects)
{
    const struct {
        const char* legend;
        Bytes frame;   // after the start mark
        uint8_t error;
        uint32_t address;
        Bytes data;
    } cases[] = {
        {"worked example, padded", {0, 4, 0x10, 0, 0, 0, 1, 2, 3, 0, 0x12, 0x02, 0x5D}, 0, 0x10000000, {1, 2, 3, 0}},
        {"end record", {0, 0, 0, 0, 0x5D}, 0, 0, {}},
        {"range record", {0, 4, 0x10, 0, 0, 0, 0x10, 1, 0, 0, 0x00, 0x01, 0x5D}, 0, 0x10000000, {0x10, 1, 0, 0}},
        {"checksum off by one bit", {0, 4, 0x10, 0, 0, 0, 1, 2, 3, 0, 0x12, 0x03, 0x5D}, velmor::BAD_CSUM, 0x10000000,
         {1, 2, 3, 0}},
        {"end record with a checksum", {0, 0, 0, 1, 0x5D}, velmor::BAD_CSUM, 0, {}},
        {"no end mark", {0, 4, 0x10, 0, 0, 0, 1, 2, 3, 0, 0x12, 0x02, 0x5C}, velmor::NO_REC_END, 0x10000000,
         {1, 2, 3, 0}},
        {"end mark before its place", {0, 4, 0x10, 0, 0, 0, 1, 2, 0x12, 0x02, 0x5D, 0, 0}, velmor::NO_REC_END,
         0x10000000, {1, 2, 0x12, 0x02}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const Fed fed = Feed(c.frame);
        EXPECT_TRUE(fed.ended);
        EXPECT_EQ(fed.taken, c.frame.size());
        EXPECT_EQ(fed.frame.error, c.error);
        EXPECT_EQ(fed.frame.address, c.address);
        EXPECT_EQ(fed.frame.data, c.data);
    }
}

TEST(FrameDecoder, BadWordCountEndsTheFrameAtOnce)
{
    for (uint16_t words : {1, 2, 1027, 0xFFFF}) {
        SCOPED_TRACE(words);
        const Fed fed = Feed({uint8_t(words >> 8), uint8_t(words), 0x10, 0, 0, 0, 1, 2});
        EXPECT_TRUE(fed.ended);
        EXPECT_EQ(fed.taken, 2u) << "the payload of a bad count is never waited for";
        EXPECT_EQ(fed.frame.error, velmor::BAD_LENGTH);
    }
    // The largest record: an address and 2048 data bytes.
    Bytes longest = {0x04, 0x02, 0x10, 0, 0, 0};
    longest.resize(2 + 2 * 1026, 0xA5);
    longest.insert(longest.end(), {0x10, 0x00, 0x5D});
    const Fed fed = Feed(longest);
    EXPECT_TRUE(fed.ended);
    EXPECT_EQ(fed.frame.error, 0);
    EXPECT_EQ(fed.frame.data.size(), 2048u);
}

} // namespace
} // namespace receiver
