#include "loader/cli/cli_json.h"

#include "loader/log/log.h"

#include <cstdio>

namespace velmor::cli {
namespace {

using nlohmann::json;

// Length of the valid UTF-8 sequence at text[i], or 0.
size_t Utf8Length(const std::string& text, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    size_t length = 0;
    uint32_t low = 0;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        length = 2, low = 0x80;
    else if (c >= 0xE0 && c <= 0xEF)
        length = 3, low = 0x800;
    else if (c >= 0xF0 && c <= 0xF4)
        length = 4, low = 0x10000;
    else
        return 0;
    if (i + length > text.size())
        return 0;
    uint32_t code = c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (byte(i + k) & 0x3F);
    }
    if (code < low || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

json SectionJson(const SectionInfo& section)
{
    if (section.length == 0)
        return nullptr;
    return {{"start", Hex(section.start)}, {"length", section.length}, {"checksum", Hex(section.crc)},
            {"version", JsonText(section.text)}};
}

} // namespace

std::string JsonText(const std::string& bytes)
{
    std::string text;
    for (size_t i = 0; i < bytes.size();) {
        if (const size_t n = Utf8Length(bytes, i)) {
            text.append(bytes, i, n);
            i += n;
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(bytes[i]));
            text += escape;
            ++i;
        }
    }
    return text;
}

json ReceiverJson(const std::optional<ReceiverInfo>& info)
{
    if (!info)
        return nullptr;
    return {{"baud", info->baud}, {"pfl_mode", info->pflMode}, {"pfld", SectionJson(info->pfld)},
            {"fw", SectionJson(info->fw)}};
}

json FlashStateJson(const FlashState& flash)
{
    static constexpr const char* kStages[] = {"untouched", "erasing", "programming", "written"};
    json state {{"stage", kStages[int(flash.stage)]}, {"pfld_area_open", flash.PfldAreaOpen()}};
    if (flash.stage != FlashState::Stage::Untouched) {
        state["erase_start"] = Hex(flash.eraseStart);
        state["erase_end"] = Hex(flash.eraseEnd);
        state["programmed_to"] = Hex(flash.programmedTo);
    }
    return state;
}

json PortResultJson(const PortResult& result, const ImageFile& image)
{
    const UpdateResult& update = result.update;
    const Outcome& outcome = update.outcome;
    json difference = nullptr;
    if (outcome.fault == Fault::VerifyMismatch)
        difference = {{"address", Hex(outcome.address)}, {"image", Hex(outcome.expected)},
                      {"receiver", Hex(outcome.found)}};
    return {{"port", JsonText(result.port)},
            {"result", update.skipped ? "skipped" : FaultName(outcome.fault)},
            {"message", JsonText(result.message)},
            {"exit_code", int(result.code)},
            {"phase", outcome.Ok() ? json(nullptr) : json(PhaseName(outcome.phase))},   // where it stopped
            {"skipped", update.skipped},
            {"receiver_before", ReceiverJson(update.before)},
            {"receiver_after", ReceiverJson(update.after)},
            {"image", JsonText(image.path)},
            {"image_sha256", image.snapshot ? ToHex(image.snapshot->sha256) : ""},
            {"bytes", update.bytes},
            {"seconds", result.seconds},
            {"attempts", update.attempts},
            {"words_compared", update.wordsCompared},
            {"first_difference", difference},
            {"flash", FlashStateJson(outcome.flash)}};
}

} // namespace velmor::cli
