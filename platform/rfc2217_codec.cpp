// Telnet and COM-PORT-OPTION encoding and decoding, no I/O.
#include "platform/rfc2217_codec.h"

#include "platform/serial_port.h"

namespace platform::rfc2217 {
namespace {

bool WantedLocal(uint8_t option)
{
    return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

bool WantedRemote(uint8_t option)
{
    return option == kBinary || option == kSuppressGoAhead;
}

} // namespace

void AppendData(std::vector<uint8_t>& wire, const uint8_t* data, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        wire.push_back(data[i]);
        if (data[i] == kIac)
            wire.push_back(kIac);
    }
}

void AppendCommand(std::vector<uint8_t>& wire, uint8_t command, const std::vector<uint8_t>& value)
{
    wire.insert(wire.end(), {kIac, kSb, kComPort, command});
    AppendData(wire, value.data(), value.size());
    wire.insert(wire.end(), {kIac, kSe});
}

std::vector<uint8_t> RateValue(uint32_t baud)
{
    return {uint8_t(baud >> 24), uint8_t(baud >> 16), uint8_t(baud >> 8), uint8_t(baud)};
}

uint32_t RateOf(const std::vector<uint8_t>& value)
{
    if (value.size() != 4)
        return 0;
    return uint32_t(value[0]) << 24 | uint32_t(value[1]) << 16 | uint32_t(value[2]) << 8 | value[3];
}

uint32_t LineStateFlags(uint8_t state)
{
    uint32_t flags = 0;
    if (state & 0x02) flags |= CE_OVERRUN;
    if (state & 0x04) flags |= CE_RXPARITY;
    if (state & 0x08) flags |= CE_FRAME;
    if (state & 0x10) flags |= CE_BREAK;
    return flags;
}

std::vector<uint8_t> TelnetClient::Greeting()
{
    std::vector<uint8_t> wire;
    for (uint8_t option : {kBinary, kSuppressGoAhead, kComPort}) {
        wire.insert(wire.end(), {kIac, kWill, option});
        m_localAsked[option] = true;
        if (WantedRemote(option)) {
            wire.insert(wire.end(), {kIac, kDo, option});
            m_remoteAsked[option] = true;
        }
    }
    return wire;
}

void TelnetClient::Feed(const uint8_t* bytes, size_t length, std::vector<uint8_t>& data, std::vector<uint8_t>& reply,
                        std::vector<ServerMessage>& messages)
{
    const size_t dataStart = data.size();
    for (size_t i = 0; i < length; ++i) {
        const uint8_t byte = bytes[i];
        switch (m_state) {
        case State::Data:
            if (byte == kIac)
                m_state = State::Iac;
            else
                data.push_back(byte);
            break;
        case State::Iac:
            AfterIac(byte, data);
            break;
        case State::Verb:
            Negotiate(m_verb, byte, reply);
            m_state = State::Data;
            break;
        case State::Sub:
            if (byte == kIac)
                m_state = State::SubIac;
            else if (m_sub.size() < kMaxSub)
                m_sub.push_back(byte);
            break;
        case State::SubIac:
            if (byte == kIac) {
                if (m_sub.size() < kMaxSub)
                    m_sub.push_back(kIac);
                m_state = State::Sub;
            } else if (byte == kSe) {
                EndSub(data.size() - dataStart, messages);
                m_state = State::Data;
            } else {
                AfterIac(byte, data);   // a command inside an unfinished subnegotiation ends it
            }
            break;
        }
    }
}

void TelnetClient::AfterIac(uint8_t byte, std::vector<uint8_t>& data)
{
    if (byte == kIac) {
        data.push_back(kIac);
        m_state = State::Data;
    } else if (byte >= kWill && byte <= kDont) {
        m_verb = byte;
        m_state = State::Verb;
    } else if (byte == kSb) {
        m_sub.clear();
        m_state = State::Sub;
    } else {
        m_state = State::Data;   // NOP, GA and the like carry nothing for a serial line
    }
}

void TelnetClient::EndSub(size_t dataBefore, std::vector<ServerMessage>& messages)
{
    if (m_sub.size() < 2 || m_sub[0] != kComPort || m_sub[1] < kServerOffset)
        return;
    messages.push_back({uint8_t(m_sub[1] - kServerOffset), {m_sub.begin() + 2, m_sub.end()}, dataBefore});
}

void TelnetClient::Negotiate(uint8_t verb, uint8_t option, std::vector<uint8_t>& reply)
{
    const auto send = [&reply, option](uint8_t answer) { reply.insert(reply.end(), {kIac, answer, option}); };
    switch (verb) {
    case kDo:
        if (!WantedLocal(option)) {
            send(kWont);
        } else if (!m_local[option]) {
            m_local[option] = true;
            if (!m_localAsked[option])
                send(kWill);
        }
        m_localAsked[option] = false;
        break;
    case kDont:
        if (m_local[option])
            send(kWont);
        m_local[option] = m_localAsked[option] = false;
        if (option == kComPort)
            m_comPortRefused = true;
        break;
    case kWill:
        if (!WantedRemote(option)) {
            send(kDont);
        } else if (!m_remote[option]) {
            m_remote[option] = true;
            if (!m_remoteAsked[option])
                send(kDo);
        }
        m_remoteAsked[option] = false;
        break;
    case kWont:
        if (m_remote[option])
            send(kDont);
        m_remote[option] = m_remoteAsked[option] = false;
        break;
    }
}

} // namespace platform::rfc2217
