// Snapshots and private streams over them.
#include "loader/image/image_snapshot.h"

namespace velmor {

std::shared_ptr<const ImageSnapshot> MakeSnapshot(std::string name, std::vector<uint8_t> bytes)
{
    auto snapshot = std::make_shared<ImageSnapshot>();
    snapshot->path = std::move(name);
    snapshot->bytes = std::move(bytes);
    snapshot->sha256 = Sha256(snapshot->bytes.data(), snapshot->bytes.size());
    return snapshot;
}

FILE* OpenBytes(const std::vector<uint8_t>& bytes)
{
    if (bytes.empty())
        return nullptr;
    // fmemopen only reads in "r" mode, whatever the pointer's constness.
    return fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "r");
}

} // namespace velmor
