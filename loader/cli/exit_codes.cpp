#include "loader/cli/exit_codes.h"

namespace velmor::cli {

ExitCode ExitCodeFor(const Outcome& outcome)
{
    switch (outcome.fault) {
    case Fault::None:
        return kExitSuccess;
    case Fault::ImageRefused:
    case Fault::PfldNeedsAnswer:
    case Fault::PfldDeclined:
        return kExitImageRefused;
    case Fault::PortNotFound:
    case Fault::PortBusy:
    case Fault::PortNoPermission:
    case Fault::PortUnusable:
    case Fault::RateNotAccepted:
    case Fault::NoReceiver:
        return kExitNoReceiver;
    case Fault::Silence:
    case Fault::ReceiverError:
    case Fault::TooManyAttempts:
    case Fault::OutOfTime:
    case Fault::LineGone:
        return kExitUploadFailed;
    case Fault::VerifyMismatch:
        return kExitVerifyMismatch;
    case Fault::Stopped:
        return kExitInterrupted;
    }
    return kExitUploadFailed;
}

} // namespace velmor::cli
