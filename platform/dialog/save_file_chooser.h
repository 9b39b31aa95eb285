// The save-file chooser: a non-native Qt file dialog (it works offscreen too),
// fed with a Windows-style filter, behind a seam that tests answer.
#pragma once

#include <QStringList>

#include <functional>
#include <optional>
#include <string>

namespace platform {

class Dialog;

struct SaveFileRequest {
    std::wstring title;
    std::wstring filter;        // "Image - FILES(*.bin)|*.bin|ALL files(*.*)|*.*||"
    std::wstring initialName;   // a name, or a path
};

using SaveFileHandler = std::function<std::optional<std::wstring>(const SaveFileRequest&, Dialog* owner)>;

// Replaces the real chooser (an empty handler restores it). Returns the handler it replaces.
SaveFileHandler SetSaveFileHandler(SaveFileHandler handler);

// GUI thread only. The chosen full path, or nothing when cancelled. An existing
// file is taken without asking whether to replace it.
std::optional<std::wstring> ChooseSaveFile(Dialog* owner, const SaveFileRequest& request);

// "Desc(*.a)|*.a;*.b|..." -> {"Desc (*.a *.b)", ...}; "*.*" becomes "*", which
// is what it means there.
QStringList QtNameFilters(const std::wstring& windowsFilter);

} // namespace platform
