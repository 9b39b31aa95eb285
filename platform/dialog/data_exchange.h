// Moves texts between a dialog subclass's members and its controls, one way or
// the other: the subclass lists the pairs once, in Dialog::DoDataExchange.
#pragma once

#include <string>

namespace platform {

class Dialog;

class DataExchange {
public:
    DataExchange(Dialog& dialog, bool saving) : m_dialog(dialog), m_saving(saving) {}

    // True: control texts go to the members; false: members go to the controls.
    bool Saving() const { return m_saving; }

    void Text(int id, std::wstring& value);

private:
    Dialog& m_dialog;
    bool m_saving = false;
};

} // namespace platform
