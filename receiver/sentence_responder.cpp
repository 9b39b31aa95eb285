// Query sentences and their replies.
#include "receiver/sentence_responder.h"

#include "receiver/nmea_sentence.h"

#include <chrono>
#include <cstdio>
#include <utility>

namespace receiver {
namespace {

constexpr std::string_view kQueryTalker = "PKVRQ";
constexpr std::string_view kReplyTalker = "PKVRR";
constexpr std::string_view kPortQuery = "PRT";
constexpr std::string_view kIdQuery = "RID";
constexpr std::string_view kMemoryQuery = "RDM";
constexpr std::string_view kPositionQuery = "POS";
constexpr std::string_view kParameterQuery = "PAR";
constexpr std::string_view kOn = "ON";
constexpr std::string_view kOff = "OFF";
constexpr std::string_view kPflAttention = "A";
constexpr char kPflRead = 'R';
constexpr std::string_view kPflAnswer = "A:PFL";
constexpr std::string_view kLineFormat = "8,N,1";
constexpr uint32_t kWrongEchoOffset = 4;   // the neighbouring word: plausible, and wrong

std::string Hex(uint32_t value, const char* format)
{
    char text[12];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

SentenceResponder::SentenceResponder(const BoardOptions& options, const FaultSwitches& faults,
                                     const PortSettings& ports, const PositionStream& stream)
    : m_options(options), m_faults(faults), m_ports(ports), m_stream(stream)
{
}

std::string SentenceResponder::Answer(std::string_view line, BoardMode mode, unsigned rate,
                                      const BoardFlash& flash) const
{
    std::string_view body;
    if (!SentenceBody(line, body))
        return {};
    return mode == BoardMode::Pfl ? AnswerPfl(body, flash) : AnswerQuery(body, rate, flash);
}

std::string SentenceResponder::AnswerQuery(std::string_view body, unsigned rate, const BoardFlash& flash) const
{
    const auto fields = SplitFields(body);
    if (fields.size() < 2 || fields[0] != kQueryTalker)
        return {};   // set sentences are the board's to take; other talkers are not answered

    std::string reply(kReplyTalker);
    reply += ',';
    reply += fields[1];
    if (fields[1] == kPortQuery) {
        reply += ',' + std::to_string(rate) + ',' + std::string(kLineFormat);
    } else if (fields[1] == kIdQuery) {
        if (m_faults.IsOn(BoardFault::NoRid))
            return {};
        reply += ',' + m_options.receiverId + ',' + flash.FwVersionText();
    } else if (fields[1] == kMemoryQuery) {
        uint32_t address = 0;
        if (fields.size() != 3 || !ParseHex32(fields[2], address))
            return {};
        reply += ',' + Hex(Echo(address), "%X") + ',' + Hex(flash.Word(address), "%08X");
    } else if (fields[1] == kPositionQuery) {
        reply += ',' + m_stream.FixFields(std::chrono::system_clock::now());
    } else if (fields[1] == kParameterQuery) {
        reply += PortParameters();
    } else {
        return {};
    }
    return NmeaLine(reply);
}

std::string SentenceResponder::AnswerPfl(std::string_view body, const BoardFlash& flash) const
{
    if (body == kPflAttention)
        return std::string(kPflAnswer) + std::string(kLineEnd);

    uint32_t address = 0;
    if (body.empty() || body.front() != kPflRead || !ParseHex32(body.substr(1), address))
        return {};
    const char separator = m_options.pflComma ? ',' : ':';
    return kPflRead + Hex(Echo(address), "%X") + separator + Hex(flash.Word(address), "%08X")
        + std::string(kLineEnd);
}

// ",A,<rate>,<GGA/RMC on>,<GSA/GSV on>,B,<rate>,<...>,<...>", ON or OFF for the groups.
std::string SentenceResponder::PortParameters() const
{
    std::string fields;
    for (const auto& [port, name] : {std::pair{ReceiverPort::A, "A"}, std::pair{ReceiverPort::B, "B"}}) {
        const PortSetup setup = m_ports.Get(port);
        fields += std::string(",") + name + ',' + std::to_string(setup.rate);
        fields += ',' + std::string(setup.positionSentences ? kOn : kOff);
        fields += ',' + std::string(setup.satelliteSentences ? kOn : kOff);
    }
    return fields;
}

uint32_t SentenceResponder::Echo(uint32_t address) const
{
    return m_faults.IsOn(BoardFault::WrongEcho) ? address + kWrongEchoOffset : address;
}

} // namespace receiver
