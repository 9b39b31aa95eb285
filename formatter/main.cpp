// quillon: converts the internal store to the new partition layout.
#include "formatter/store_format_app.h"
#include "platform/dialog/display_check.h"
#include "platform/dialog/gui_caller.h"
#include "platform/dialog/message_boxes.h"
#include "platform/storage/storage.h"

#include <QApplication>

#include <clocale>

int main(int argc, char** argv)
{
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
