#include "loader/loader_resources.h"

#include "loader/resources/velmor_icon.xpm"
#include "loader/resources/velmor_logo.xpm"
#include "platform/version.h"

namespace velmor {

using platform::ControlFlag;
using platform::ControlKind;

const platform::StringTable& LoaderStrings()
{
    static const platform::StringTable table {
        {kStrAlreadyRunning, L"Application is already runnning!\nTerminating this instance."},
        {kStrAppTitle, L"Velmor Firmware Loader"},
        {kStrVersion, std::wstring(platform::kWideVersion)},
        {kStrWindowTitle, L"GPS firmware loader"},
        {kStrFwVersionLabel, L"GPS firmware version"},
        {kStrPfldVersionLabel, L"GPS Pfld version"},
    };
    return table;
}

std::wstring LoadLoaderString(unsigned id)
{
    return LoaderStrings().Load(id).value_or(L"");
}

const platform::DialogTemplate& MainDialogTemplate()
{
    static const platform::DialogTemplate dialog {
        kMainDialogId,
        L"GPS firmware loader",
        133,
        138,
        L"System",
        8,
        platform::DialogStyle::Caption | platform::DialogStyle::SysMenu | platform::DialogStyle::CaptionOk,
        {
            {kIdBrowseOrSend, ControlKind::PushButton, L"...", 107, 18, 22, 12, 0},
            {kIdModeButton, ControlKind::PushButton, L"Loader", 5, 39, 34, 9, ControlFlag::Hidden},
            {kIdLoad, ControlKind::PushButton, L"Load", 98, 35, 32, 13, ControlFlag::Disabled},
            {kIdBaudCombo, ControlKind::DropDownList, L"", 4, 122, 44, 56, ControlFlag::VScroll},
            {kIdHex, ControlKind::AutoCheckBox, L"Hex", 56, 123, 24, 10, 0},
            {kIdPause, ControlKind::AutoCheckBox, L"Pause", 88, 123, 38, 10, 0},
            {kIdStatusLine, ControlKind::Edit, L"", 5, 122, 125, 12,
             ControlFlag::ReadOnly | ControlFlag::Border | ControlFlag::AutoHScroll},
            {kIdLogPane, ControlKind::ListBox, L"", 4, 51, 126, 68,
             ControlFlag::Border | ControlFlag::VScroll | ControlFlag::HScroll | ControlFlag::Notify},
            {kIdImageLabel, ControlKind::StaticText, L"Image", 6, 10, 58, 8, 0},
            {kIdLogo, ControlKind::StaticBitmap, L"", 75, 0, 58, 15, ControlFlag::Notify},
            {kIdPortCombo, ControlKind::DropDownList, L"", 59, 35, 34, 53, ControlFlag::VScroll},
            {kIdImageCombo, ControlKind::DropDownCombo, L"", 5, 18, 102, 84,
             ControlFlag::Sorted | ControlFlag::VScroll | ControlFlag::AutoHScroll},
            {kIdModeLabel, ControlKind::StaticText, L"Mode", 7, 31, 27, 8, ControlFlag::Hidden},
            {kIdConnect, ControlKind::PushButton, L"Connect GPS", 5, 35, 50, 13, 0},
        },
    };
    return dialog;
}

const platform::DialogTemplate& AboutDialogTemplate()
{
    static const platform::DialogTemplate dialog {
        kAboutDialogId,
        L"About",
        139,
        95,
        L"MS Sans Serif",
        8,
        platform::DialogStyle::Caption | platform::DialogStyle::SysMenu,
        {
            {kIdAboutTitle, ControlKind::StaticText, L"GPS Firmware Loader", 7, 8, 125, 8, 0},
            {kIdAboutInfo, ControlKind::Edit, L"", 7, 23, 125, 46,
             ControlFlag::MultiLine | ControlFlag::ReadOnly | ControlFlag::VScroll},
            {platform::kIdOk, ControlKind::DefaultPushButton, L"OK", 44, 74, 50, 14, 0},
        },
    };
    return dialog;
}

QIcon LoaderIcon()
{
    QIcon icon;
    icon.addPixmap(QPixmap(velmor_icon_32));
    icon.addPixmap(QPixmap(velmor_icon_16));
    return icon;
}

QPixmap LoaderLogo()
{
    return QPixmap(velmor_logo);
}

} // namespace velmor
