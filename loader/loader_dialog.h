// The loader's main dialog: image and port choice, "Connect GPS", "Load", the
// log pane and status line, the About box, and the terminal's controls.
#pragma once

#include "loader/log/log.h"
#include "loader/log/log_file.h"
#include "loader/operation.h"
#include "loader/serial/receiver_info.h"
#include "loader/worker.h"
#include "platform/dialog/dialog.h"

#include <atomic>
#include <memory>
#include <string>

namespace platform {
class GuiCaller;
}

namespace velmor {

inline constexpr const char* kDefaultImageName = "MarnethAndPfl.bin";
inline constexpr int kLogPaneLines = 30;
inline constexpr size_t kImagePathMax = 259;
inline constexpr int kWorkerShutdownMs = 5000;

class TerminalSession;

// The dialog is its operations' reporter: lines go to the pane or the status
// line, through the GUI thread, and to Velmor.txt.
class LoaderDialog : public platform::Dialog, public Reporter {
public:
    // Opens and empties the log file beside the program. Worker updates reach
    // the controls through `gui`, which must outlive the dialog.
    explicit LoaderDialog(platform::GuiCaller& gui);
    // Stops workers from touching the dialog and the log file, then lets them end.
    ~LoaderDialog() override;

    // Reporter, from any thread.
    void LogLine(const std::wstring& text) override;
    void StatusLine(const std::wstring& text) override;
    // Once the erase is about to begin, closing asks first.
    void Progress(Phase phase, uint64_t done, uint64_t total) override;
    // The port-open message boxes.
    void PortFailed(const Outcome& outcome) override;
    bool UploadInProgress() const { return m_uploadInProgress; }

    // Disables the input controls while an operation runs ("Load" always).
    void SetInputControlsEnabled(bool enable);
    // An operation has ended: the controls back, the upload flag cleared and
    // the outcome logged; after a failed upload, with the flash's state and
    // what to do next. From any thread.
    void EndOperation(const Outcome& outcome, bool upload);

    bool TerminalMode() const { return m_terminalMode; }
    bool HexDisplay() const { return m_hex; }
    bool PauseDisplay() const { return m_pause; }
    // Stops the workers from touching the dialog and the log file, then waits
    // for them (bounded); false when one is still running.
    bool ShutDownWorkers();
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

    void StartTerminal();
    void StartWorker();
    void PostCommand(int command);

    platform::GuiCaller& m_gui;
    std::wstring m_imagePath;
    std::wstring m_portName = L"GPS1:";   // the port-name buffer
    WorkerParams m_workerParams;
    LogFile m_logFile;
    std::wstring m_logWhere;              // the pane's first line: where the log file went
    Workers m_workers;
    ReceiverInfo m_receiver;              // what the last "Connect GPS" found
    std::shared_ptr<TerminalSession> m_terminal;
    bool m_hex = false;
    bool m_pause = false;
    uint32_t m_terminalBaud = 4800;
    std::atomic<bool> m_uploadInProgress {false};
    bool m_terminalMode = false;
    int m_defaultCommandId = 0;
    bool m_shutDown = false;
};

} // namespace velmor
