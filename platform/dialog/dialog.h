// A dialog built from a template and driven the way a Windows dialog program
// drives one: every control addressed by its id, commands routed to handlers.
// All operations belong to the GUI thread.
#pragma once

#include "platform/dialog/dialog_template.h"

#include <QPointer>

#include <functional>
#include <map>
#include <string>
#include <vector>

class QDialog;
class QIcon;
class QPixmap;
class QWidget;

namespace platform {

class DataExchange;
class DialogWindow;

class Dialog {
public:
    using Handler = std::function<void()>;
    using CloseHandler = std::function<bool()>;   // true lets the dialog close

    // With an owner, the dialog stays above it and is modal to it.
    explicit Dialog(const DialogTemplate& dialogTemplate, Dialog* owner = nullptr);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    int TemplateId() const { return m_templateId; }
    QDialog* Widget() const;
    // The first control with the id, or nullptr.
    QWidget* Item(int id) const;

    // Calls OnInitDialog, then runs until EndDialog; returns EndDialog's code.
    int DoModal();
    void EndDialog(int code);
    // kIdOk goes to OnOk, kIdCancel to OnCancel, any other id to its click
    // handler; nothing when the control with that id is disabled.
    void SendCommand(int id);

    // Combos: the edit text (drop-down lists: the selected entry's text, not settable).
    // Multi-line edits: lines end in CR LF.
    void SetItemText(int id, const std::wstring& text);
    std::wstring ItemText(int id) const;
    void EnableItem(int id, bool enable);
    bool IsItemEnabled(int id) const;
    void ShowItem(int id, bool show);
    // Whether the control is shown within the dialog, shown or not itself.
    bool IsItemVisible(int id) const;
    void SetFocusTo(int id);
    // As a user's click: nothing when the control is disabled.
    void ClickItem(int id);
    // Paint now, without waiting for the event loop: for handlers that keep the
    // GUI thread busy. Only once the window is on screen.
    void RepaintItem(int id);
    void Repaint();
    void CenterOnScreen();
    void SetIcon(const QIcon& icon);
    void SetItemBitmap(int id, const QPixmap& bitmap);

    // List boxes. Indexes count from 0; -1 means none or failure.
    int ListAddString(int id, const std::wstring& text);   // the new entry's index
    int ListCount(int id) const;
    std::wstring ListText(int id, int index) const;
    bool ListSetCurSel(int id, int index);   // scrolls it into view; -1 clears
    int ListCurSel(int id) const;
    bool ListDeleteString(int id, int index);
    void ListReset(int id);

    // Combos. Adding keeps the selection and the edit text as they were.
    int ComboAddString(int id, const std::wstring& text);   // the new entry's index
    void ComboReset(int id);   // entries and edit text
    int ComboCount(int id) const;
    std::wstring ComboText(int id, int index) const;
    bool ComboSetCurSel(int id, int index);   // -1 clears
    int ComboCurSel(int id) const;

    bool IsChecked(int id) const;
    void SetCheck(int id, bool checked);

    // Clicks: buttons, check boxes, notifying statics. Selection changes: list
    // boxes and combos, on the user's changes only, as the native controls do.
    void BindClicked(int id, Handler handler);
    void BindSelectionChanged(int id, Handler handler);
    void BindOk(Handler handler);
    void BindCancel(Handler handler);
    void BindCloseRequest(CloseHandler handler);

    // Runs DoDataExchange: save = true reads the controls into the members.
    void UpdateData(bool save);

protected:
    // Before the modal loop starts. Default: UpdateData(false).
    virtual void OnInitDialog();
    // Enter, the caption OK button, kIdOk. Default: the bound handler, else
    // UpdateData(true) and EndDialog(kIdOk).
    virtual void OnOk();
    // Escape, kIdCancel. Default: the bound handler, else EndDialog(kIdCancel).
    virtual void OnCancel();
    // The close box. Default: with a close handler, EndDialog(kIdCancel) when it
    // agrees; without one, the kIdCancel command.
    virtual void OnClose();
    virtual void DoDataExchange(DataExchange& exchange);

private:
    struct Control {
        int id = kIdStatic;
        ControlKind kind = ControlKind::StaticText;
        uint32_t flags = 0;
        QWidget* widget = nullptr;
    };

    const Control* Find(int id) const;
    template <class W> W* ItemAs(int id) const;
    void Connect(const Control& control);
    void HandleEnter();
    void Notify(const std::map<int, Handler>& handlers, int id);

    int m_templateId = 0;
    QPointer<DialogWindow> m_window;
    QWidget* m_client = nullptr;   // controls sit here, at template positions
    std::vector<Control> m_controls;
    std::map<int, Handler> m_clickHandlers;
    std::map<int, Handler> m_selectionHandlers;
    Handler m_okHandler;
    Handler m_cancelHandler;
    CloseHandler m_closeHandler;
    int m_quiet = 0;   // > 0 while the program itself changes a selection
};

} // namespace platform
