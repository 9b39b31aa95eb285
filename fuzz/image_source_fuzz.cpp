// Any file at all through the image source: open, analyse, every record.
#include "loader/image/image_source.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

using velmor::ImageSource;
using velmor::UploadRecord;

namespace {

const std::string& ScratchPath()
{
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/velmor-fuzz-" + std::to_string(getpid()) + ".img";
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Process-wide and reused, as in the loader.
    static ImageSource source;

    FILE* f = std::fopen(ScratchPath().c_str(), "wb");
    if (!f)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);

    if (!source.Open(ScratchPath().c_str()))
        std::abort();   // the file was just written
    source.Analyse();
    source.Rewind();

    UploadRecord record;
    uint64_t delivered = 0;
    for (int i = 0; i < 1 << 20; ++i) {
        if (!source.ReadNextBlock(record) || record.DataCount() == 0)
            break;
        if (record.DataCount() > UploadRecord::kMaxData)
            std::abort();
        const unsigned payload = 4u + record.DataCount();
        if (record.WireLength() != 6 + payload + payload % 2)
            std::abort();
        delivered += record.DataCount();
        // Every data byte comes from the file: a binary byte, or two hex digits.
        if (delivered > size)
            std::abort();
    }
    source.Close();
    return 0;
}
