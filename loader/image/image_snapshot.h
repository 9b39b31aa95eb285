// An image file's bytes, read once into memory with their SHA-256: what the
// checks passed is what every port is sent, whatever happens to the file
// meanwhile.
#pragma once

#include "loader/image/sha256.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace velmor {

struct ImageSnapshot {
    std::string path;             // as given, bytes
    std::vector<uint8_t> bytes;
    Sha256Digest sha256 {};
};

// Takes the bytes read from `name` (a path, or what else they came from).
std::shared_ptr<const ImageSnapshot> MakeSnapshot(std::string name, std::vector<uint8_t> bytes);
// A read-only stream of its own over the bytes, for one reader; nullptr when
// there are none. The bytes must outlive it.
FILE* OpenBytes(const std::vector<uint8_t>& bytes);

} // namespace velmor
