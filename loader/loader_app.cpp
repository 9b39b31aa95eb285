#include "loader/loader_app.h"

#include "loader/loader_dialog.h"
#include "loader/loader_resources.h"
#include "platform/dialog/message_boxes.h"
#include "platform/dialog/window_search.h"

namespace velmor {

bool LoaderApp::InitInstance()
{
    const std::wstring title = LoadLoaderString(kStrWindowTitle);
    if (platform::FindTopLevelWindow(title)) {
        // Not brought to the front: the notice is all.
        platform::ShowMessageBox(nullptr, {LoadLoaderString(kStrAlreadyRunning), title, platform::MessageButtons::Ok,
                                           platform::MessageIcon::Information});
        return false;
    }
    {
        LoaderDialog dialog(m_gui);
        const platform::MessageBoxHandler previous = platform::BindMessageBoxes(m_gui, &dialog);
        dialog.DoModal();
        platform::SetMessageBoxHandler(previous);
    }
    return false;
}

} // namespace velmor
