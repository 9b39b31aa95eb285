// The About box: the program's name and version, and the versions of the
// receiver's firmware and PFLD from the last detection.
#pragma once

#include "platform/dialog/dialog.h"

#include <string>

namespace velmor {

struct ReceiverInfo;

class AboutDialog : public platform::Dialog {
public:
    explicit AboutDialog(platform::Dialog* owner = nullptr);

    std::wstring m_title;
    std::wstring m_info;

    // The texts as the box shows them for a detection's result.
    static std::wstring TitleText();
    static std::wstring InfoText(const ReceiverInfo& info);

protected:
    void DoDataExchange(platform::DataExchange& exchange) override;
};

} // namespace velmor
