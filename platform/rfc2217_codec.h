// The client side of a network serial port's telnet stream (RFC 2217): data
// with IAC doubled, option negotiation, and COM-PORT-OPTION commands and answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::rfc2217 {

inline constexpr uint8_t kIac = 255;
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;
inline constexpr uint8_t kSe = 240;

inline constexpr uint8_t kBinary = 0;
inline constexpr uint8_t kSuppressGoAhead = 3;
inline constexpr uint8_t kComPort = 44;

// COM-PORT-OPTION commands as the client sends them; the server answers with
// the same code plus kServerOffset.
inline constexpr uint8_t kSetBaudRate = 1;
inline constexpr uint8_t kSetDataSize = 2;
inline constexpr uint8_t kSetParity = 3;
inline constexpr uint8_t kSetStopSize = 4;
inline constexpr uint8_t kNotifyLineState = 6;
inline constexpr uint8_t kNotifyModemState = 7;
inline constexpr uint8_t kSetLineStateMask = 10;
inline constexpr uint8_t kPurgeData = 12;
inline constexpr uint8_t kServerOffset = 100;

inline constexpr uint8_t kParityNone = 1;
inline constexpr uint8_t kOneStopBit = 1;
inline constexpr uint8_t kPurgeBoth = 3;
// NOTIFY-LINESTATE bits that are line errors: break, framing, parity, overrun.
inline constexpr uint8_t kLineErrorStates = 0x1E;

// Data as it goes on the wire: every 0xFF doubled.
void AppendData(std::vector<uint8_t>& wire, const uint8_t* data, size_t length);
// IAC SB COM-PORT-OPTION command value IAC SE, 0xFF in the value doubled.
void AppendCommand(std::vector<uint8_t>& wire, uint8_t command, const std::vector<uint8_t>& value);
// A rate as COM-PORT-OPTION carries it: four bytes, big-endian.
std::vector<uint8_t> RateValue(uint32_t baud);
uint32_t RateOf(const std::vector<uint8_t>& value);
// NOTIFY-LINESTATE's error bits as the line-error flags a local port reports.
uint32_t LineStateFlags(uint8_t state);

// A COM-PORT-OPTION message from the server, with its client-side command
// code, and how many data bytes of the same Feed came before it.
struct ServerMessage {
    uint8_t command = 0;
    std::vector<uint8_t> value;
    size_t dataBefore = 0;
};

// Decodes what the server sends, in whatever pieces it arrives, and answers
// its option negotiation: BINARY and SUPPRESS-GO-AHEAD both ways and
// COM-PORT-OPTION from our side; every other option is refused.
class TelnetClient {
public:
    // What the client asks for on connecting.
    std::vector<uint8_t> Greeting();

    // Data bytes go to `data`, what must be answered to `reply`, COM-PORT
    // messages to `messages`; all appended.
    void Feed(const uint8_t* bytes, size_t length, std::vector<uint8_t>& data, std::vector<uint8_t>& reply,
              std::vector<ServerMessage>& messages);

    bool ComPortAgreed() const { return m_local[kComPort]; }
    bool ComPortRefused() const { return m_comPortRefused; }

private:
    enum class State { Data, Iac, Verb, Sub, SubIac };
    static constexpr size_t kMaxSub = 64;   // COM-PORT values are a few bytes; the rest is dropped

    void AfterIac(uint8_t byte, std::vector<uint8_t>& data);
    void Negotiate(uint8_t verb, uint8_t option, std::vector<uint8_t>& reply);
    void EndSub(size_t dataBefore, std::vector<ServerMessage>& messages);

    State m_state = State::Data;
    uint8_t m_verb = 0;
    std::vector<uint8_t> m_sub;
    // Options in force, ours (WILL) and the server's (DO), and those asked for
    // and not yet answered: the server's agreement to them needs no reply.
    bool m_local[256] = {};
    bool m_remote[256] = {};
    bool m_localAsked[256] = {};
    bool m_remoteAsked[256] = {};
    bool m_comPortRefused = false;
};

} // namespace platform::rfc2217
