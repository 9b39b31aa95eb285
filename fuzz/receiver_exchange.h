// One update's exchange with a receiver, as the receiver fuzzer replays it and
// the seed recorder records it: identification, image preparation, hand-off
// and flash upload on a given line, with the images the runs use.
#pragma once

#include "loader/log/outcome.h"
#include "loader/serial/serial_link.h"
#include "loader/upload/image_preparation.h"
#include "loader/upload/upload_job.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace velmor::fuzz {

// What the receiver answers to one write of the loader: after `delay`, `bytes`.
// A run's input is its image variant byte, then one chunk per write, each as
// [delay in 10 ms][length][bytes].
struct Chunk {
    uint8_t delayTens = 0;
    std::vector<uint8_t> bytes;
};

enum class Variant : uint8_t {
    Good,          // the receiver's PFLD, the image's own SFLD
    NewPfld,       // another PFLD: the update is agreed
    BadChecksum,   // refused before anything is sent
    Count,
};

// The image file of a variant, made once.
const ImageFile& VariantImage(Variant variant);

// Limits that keep a run short in virtual time.
UploadLimits FuzzLimits();

struct ExchangeResult {
    bool prepared = false;
    Outcome outcome;
};

// Identify the receiver, prepare the image, hand off and program, as the update
// operation does after its own port is open; any receiver, as velmor-cli's
// --recover takes it.
// `identified` is called between the identification and the preparation.
ExchangeResult RunExchange(SerialLine& line, Variant variant, UploadJob& job,
                           const std::function<void()>& identified = {});

} // namespace velmor::fuzz
