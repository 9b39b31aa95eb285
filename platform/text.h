// Wide text to and from the locale's 8-bit encoding (the program's code page).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// At most `maxBytes` bytes, never cutting a character in two; characters the
// encoding cannot express become '?'. Stops at an embedded NUL.
std::string Narrow(std::wstring_view text, size_t maxBytes = std::string::npos);
// The whole text in the encoding, or false when a character has no form in it
// (for names of files, where a replaced character would name another file).
bool NarrowExact(std::wstring_view text, std::string& out);
// Bytes that are not valid in the encoding become '?'. Stops at an embedded NUL.
std::wstring Widen(std::string_view text);

} // namespace platform
