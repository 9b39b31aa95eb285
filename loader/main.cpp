// velmor: finds the GPS receiver board on its serial port and replaces its firmware.
#include "loader/loader_app.h"
#include "platform/dialog/display_check.h"
#include "platform/dialog/gui_caller.h"

#include <QApplication>

#include <clocale>

int main(int argc, char** argv)
{
    if (!platform::DisplayAvailable(argv[0]))
        return 1;
    QApplication app(argc, argv);
    // After Qt: texts to and from the receiver and the log use the locale's encoding.
    std::setlocale(LC_ALL, "");
    platform::GuiCaller gui;
    velmor::LoaderApp(gui).InitInstance();
    return 0;
}
