// The loader's file names that more than one module uses.
#pragma once

namespace velmor {

inline constexpr const char* kLogFileName = "Velmor.txt";

} // namespace velmor
