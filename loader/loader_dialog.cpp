#include "loader/loader_dialog.h"

#include "loader/about_dialog.h"
#include "loader/app_strings.h"
#include "loader/loader_resources.h"
#include "loader/log/log.h"
#include "loader/serial/receiver_query.h"
#include "loader/terminal/terminal.h"
#include "platform/paths.h"
#include "platform/dialog/data_exchange.h"
#include "platform/dialog/gui_caller.h"
#include "platform/dialog/message_boxes.h"
#include "platform/dialog/save_file_chooser.h"
#include "platform/text.h"

#include <unistd.h>

namespace velmor {
namespace {

constexpr const wchar_t* kBaudEntries[] = {L"9600", L"19200", L"57600", L"115200", L"4800"};
constexpr int kBaudCommands[] = {CmdBaud9600, CmdBaud19200, CmdBaud57600, CmdBaud115200, CmdBaud4800};
constexpr uint32_t kBaudRates[] = {9600, 19200, 57600, 115200, 4800};
constexpr int kDefaultBaudIndex = 4;
constexpr const wchar_t* kPortEntries[] = {L"GPS1:", L"GPS2:"};

std::wstring Cut(const std::wstring& text, size_t max)
{
    return text.size() > max ? text.substr(0, max) : text;
}

} // namespace

LoaderDialog::LoaderDialog(platform::GuiCaller& gui) : platform::Dialog(MainDialogTemplate()), m_gui(gui)
{
    // Beside the program unless that folder cannot be written (an installed
    // program), then the user's state folder.
    const std::string logDir = platform::LogDirectory(platform::ProgramDirectory(), kLogFileName);
    const std::wstring header = LoadLoaderString(kStrWindowTitle) + L" " + LoadLoaderString(kStrVersion);
    if (!logDir.empty() && m_logFile.Open(logDir + kLogFileName, header))
        m_logWhere = L"Log file: " + platform::Widen(logDir + kLogFileName);
    else
        m_logWhere = L"No log file: " + platform::Widen(kLogFileName) + L" cannot be written beside the program "
                     L"or in the state folder";

    BindClicked(kIdLoad, [this] { OnLoad(); });
    BindClicked(kIdBrowseOrSend, [this] { OnBrowseOrSend(); });
    BindClicked(kIdModeButton, [this] { OnModeButton(); });
    BindSelectionChanged(kIdBaudCombo, [this] { OnBaudSelect(); });
    BindClicked(kIdHex, [this] { OnHexToggle(); });
    BindClicked(kIdPause, [this] { OnPauseToggle(); });
    BindClicked(kIdLogo, [this] { OnLogoClick(); });
    BindSelectionChanged(kIdPortCombo, [this] { OnPortSelect(); });
    BindClicked(kIdConnect, [this] { OnConnectGps(); });
    BindCloseRequest([this] { return OnCloseRequest(); });
}

LoaderDialog::~LoaderDialog()
{
    if (!ShutDownWorkers()) {
        // A worker stuck in a driver call: end here rather than let it run into
        // the program's teardown.
        _exit(0);
    }
}

bool LoaderDialog::ShutDownWorkers()
{
    if (m_shutDown)
        return m_workers.Running() == 0;
    m_shutDown = true;
    // Order matters: shut the gate and let the calls already queued for the GUI
    // thread run out (they no longer touch the controls), so no worker is left
    // waiting on this thread; then unbind, which waits for calls still inside us.
    m_workers.RequestStop();
    PostCommand(CmdStop);
    m_gui.Shut();
    m_gui.WaitIdle(std::chrono::milliseconds(kWorkerShutdownMs));
    // The log is closed after the workers: a stopped upload's last lines say
    // what the flash holds.
    const bool ended = m_workers.WaitAll(std::chrono::milliseconds(kWorkerShutdownMs));
    m_logFile.Close();
    return ended;
}

void LoaderDialog::OnInitDialog()
{
    m_imagePath = platform::Widen(platform::ProgramDirectory() + kDefaultImageName);
    platform::Dialog::OnInitDialog();
    ListReset(kIdLogPane);
    LogLine(m_logWhere);
    SetIcon(LoaderIcon());
    SetItemBitmap(kIdLogo, LoaderLogo());
    CenterOnScreen();
    ApplyMode();

    ComboReset(kIdBaudCombo);
    for (const wchar_t* entry : kBaudEntries)
        ComboAddString(kIdBaudCombo, entry);
    ComboSetCurSel(kIdBaudCombo, kDefaultBaudIndex);
    ComboReset(kIdPortCombo);
    for (const wchar_t* entry : kPortEntries)
        ComboAddString(kIdPortCombo, entry);
    ComboSetCurSel(kIdPortCombo, 0);
    m_portName = kPortEntries[0];
}

void LoaderDialog::DoDataExchange(platform::DataExchange& exchange)
{
    exchange.Text(kIdImageCombo, m_imagePath);
}

void LoaderDialog::ApplyMode()
{
    struct Look {
        const wchar_t* browseCaption;
        const wchar_t* modeCaption;
        const wchar_t* label;
    };
    static constexpr Look kLoaderLook {L"...", L"Loader", L"Select FW Image"};
    static constexpr Look kTerminalLook {L"Send", L"Terminal", L"GPS Command"};
    const Look& look = m_terminalMode ? kTerminalLook : kLoaderLook;

    EnableItem(kIdLoad, false);
    EnableItem(kIdConnect, !m_terminalMode);
    EnableItem(kIdImageCombo, true);
    EnableItem(kIdBrowseOrSend, true);
    SetItemText(kIdBrowseOrSend, look.browseCaption);
    SetItemText(kIdModeButton, look.modeCaption);
    SetItemText(kIdImageLabel, look.label);
    ShowItem(kIdStatusLine, !m_terminalMode);
    for (int id : {kIdBaudCombo, kIdHex, kIdPause})
        ShowItem(id, m_terminalMode);
    ComboReset(kIdImageCombo);
    if (!m_terminalMode) {
        ComboAddString(kIdImageCombo, m_imagePath);
        ComboSetCurSel(kIdImageCombo, 0);
        return;
    }
    // No entry selected: the edit box stays empty until a command is picked or typed.
    for (const wchar_t* const* list : {kCannedCommands, kCannedStreamCommands})
        for (const wchar_t* const* entry = list; *entry; ++entry)
            ComboAddString(kIdImageCombo, *entry);
}

void LoaderDialog::LogLine(const std::wstring& text)
{
    m_gui.Call([this, &text] {
        ListAddString(kIdLogPane, text);
        const int n = ListCount(kIdLogPane);
        if (n > 0)
            ListSetCurSel(kIdLogPane, n - 1);
        if (n > kLogPaneLines)
            ListDeleteString(kIdLogPane, 0);
        RepaintItem(kIdLogPane);
    });
    m_logFile.Write(text);
}

void LoaderDialog::StatusLine(const std::wstring& text)
{
    m_gui.Call([this, &text] {
        SetItemText(kIdStatusLine, text);
        RepaintItem(kIdStatusLine);
    });
    m_logFile.Write(text);
}

void LoaderDialog::Progress(Phase phase, uint64_t, uint64_t)
{
    if (phase == Phase::Erase || phase == Phase::Program)
        m_uploadInProgress = true;
}

void LoaderDialog::PortFailed(const Outcome& outcome)
{
    // The same text whatever the port: users know the message by heart; the pane says why.
    const wchar_t* text = outcome.fault == Fault::RateNotAccepted ? L"Incorrect baud." : L"Can not open serial port 1.";
    platform::ShowMessage({text, L"Error", platform::MessageButtons::Ok, platform::MessageIcon::None});
}

void LoaderDialog::SetInputControlsEnabled(bool enable)
{
    m_gui.Call([this, enable] {
        EnableItem(kIdLoad, false);
        for (int id : {kIdConnect, kIdImageCombo, kIdBrowseOrSend, kIdModeButton, kIdPortCombo})
            EnableItem(id, enable);
    });
}

void LoaderDialog::EndOperation(const Outcome& outcome, bool upload)
{
    SetInputControlsEnabled(true);
    m_uploadInProgress = false;
    if (upload && !outcome.Ok()) {
        LogLine(platform::Widen(FlashStateText(outcome.flash) + "."));
        if (LeftInLoader(outcome))
            LogLine(L"The receiver waits in its loader: press \"Connect GPS\", then \"Load\" to upload again.");
    }
    LogLine(outcome.Ok() ? L"Upload complete" : L"Upload failed");
}

void LoaderDialog::OnBrowseOrSend()
{
    if (m_terminalMode) {
        if (m_terminal)
            m_terminal->SetSendText(Cut(ItemText(kIdImageCombo), kImagePathMax));
        PostCommand(CmdSend);
        return;
    }
    const platform::SaveFileRequest request {L"Get name Image - file",
                                             L"Image - FILES(*.bin)|*.bin|ALL files(*.*)|*.*||",
                                             Cut(ItemText(kIdImageCombo), kImagePathMax)};
    if (const auto chosen = platform::ChooseSaveFile(this, request)) {
        if (chosen->size() > kImagePathMax) {
            // Cut short, it would name another file.
            platform::ShowMessage({L"The image path is too long: at most " + std::to_wstring(kImagePathMax)
                                       + L" characters.",
                                   LoadLoaderString(kStrAppTitle), platform::MessageButtons::Ok,
                                   platform::MessageIcon::Exclamation});
        } else {
            m_imagePath = *chosen;
            SetItemText(kIdImageCombo, m_imagePath);   // the list keeps its entry
        }
    }
    SetFocusTo(kIdConnect);
    m_defaultCommandId = kIdConnect;
}

void LoaderDialog::OnOk()
{
    // The dialog never closes on OK; once the chooser was used, OK means "Connect GPS".
    if (m_defaultCommandId != 0)
        SendCommand(m_defaultCommandId);
}

void LoaderDialog::OnCancel()
{
    // Escape must not slip past the question the close box asks.
    if (OnCloseRequest())
        EndDialog(platform::kIdCancel);
}

void LoaderDialog::OnPortSelect()
{
    m_portName = Cut(ItemText(kIdPortCombo), 59);
    if (m_terminal)
        m_terminal->SetPortName(m_portName);
    if (m_terminalMode)
        PostCommand(CmdReopen);
}

void LoaderDialog::OnModeButton()
{
    ListReset(kIdLogPane);
    if (m_terminalMode) {
        m_terminalMode = false;
        PostCommand(CmdStop);
    } else {
        m_terminalMode = true;
    }
    ApplyMode();
    if (m_terminalMode) {
        StartTerminal();
        OnBaudSelect();
    }
}

void LoaderDialog::StartTerminal()
{
    m_terminal = std::make_shared<TerminalSession>(m_terminal);
    m_terminal->SetPortName(m_portName);
    m_terminal->hex = m_hex;
    m_terminal->pause = m_pause;
    m_terminal->baud = m_terminalBaud;
    m_workerParams = {m_portName, L"", 1, m_terminal, {}, {}};
    StartWorker();
}

void LoaderDialog::StartWorker()
{
    // The worker gets its own copy of the block: the dialog may rewrite it meanwhile.
    m_workers.Start([this, params = m_workerParams](std::stop_token stop) {
        const Outcome outcome = RunOperation(params, *this, stop);
        // A terminal that ran ends quietly; one whose port did not open ends as a failed operation.
        if (!params.terminal || !outcome.Ok())
            EndOperation(outcome, !params.terminal);
    });
}

void LoaderDialog::PostCommand(int command)
{
    if (m_terminal)
        m_terminal->Post(command);
}

void LoaderDialog::OnBaudSelect()
{
    const int index = ComboCurSel(kIdBaudCombo);
    if (index < 0 || index >= int(std::size(kBaudCommands)))
        return;
    PostCommand(kBaudCommands[index]);
    m_terminalBaud = kBaudRates[index];
    if (m_terminal)
        m_terminal->baud = m_terminalBaud;
}

void LoaderDialog::OnHexToggle()
{
    m_hex = !m_hex;
    if (m_terminal)
        m_terminal->hex = m_hex;
}

void LoaderDialog::OnPauseToggle()
{
    m_pause = !m_pause;
    if (m_terminal)
        m_terminal->pause = m_pause;
}

void LoaderDialog::OnLogoClick()
{
    if (UploadInProgress())
        return;
    AboutDialog about(this);
    about.m_title = AboutDialog::TitleText();
    about.m_info = AboutDialog::InfoText(m_receiver);
    about.DoModal();
}

void LoaderDialog::OnConnectGps()
{
    ListReset(kIdLogPane);
    Repaint();
    const Outcome outcome = ConnectGps(platform::Narrow(m_portName), *this, m_receiver);
    // A loader left running by an unfinished upload takes the next one.
    const bool loader = outcome.fault == Fault::NoReceiver && outcome.loaderAnswered;
    if (loader)
        LogLine(L"Press \"Load\" to upload again; do not switch the receiver off.");
    EnableItem(kIdLoad, outcome.Ok() || loader);
}

void LoaderDialog::OnLoad()
{
    UpdateData(true);   // a typed path counts
    ListReset(kIdLogPane);
    Repaint();
    const PfldPolicy askPfld = [] {
        const platform::Message question {L"PFLD update requiered.\r\nContinue ?", L" Warning: Unsafe mode",
                                          platform::MessageButtons::YesNo, platform::MessageIcon::None};
        return platform::ShowMessage(question) == platform::MessageAnswer::Yes ? PfldAnswer::Yes : PfldAnswer::No;
    };
    m_workerParams = {m_portName, m_imagePath, 0, nullptr, m_receiver, askPfld};
    SetInputControlsEnabled(false);
    StartWorker();
}

bool LoaderDialog::OnCloseRequest()
{
    if (!UploadInProgress())
        return true;
    const platform::Message question {
        L"GPS uploading is in progress. Terminating may cause GPS failure.\r\nTerminate anyway ?",
        LoadLoaderString(kStrAppTitle), platform::MessageButtons::YesNo, platform::MessageIcon::Question};
    return platform::ShowMessage(question) == platform::MessageAnswer::Yes;
}

} // namespace velmor
