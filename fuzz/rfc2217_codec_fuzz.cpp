// Anything a network serial port server could send, through the telnet
// decoder: whole, and cut at a point the first byte chooses, alike.
#include "platform/rfc2217_codec.h"

#include <cstdlib>

using namespace platform::rfc2217;

namespace {

struct Decoded {
    std::vector<uint8_t> data, reply;
    std::vector<ServerMessage> messages;
};

Decoded Decode(const uint8_t* bytes, size_t size, size_t cut)
{
    TelnetClient client;
    client.Greeting();
    Decoded out;
    client.Feed(bytes, cut, out.data, out.reply, out.messages);
    client.Feed(bytes + cut, size - cut, out.data, out.reply, out.messages);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t cut = data[0] % size;
    const Decoded whole = Decode(data, size, 0);
    const Decoded pieces = Decode(data, size, cut);
    if (whole.data != pieces.data || whole.reply != pieces.reply || whole.messages.size() != pieces.messages.size())
        std::abort();
    for (size_t i = 0; i < whole.messages.size(); ++i)
        if (whole.messages[i].command != pieces.messages[i].command || whole.messages[i].value != pieces.messages[i].value)
            std::abort();
    // Every data byte costs a byte on the wire, every reply answers a three-byte negotiation.
    if (whole.data.size() > size || whole.reply.size() > size)
        std::abort();
    return 0;
}
