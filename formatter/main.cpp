// quillon: converts the internal store to the new partition layout.
#include "formatter/store_format_app.h"
#include "platform/dialog/display_check.h"
#include "platform/dialog/gui_caller.h"
#include "platform/dialog/message_boxes.h"
#include "platform/storage/storage.h"

#include <QApplication>

#include <clocale>

namespace {

constexpr const char* kHelp =
    "Usage: quillon [--help] [--version]\n"
    "Converts the device's internal store \"USER\" to one partition of type 4 and\n"
    "restarts the machine.\n"
    "\n"
    "quillon is a wizard. On a store whose partition has type 6 it explains the\n"
    "step and, on Continue, dismounts the store, formats it, creates one partition\n"
    "of type 4 over the whole store and asks for a reboot. The store is the file or\n"
    "block device \"user\" in $VELMOR_DEVICE_DIR, else /dev/user; it needs the rights\n"
    "to write the store and to restart the machine.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n";

} // namespace

int main(int argc, char** argv)
{
    if (const auto status = platform::AnswerInfoOptions(argc, argv, "quillon", kHelp))
        return *status;
    if (!platform::DisplayAvailable(argv[0]))
        return 1;
    QApplication application(argc, argv);
    // Store names become file names in the locale's encoding.
    std::setlocale(LC_ALL, "");
    platform::GuiCaller caller;
    quillon::StoreFormatApp app(platform::SystemStorage(), [&caller](platform::Dialog* owner) {
        return platform::BindMessageBoxes(caller, owner);
    });
    app.InitInstance();
    return 0;
}
