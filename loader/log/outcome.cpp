// Outcomes in words.
#include "loader/log/outcome.h"

#include "loader/image/flash_layout.h"
#include "loader/log/log.h"
#include "loader/upload/byte_codes.h"

#include <cstdio>

namespace velmor {
namespace {

std::string CodeText(uint8_t code)
{
    const char* name = nullptr;
    switch (code) {
    case BAD_CSUM: name = "BAD_CSUM"; break;
    case BAD_LENGTH: name = "BAD_LENGTH"; break;
    case BAD_COMMAND: name = "BAD_COMMAND"; break;
    case RECORD_TIMEOUT: name = "RECORD_TIMEOUT"; break;
    case NO_REC_END: name = "NO_REC_END"; break;
    case ERASE_FAILED_CODE: name = "an erase failure"; break;
    default: break;
    }
    char text[48];
    if (name)
        std::snprintf(text, sizeof text, "%s (0x%02X)", name, code);
    else
        std::snprintf(text, sizeof text, "the unknown code 0x%02X", code);
    return text;
}

} // namespace

bool FlashState::PfldAreaOpen() const
{
    if (stage != Stage::Erasing && stage != Stage::Programming)
        return false;
    return eraseStart < kFwStart && eraseEnd > kFlashBase && programmedTo < kFwStart;
}

const char* FaultName(Fault fault)
{
    switch (fault) {
    case Fault::None: return "ok";
    case Fault::PortNotFound: return "port_not_found";
    case Fault::PortBusy: return "port_busy";
    case Fault::PortNoPermission: return "port_no_permission";
    case Fault::PortUnusable: return "port_unusable";
    case Fault::RateNotAccepted: return "rate_not_accepted";
    case Fault::NoReceiver: return "no_receiver";
    case Fault::ImageRefused: return "image_refused";
    case Fault::PfldNeedsAnswer: return "pfld_needs_answer";
    case Fault::PfldDeclined: return "pfld_declined";
    case Fault::Silence: return "no_answer";
    case Fault::ReceiverError: return "receiver_error";
    case Fault::TooManyAttempts: return "too_many_attempts";
    case Fault::Stopped: return "interrupted";
    case Fault::OutOfTime: return "out_of_time";
    case Fault::LineGone: return "port_gone";
    case Fault::VerifyMismatch: return "verify_mismatch";
    }
    return "?";
}

const char* PhaseName(Phase phase)
{
    switch (phase) {
    case Phase::Connect: return "connect";
    case Phase::Handoff: return "hand-off";
    case Phase::Erase: return "erase";
    case Phase::Program: return "program";
    case Phase::Verify: return "verify";
    }
    return "?";
}

bool LeftInLoader(const Outcome& outcome)
{
    return outcome.phase != Phase::Connect
        && (outcome.flash.stage != FlashState::Stage::Untouched || outcome.loaderAnswered);
}

std::string FlashStateText(const FlashState& flash)
{
    std::string text;
    switch (flash.stage) {
    case FlashState::Stage::Untouched:
        return "the receiver's flash was not touched";
    case FlashState::Stage::Written:
        return "the receiver's flash holds the whole image";
    case FlashState::Stage::Erasing:
        text = "the receiver's flash may be partly erased from " + Hex(flash.eraseStart) + " to "
            + Hex(flash.eraseEnd);
        break;
    case FlashState::Stage::Programming:
        text = "the receiver's flash is erased from " + Hex(flash.eraseStart) + " to " + Hex(flash.eraseEnd);
        if (flash.programmedTo > flash.eraseStart)
            text += " and programmed from " + Hex(flash.eraseStart) + " up to " + Hex(flash.programmedTo);
        break;
    }
    if (flash.PfldAreaOpen())
        text += "; the PFLD area (" + Hex(kFlashBase) + " to " + Hex(kFwStart)
            + ") is not whole: do not switch the receiver off, it may not start again";
    return text;
}

std::string FaultText(const Outcome& outcome)
{
    switch (outcome.fault) {
    case Fault::None: return "done";
    case Fault::PortNotFound: return outcome.device + ": no such device";
    case Fault::PortBusy: return outcome.device + ": busy, another program holds it";
    case Fault::PortNoPermission: return outcome.device + ": permission denied";
    case Fault::PortUnusable: return outcome.reason.empty() ? outcome.device + ": unusable" : outcome.reason;
    case Fault::RateNotAccepted: return "the port is never opened at that rate";
    case Fault::NoReceiver:
        return outcome.loaderAnswered
            ? "no receiver answered, but a loader did: an upload was left unfinished"
            : "no receiver answered";
    case Fault::ImageRefused: return "the image was refused: " + outcome.reason;
    case Fault::PfldNeedsAnswer: return "the image would rewrite the receiver's PFLD";
    case Fault::PfldDeclined: return "the PFLD update was declined";
    case Fault::Silence: return "the receiver stopped answering";
    case Fault::ReceiverError: return "the receiver answered " + CodeText(outcome.code);
    case Fault::TooManyAttempts: {
        Outcome last = outcome;
        last.fault = outcome.cause;
        return "the upload failed " + std::to_string(outcome.attempts) + " times; the last time " + FaultText(last);
    }
    case Fault::Stopped: return "interrupted";
    case Fault::OutOfTime: return "out of time";
    case Fault::LineGone: return outcome.device + ": the port went away";
    case Fault::VerifyMismatch:
        return "read-back differs at " + Hex(outcome.address) + ": image " + Hex(outcome.expected) + ", receiver "
            + Hex(outcome.found);
    }
    return "?";
}

} // namespace velmor
