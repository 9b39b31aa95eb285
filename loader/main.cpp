// velmor: finds the GPS receiver board on its serial port and replaces its firmware.
#include "loader/loader_app.h"
#include "platform/dialog/display_check.h"
#include "platform/dialog/gui_caller.h"

#include <QApplication>

#include <clocale>

namespace {

constexpr const char* kHelp =
    "Usage: velmor [--help] [--version]\n"
    "Finds the GPS receiver board on a serial port and replaces its firmware.\n"
    "\n"
    "velmor is a dialog program. \"Connect GPS\" identifies the board on \"GPS1:\" or\n"
    "\"GPS2:\" (the devices gps1 and gps2 in $VELMOR_DEVICE_DIR, else /dev); \"Load\"\n"
    "checks a firmware image (binary or Motorola S-record) and uploads it. Every\n"
    "step goes to the log pane and to Velmor.txt, whose place the pane's first line\n"
    "gives.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n";

} // namespace

int main(int argc, char** argv)
{
    if (const auto status = platform::AnswerInfoOptions(argc, argv, "velmor", kHelp))
        return *status;
    if (!platform::DisplayAvailable(argv[0]))
        return 1;
    QApplication app(argc, argv);
    // After Qt: texts to and from the receiver and the log use the locale's encoding.
    std::setlocale(LC_ALL, "");
    platform::GuiCaller gui;
    velmor::LoaderApp(gui).InitInstance();
    return 0;
}
