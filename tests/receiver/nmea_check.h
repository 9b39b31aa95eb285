// Sentence checks for the board tests, written apart from the board's own
// sentence code so that a fault there cannot hide behind the same fault here.
#pragma once

#include <cstddef>
#include <string>

namespace receiver::test {

// "$", a body, "*hh" with the body's XOR in upper-case hex, CR LF.
bool ValidNmeaLine(const std::string& line);

// The line a receiver sends for `body`.
std::string LineWithChecksum(const std::string& body);

// Comma field `index` of a line, counted from 0 after the "$"; "" when missing.
std::string Field(const std::string& line, size_t index);

} // namespace receiver::test
