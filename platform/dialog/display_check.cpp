#include "platform/dialog/display_check.h"

#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

bool Set(const char* variable)
{
    const char* value = std::getenv(variable);
    return value && *value;
}

} // namespace

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
