// The wizard's resources: dialog template 102 with its control ids, the string
// table and icon 128.
#pragma once

#include "platform/dialog/dialog_template.h"

#include <string>

class QIcon;

namespace quillon {

inline constexpr int kWizardTemplateId = 102;
inline constexpr const wchar_t* kWizardCaption = L"Quillon V1.1";
inline constexpr int kCancelId = 1001;
inline constexpr int kContinueId = 1002;
inline constexpr int kStatusId = 1003;
inline constexpr int kIconId = 128;

enum StringId : unsigned {
    kWizardText = 1,
    kFormattingText = 2,
    kUnmountingText = 3,
    kCreatingText = 4,
};

platform::DialogTemplate WizardTemplate();
// Empty when the table has no such string.
std::wstring LoadString(unsigned id);
// Both sizes of the icon, 32 and 16 pixels; a null icon for an unknown id.
QIcon LoadIcon(int id);

} // namespace quillon
