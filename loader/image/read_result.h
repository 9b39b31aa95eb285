// Outcome of reading one S-record line or one piece of a binary image.
#pragma once

namespace velmor {

enum class ReadResult : int {
    Error = 0,      // reader closed, unreadable file, or a malformed line
    Data = 1,
    EndOfFile = 2,
};

} // namespace velmor
