#include "fuzz/receiver_exchange.h"

#include "loader/serial/receiver_query.h"
#include "loader/upload/handoff.h"
#include "loader/upload/image_preparation.h"
#include "receiver/sample_image.h"

#include <array>
#include <memory>

namespace velmor::fuzz {
namespace {

ImageFile MakeImage(Variant variant)
{
    receiver::SampleImageOptions options;
    options.fwVersion = "V2.31";
    options.fwSize = 0x2000;   // four records: short runs, yet more than one of each
    options.sfldVersion = "FUZZ-1";
    if (variant == Variant::NewPfld)
        options.pfldVersion = "1.08";
    if (variant == Variant::BadChecksum)
        options.badChecksum = receiver::ChecksumFault::Fw;
    ImageFile file;
    file.path = "fuzz.bin";
    file.snapshot = MakeSnapshot(file.path, receiver::MakeSampleImage(options));
    return file;
}

} // namespace

const ImageFile& VariantImage(Variant variant)
{
    static const std::array<ImageFile, size_t(Variant::Count)> images = {
        MakeImage(Variant::Good), MakeImage(Variant::NewPfld), MakeImage(Variant::BadChecksum)};
    return images[size_t(variant)];
}

UploadLimits FuzzLimits()
{
    UploadLimits limits;
    limits.silence = std::chrono::milliseconds(3000);
    limits.versionPoll = std::chrono::milliseconds(2000);
    return limits;
}

ExchangeResult RunExchange(SerialLine& line, Variant variant, UploadJob& job, const std::function<void()>& identified)
{
    SilentReporter quiet;
    const Link link {line, quiet, {}};
    ExchangeResult result;
    {
        ReceiverQuery query(link);
        query.DetectReceiver(job.receiver);
    }
    if (identified)
        identified();
    job.askPfld = [] { return PfldAnswer::Yes; };
    job.limits = FuzzLimits();
    result.outcome = PrepareImage(VariantImage(variant), job, quiet);
    result.prepared = result.outcome.Ok();
    if (result.prepared)
        result.outcome = RunHandoff(link, job);
    return result;
}

} // namespace velmor::fuzz
