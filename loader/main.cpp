// velmor: finds the GPS receiver board on its serial port and replaces its firmware.
#include "loader/loader_app.h"
#include "platform/dialog/gui_caller.h"

#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const bool hasPlatform = std::getenv("QT_QPA_PLATFORM") && *std::getenv("QT_QPA_PLATFORM");
    const bool hasDisplay = (std::getenv("DISPLAY") && *std::getenv("DISPLAY"))
        || (std::getenv("WAYLAND_DISPLAY") && *std::getenv("WAYLAND_DISPLAY"));
    if (!hasPlatform && !hasDisplay) {
        std::fprintf(stderr, "velmor needs a display and there is none (DISPLAY is not set).\n"
                             "Run it in a desktop session, or on a virtual one: xvfb-run -a %s\n",
                     argv[0]);
        return 1;
    }
    QApplication app(argc, argv);
    // After Qt: texts to and from the receiver and the log use the locale's encoding.
    std::setlocale(LC_ALL, "");
    platform::GuiCaller gui;
    velmor::LoaderApp(gui).InitInstance();
    return 0;
}
