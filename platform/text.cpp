// Conversion through the C library's multibyte functions, so the program's
// locale (set at start) decides the encoding.
#include "platform/text.h"

#include <climits>
#include <cwchar>

namespace platform {

std::string Narrow(std::wstring_view text, size_t maxBytes)
{
    std::string out;
    std::mbstate_t state {};
    char bytes[MB_LEN_MAX];
    for (wchar_t c : text) {
        if (c == L'\0')
            break;
        size_t n = std::wcrtomb(bytes, c, &state);
        if (n == size_t(-1)) {
            state = std::mbstate_t {};
            bytes[0] = '?';
            n = 1;
        }
        if (out.size() + n > maxBytes)
            break;
        out.append(bytes, n);
    }
    return out;
}

bool NarrowExact(std::wstring_view text, std::string& out)
{
    out.clear();
    std::mbstate_t state {};
    char bytes[MB_LEN_MAX];
    for (wchar_t c : text) {
        if (c == L'\0')
            return false;
        const size_t n = std::wcrtomb(bytes, c, &state);
        if (n == size_t(-1))
            return false;
        out.append(bytes, n);
    }
    return true;
}

std::wstring Widen(std::string_view text)
{
    std::wstring out;
    std::mbstate_t state {};
    size_t i = 0;
    while (i < text.size()) {
        wchar_t c = 0;
        const size_t n = std::mbrtowc(&c, text.data() + i, text.size() - i, &state);
        if (n == 0)
            break;
        if (n == size_t(-1) || n == size_t(-2)) {
            state = std::mbstate_t {};
            out += L'?';
            if (n == size_t(-2))
                break;   // the text ends inside a character
            ++i;
            continue;
        }
        out += c;
        i += n;
    }
    return out;
}

} // namespace platform
