// Resource data. The icon images are drawn in formatter/resources.
#include "formatter/quillon_resources.h"

#include "platform/dialog/string_table.h"

#include <QIcon>
#include <QPixmap>

namespace quillon {
namespace {

#include "formatter/resources/quillon_icon.xpm"

using platform::ControlKind;
using platform::DialogStyle;

const platform::StringTable& Strings()
{
    static const platform::StringTable table {
        {kWizardText,
         L"To increase performance and security, this version requires to format the internal \\MyDevice storage. "
         L"Before continuing, be sure to backup your data on SD card so that all file on \\MyDevice can be deleted. "},
        {kFormattingText, L"Formatting internal store ..."},
        {kUnmountingText, L"Unmounting internal store ..."},
        {kCreatingText, L"Creating new partition ..."},
    };
    return table;
}

} // namespace

platform::DialogTemplate WizardTemplate()
{
    platform::DialogTemplate dialog;
    dialog.id = kWizardTemplateId;
    dialog.caption = kWizardCaption;
    dialog.width = 131;
    dialog.height = 92;
    dialog.fontName = L"System";
    dialog.fontPointSize = 8;
    dialog.style = DialogStyle::Caption | DialogStyle::SysMenu | DialogStyle::CaptionOk;
    dialog.controls = {
        {kStatusId, ControlKind::StaticText, L"Status", 11, 8, 109, 56, 0},
        {kContinueId, ControlKind::PushButton, L"Continue", 15, 69, 46, 14, 0},
        {kCancelId, ControlKind::PushButton, L"Cancel", 66, 69, 47, 14, 0},
    };
    return dialog;
}

std::wstring LoadString(unsigned id)
{
    return Strings().Load(id).value_or(std::wstring());
}

QIcon LoadIcon(int id)
{
    QIcon icon;
    if (id != kIconId)
        return icon;
    icon.addPixmap(QPixmap(quillon_icon_32));
    icon.addPixmap(QPixmap(quillon_icon_16));
    return icon;
}

} // namespace quillon
