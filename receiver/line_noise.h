// What a byte sent at one rate looks like to a receiver set to another: a
// few bytes of garbage, more of them when the receiver samples faster.
#pragma once

#include <cstdint>
#include <string>

namespace receiver {

class LineNoise {
public:
    // Appends what a receiver at `receiverBaud` makes of one byte sent at
    // `senderBaud`. The garbage always has its two top bits set, so it never
    // reads as a sentence character, a line end or one of the loaders' codes.
    void Garble(unsigned senderBaud, unsigned receiverBaud, std::string& out);

private:
    static constexpr uint8_t kGarbageBits = 0xC0;

    uint8_t NextGarbage();

    double m_carry = 0;              // fraction of a garbage byte owed from earlier bytes
    uint32_t m_state = 0x2545F491;   // xorshift state, any non-zero start
};

} // namespace receiver
