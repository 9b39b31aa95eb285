// Any file at all through the image source: open, analyse, every record.
#include "loader/image/image_source.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using velmor::ImageSource;
using velmor::UploadRecord;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Process-wide and reused, as in the loader.
    static ImageSource source;

    // In memory, as the loader holds an image once it has read it.
    const std::vector<uint8_t> bytes(data, data + size);
    if (!source.Open(bytes))
        return 0;   // nothing to read
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
