// The loader's resources: control ids, the string table, the main dialog and
// About box templates, the icon and the logo bitmap.
#pragma once

#include "platform/dialog/dialog_template.h"
#include "platform/dialog/string_table.h"

#include <QIcon>
#include <QPixmap>

namespace velmor {

// Main dialog (template 102).
inline constexpr int kMainDialogId = 102;
inline constexpr int kIdBrowseOrSend = 1008;
inline constexpr int kIdModeButton = 1009;
inline constexpr int kIdLoad = 1003;
inline constexpr int kIdBaudCombo = 1015;
inline constexpr int kIdHex = 1002;
inline constexpr int kIdPause = 1004;
inline constexpr int kIdStatusLine = 1007;
inline constexpr int kIdLogPane = 1006;
inline constexpr int kIdImageLabel = 1010;
inline constexpr int kIdLogo = 1019;
inline constexpr int kIdPortCombo = 1021;
inline constexpr int kIdImageCombo = 1001;
inline constexpr int kIdModeLabel = 1011;
inline constexpr int kIdConnect = 1024;

// About box (template 135).
inline constexpr int kAboutDialogId = 135;
inline constexpr int kIdAboutTitle = 1023;
inline constexpr int kIdAboutInfo = 1020;

// String table.
inline constexpr unsigned kStrAlreadyRunning = 1;
inline constexpr unsigned kStrAppTitle = 57344;
inline constexpr unsigned kStrVersion = 57345;
inline constexpr unsigned kStrWindowTitle = 57346;
inline constexpr unsigned kStrFwVersionLabel = 57347;
inline constexpr unsigned kStrPfldVersionLabel = 57348;

const platform::StringTable& LoaderStrings();
std::wstring LoadLoaderString(unsigned id);

const platform::DialogTemplate& MainDialogTemplate();
const platform::DialogTemplate& AboutDialogTemplate();

// Icon group 128 (32 x 32 and 16 x 16) and bitmap 129 (85 x 23).
QIcon LoaderIcon();
QPixmap LoaderLogo();

} // namespace velmor
