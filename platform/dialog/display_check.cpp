#include "platform/dialog/display_check.h"

#include "platform/version.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace platform {
namespace {

bool Set(const char* variable)
{
    const char* value = std::getenv(variable);
    return value && *value;
}

} // namespace

std::optional<int> AnswerInfoOptions(int argc, char** argv, const char* program, const char* help)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(help, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("%s %.*s\n", program, int(kVersion.size()), kVersion.data());
            return 0;
        }
    }
    return std::nullopt;
}

bool DisplayAvailable(const char* program)
{
    if (Set("QT_QPA_PLATFORM") || Set("DISPLAY") || Set("WAYLAND_DISPLAY"))
        return true;
    std::fprintf(stderr,
                 "%s needs a display and there is none (DISPLAY is not set).\n"
                 "Run it in a desktop session, or on a virtual one: xvfb-run -a %s\n",
                 program, program);
    return false;
}

} // namespace platform
