// Signature probing and wiping through libblkid.
#include "platform/storage/store_signatures.h"

#include <blkid.h>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

// A filesystem keeps a handful of magics (FAT has several); more means the wipe is not taking.
constexpr int kMaxSignatures = 64;

} // namespace

std::string ForeignContent(const std::string& path)
{
    blkid_probe probe = blkid_new_probe_from_filename(path.c_str());
    if (!probe)
        return "unreadable store";
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE);
    blkid_probe_enable_partitions(probe, 1);
    blkid_probe_set_partitions_flags(probe, BLKID_PARTS_FORCE_GPT);
    const int result = blkid_do_safeprobe(probe);
    std::string found;
    const char* value = nullptr;
    if (result == -2) {
        found = "several signatures";
    } else if (result < 0) {
        found = "unreadable store";
    } else if (result == 0) {
        // A filesystem over the whole store wins over any table libfdisk thinks it sees in its boot sector.
        if (blkid_probe_lookup_value(probe, "TYPE", &value, nullptr) == 0)
            found = value;
        else if (blkid_probe_lookup_value(probe, "PTTYPE", &value, nullptr) == 0 && std::string(value) != "dos")
            found = value;
    }
    blkid_free_probe(probe);
    return found;
}

bool WipeSignatures(const std::string& path, uint64_t offset, uint64_t length)
{
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    blkid_probe probe = blkid_new_probe();
    bool ok = probe && blkid_probe_set_device(probe, fd, blkid_loff_t(offset), blkid_loff_t(length)) == 0;
    if (ok) {
        blkid_probe_enable_superblocks(probe, 1);
        blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_MAGIC);
        blkid_probe_enable_partitions(probe, 1);
        blkid_probe_set_partitions_flags(probe, BLKID_PARTS_MAGIC | BLKID_PARTS_FORCE_GPT);
        int result = 0;
        // Each wipe steps the probe back, so the next probe looks again where the last magic was.
        for (int wiped = 0; ok && (result = blkid_do_probe(probe)) == 0; ++wiped)
            ok = wiped < kMaxSignatures && blkid_do_wipe(probe, 0) == 0;
        ok = ok && result == 1;
    }
    if (probe)
        blkid_free_probe(probe);
    ok = fsync(fd) == 0 && ok;
    close(fd);
    return ok;
}

} // namespace platform
