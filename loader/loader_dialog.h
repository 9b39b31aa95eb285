// The loader's main dialog: image and port choice, "Connect GPS", "Load", the
// log pane and status line, the About box, and the terminal's controls.
#pragma once

#include "loader/log/log_file.h"
#include "loader/log/log_view.h"
#include "loader/worker.h"
#include "platform/dialog/dialog.h"

#include <string>

namespace platform {
class GuiCaller;
}

namespace velmor {

inline constexpr const char* kDefaultImageName = "MarnethAndPfl.bin";
inline constexpr int kLogPaneLines = 30;
inline constexpr size_t kImagePathMax = 259;
inline constexpr int kWorkerShutdownMs = 5000;

class LoaderDialog : public platform::Dialog, public LogView {
public:
    // Opens and empties the log file beside the program. Worker updates reach
    // the controls through `gui`, which must outlive the dialog.
    explicit LoaderDialog(platform::GuiCaller& gui);
    // Stops workers from touching the dialog and the log file, then lets them end.
    ~LoaderDialog() override;

    // LogView, from any thread.
    void AddLogLine(const std::wstring& text) override;
    void SetStatusLine(const std::wstring& text) override;
    void ClearLogPane() override;
    void SetInputControlsEnabled(bool enable) override;

    bool TerminalMode() const { return m_terminalMode; }
    const std::wstring& ImagePath() const { return m_imagePath; }

    // Handlers, as the controls route them.
    void OnBrowseOrSend();
    void OnModeButton();
    void OnBaudSelect();
    void OnHexToggle();
    void OnPauseToggle();
    void OnLogoClick();
    void OnPortSelect();
    void OnConnectGps();
    void OnLoad();
    bool OnCloseRequest();

protected:
    void OnInitDialog() override;
    void OnOk() override;
    void OnCancel() override;
    void DoDataExchange(platform::DataExchange& exchange) override;

private:
    void ApplyMode();
    void ShutDownWorkers();

    platform::GuiCaller& m_gui;
    std::wstring m_imagePath;
    WorkerParams m_workerParams;
    LogFile m_logFile;
    bool m_terminalMode = false;
    int m_defaultCommandId = 0;
    bool m_shutDown = false;
};

} // namespace velmor
