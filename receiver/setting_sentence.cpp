// Set sentences: stream switches, port rates and the navigation reset.
#include "receiver/setting_sentence.h"

#include "receiver/nmea_sentence.h"

#include <algorithm>
#include <charconv>
#include <iterator>

namespace receiver {
namespace {

constexpr std::string_view kSetTalker = "PKVRS";
constexpr std::string_view kReplyTalker = "PKVRR";
constexpr std::string_view kStreamsId = "NME";
constexpr std::string_view kRateId = "SPD";
constexpr std::string_view kResetId = "INI";
constexpr std::string_view kAllGroups = "ALL";
constexpr std::string_view kPositionGroup = "POS";
constexpr std::string_view kSatelliteGroup = "SAT";
constexpr std::string_view kOn = "ON";
constexpr std::string_view kOff = "OFF";
constexpr std::string_view kPortA = "A";
constexpr std::string_view kPortB = "B";
constexpr size_t kStreamsFields = 5;   // PKVRS,NME,<ALL|POS|SAT>,<A|B>,<ON|OFF>
constexpr size_t kRateFields = 4;      // PKVRS,SPD,<A|B>,<code>

// The firmware numbers its port rates; SPD takes the number, not the baud.
struct RateCode {
    unsigned code;
    unsigned baud;
};
constexpr RateCode kRateCodes[] = {
    {4, 4800}, {5, 9600}, {6, 19200}, {7, 38400}, {8, 57600}, {9, 115200},
};

bool ParsePort(std::string_view text, ReceiverPort& port)
{
    if (text == kPortA)
        port = ReceiverPort::A;
    else if (text == kPortB)
        port = ReceiverPort::B;
    else
        return false;
    return true;
}

bool ParseStreams(const std::vector<std::string_view>& fields, SettingSentence& setting)
{
    if (fields.size() != kStreamsFields || !ParsePort(fields[3], setting.port))
        return false;
    const std::string_view group = fields[2];
    setting.position = group == kAllGroups || group == kPositionGroup;
    setting.satellites = group == kAllGroups || group == kSatelliteGroup;
    setting.on = fields[4] == kOn;
    setting.kind = SettingSentence::Kind::Streams;
    return (setting.position || setting.satellites) && (setting.on || fields[4] == kOff);
}

bool ParseRate(const std::vector<std::string_view>& fields, SettingSentence& setting)
{
    if (fields.size() != kRateFields || !ParsePort(fields[2], setting.port))
        return false;
    const std::string_view text = fields[3];
    unsigned code = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), code);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return false;
    const auto* found = std::find_if(std::begin(kRateCodes), std::end(kRateCodes),
                                     [code](const RateCode& r) { return r.code == code; });
    if (found == std::end(kRateCodes))
        return false;
    setting.kind = SettingSentence::Kind::Rate;
    setting.rateCode = code;
    setting.rate = found->baud;
    return true;
}

} // namespace

bool SettingSentence::Parse(std::string_view body, SettingSentence& setting)
{
    const auto fields = SplitFields(body);
    if (fields.size() < 2 || fields[0] != kSetTalker)
        return false;
    SettingSentence parsed;
    bool taken = false;
    if (fields[1] == kStreamsId) {
        taken = ParseStreams(fields, parsed);
    } else if (fields[1] == kRateId) {
        taken = ParseRate(fields, parsed);
    } else if (fields[1] == kResetId) {
        // Its fields seed the new fix; the simulated fix never changes, so any will do.
        parsed.kind = Kind::NavigationReset;
        taken = true;
    }
    if (taken)
        setting = parsed;
    return taken;
}

std::string SettingSentence::Acknowledgement() const
{
    std::string body(kReplyTalker);
    body += ',';
    const std::string_view portName = port == ReceiverPort::A ? kPortA : kPortB;
    switch (kind) {
    case Kind::Streams: {
        const std::string_view group = position && satellites ? kAllGroups
            : position                                        ? kPositionGroup
                                                              : kSatelliteGroup;
        body += std::string(kStreamsId) + ',' + std::string(group) + ',' + std::string(portName) + ','
            + std::string(on ? kOn : kOff);
        break;
    }
    case Kind::Rate:
        body += std::string(kRateId) + ',' + std::string(portName) + ',' + std::to_string(rateCode);
        break;
    case Kind::NavigationReset:
        body += kResetId;
        break;
    }
    return NmeaLine(body);
}

} // namespace receiver
