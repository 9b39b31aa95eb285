// The loader's application object: one copy at a time, then the main dialog.
#pragma once

namespace platform {
class GuiCaller;
}

namespace velmor {

class LoaderApp {
public:
    explicit LoaderApp(platform::GuiCaller& gui) : m_gui(gui) {}
    // Runs the program; false as the program ends either way.
    bool InitInstance();

private:
    platform::GuiCaller& m_gui;
};

} // namespace velmor
