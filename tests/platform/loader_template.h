// Dialog templates shaped like the programs' own: a loader main dialog and an
// about box, shared by the widget tests.
#pragma once

#include "platform/dialog/dialog_template.h"

namespace platform::test {

enum LoaderId : int { kLog = 1000, kPort, kBaud, kName, kNotes, kLoad, kAbout };

inline DialogTemplate LoaderTemplate()
{
    DialogTemplate dialog;
    dialog.id = 102;
    dialog.caption = L"Loader under test";
    dialog.width = 220;
    dialog.height = 170;
    dialog.style = DialogStyle::Caption | DialogStyle::SysMenu | DialogStyle::CaptionOk;
    dialog.controls = {
        {kIdStatic, ControlKind::StaticText, L"Port:", 160, 5, 55, 8, 0},
        {kPort, ControlKind::DropDownList, L"", 160, 14, 55, 60, ControlFlag::VScroll},
        {kBaud, ControlKind::DropDownCombo, L"", 160, 32, 55, 80, ControlFlag::Sorted | ControlFlag::VScroll},
        {kLog, ControlKind::ListBox, L"", 5, 5, 150, 60, ControlFlag::Border | ControlFlag::VScroll},
        {kName, ControlKind::Edit, L"", 5, 70, 100, 12, ControlFlag::Border},
        {kNotes, ControlKind::Edit, L"", 110, 70, 105, 40, ControlFlag::MultiLine | ControlFlag::Border | ControlFlag::VScroll},
        {kLoad, ControlKind::DefaultPushButton, L"&Load", 5, 150, 50, 14, 0},
        {kAbout, ControlKind::PushButton, L"About", 60, 150, 50, 14, ControlFlag::Disabled},
    };
    return dialog;
}

inline DialogTemplate AboutTemplate()
{
    DialogTemplate dialog;
    dialog.id = 100;
    dialog.caption = L"About";
    dialog.width = 120;
    dialog.height = 50;
    dialog.fontName = L"System";
    dialog.controls = {
        {kIdStatic, ControlKind::StaticText, L"Loader 1.0", 5, 5, 110, 10, 0},
        {kIdOk, ControlKind::DefaultPushButton, L"OK", 35, 30, 50, 14, 0},
    };
    return dialog;
}

} // namespace platform::test
