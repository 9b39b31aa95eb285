// One receiver's update, the same for the dialog and the command line:
// identify (unless the caller already did), prepare, hand off and program,
// and, when asked, identify again and read the flash back. The order of the
// steps lives here and nowhere else.
#pragma once

#include "loader/log/log.h"
#include "loader/serial/receiver_info.h"
#include "loader/serial/serial_link.h"
#include "loader/upload/image_preparation.h"
#include "loader/upload/upload_job.h"

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>

namespace velmor {

inline constexpr uint32_t kUploadOpenBaud = 57600;

enum class VerifyMode {
    None,
    Spot,   // the first word of every record
    Full,   // every word
};

struct UpdateRequest {
    std::string port;                       // "GPS1:", a device path or a network port
    ImageFile image;                        // read once by the front end
    PfldPolicy askPfld;
    UploadLimits limits;
    // The receiver as the caller's own "Connect GPS" found it; none: identify first.
    std::optional<ReceiverInfo> receiver;
    // Skip a receiver whose FW is shown to be the image's already.
    bool skipIfHeld = false;
    // Hand off even when nothing answers the identification: the receiver may
    // sit in a loader an unfinished upload left running.
    bool recover = false;
    VerifyMode verify = VerifyMode::None;
    SerialLine::Clock::time_point deadline = SerialLine::Clock::time_point::max();
};

struct UpdateResult {
    Outcome outcome;
    std::optional<ReceiverInfo> before, after;
    bool skipped = false;
    uint64_t bytes = 0;              // image bytes the receiver took
    int attempts = 0;                // flash uploads begun
    uint64_t wordsCompared = 0;      // words read back and found equal, or compared before a skip
    // A binary image does not send the FW checksum word; after such an upload
    // the receiver's word is whatever it was (or erased), so it is not compared.
    bool checksumWordNotSent = false;
    uint32_t imageChecksum = 0;      // the image's FW checksum word
};

UpdateResult RunUpdate(const UpdateRequest& request, Reporter& report, std::stop_token stop = {});

} // namespace velmor
