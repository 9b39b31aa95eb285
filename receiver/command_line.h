// What the board's two programs share on their command lines: the usage
// error and a number with a range.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

namespace receiver {

inline constexpr int kUsageError = 2;

[[noreturn]] inline void UsageError(const char* program, const char* usage, const std::string& message)
{
    std::cerr << program << ": " << message << "\n" << usage;
    std::exit(kUsageError);
}

// Decimal, or hex with 0x; a usage error when it is no number or above `maximum`.
inline uint64_t ParseNumber(const char* program, const char* usage, const std::string& text, uint64_t maximum)
{
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || value > maximum)
        UsageError(program, usage, "not a number up to " + std::to_string(maximum) + ": " + text);
    return value;
}

} // namespace receiver
