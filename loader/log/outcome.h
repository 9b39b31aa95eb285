// What an operation on a receiver ended with, as a value: the kind of fault
// with its data, the phase it was met in, and the state it left the
// receiver's flash in. Front ends turn it into words, exit codes and JSON.
#pragma once

#include <cstdint>
#include <string>

namespace velmor {

// The phases of one receiver's update, as a progress display names them.
enum class Phase { Connect, Handoff, Erase, Program, Verify };

enum class Fault {
    None,
    PortNotFound,       // `device`: what the port's name stood for
    PortBusy,
    PortNoPermission,
    PortUnusable,       // settings refused, a bad name, a refused connection, or another open failure
    RateNotAccepted,    // a rate the port is never opened at
    NoReceiver,         // nothing answered; `loaderAnswered` when only a loader did
    ImageRefused,       // `reason`
    PfldNeedsAnswer,    // the image would rewrite the PFLD and nobody may answer
    PfldDeclined,
    Silence,            // nothing the step waited for came within the silence limit
    ReceiverError,      // `code`: the error byte the receiver answered with
    TooManyAttempts,    // `cause`: the last attempt's fault
    Stopped,
    OutOfTime,
    LineGone,           // the port went away (`device`)
    VerifyMismatch,     // `address`: the image's word `expected`, the receiver's `found`
};

// How far an upload got with the receiver's flash.
struct FlashState {
    enum class Stage {
        Untouched,     // nothing erased or written
        Erasing,       // the erase of [eraseStart, eraseEnd) was asked for and has not completed
        Programming,   // erased; the receiver took the data up to `programmedTo`
        Written,       // the end record was taken
    };
    Stage stage = Stage::Untouched;
    uint32_t eraseStart = 0;
    uint32_t eraseEnd = 0;      // exclusive
    uint32_t programmedTo = 0;  // one past the last byte the receiver acknowledged

    // The resident loader's area is erased or half rewritten: switching the
    // receiver off now may leave it with no loader at all.
    bool PfldAreaOpen() const;
};

struct Outcome {
    Fault fault = Fault::None;
    Phase phase = Phase::Connect;
    std::string device;
    std::string reason;
    uint8_t code = 0;
    Fault cause = Fault::None;
    int attempts = 0;           // failed attempts, with TooManyAttempts
    bool loaderAnswered = false;
    uint32_t address = 0;
    uint32_t expected = 0;
    uint32_t found = 0;
    FlashState flash;

    bool Ok() const { return fault == Fault::None; }
    static Outcome Failed(Fault fault, Phase phase)
    {
        Outcome outcome;
        outcome.fault = fault;
        outcome.phase = phase;
        return outcome;
    }
};

// Stable names for scripts ("port_not_found", "too_many_attempts", ...).
const char* FaultName(Fault fault);
const char* PhaseName(Phase phase);
// The flash's state in words, for the log and the command line: untouched,
// erased from-to, programmed up to an address, and a plain warning when the
// resident loader's area is open.
// After a failed upload, whether the receiver is left in a loader that takes
// a new upload: its flash was touched, or a loader answered the hand-off. A
// receiver that never answered the boot request is not said to wait.
bool LeftInLoader(const Outcome& outcome);
std::string FlashStateText(const FlashState& flash);
// One line on what went wrong, without the flash's state.
std::string FaultText(const Outcome& outcome);

} // namespace velmor
