#include "loader/about_dialog.h"

#include "loader/loader_resources.h"
#include "loader/serial/receiver_info.h"
#include "platform/dialog/data_exchange.h"

namespace velmor {
namespace {

std::wstring VersionText(const SectionInfo& section)
{
    if (section.major == 0 && section.minor == 0)
        return L" N/a";
    return L" " + std::to_wstring(section.major) + L"." + std::to_wstring(section.minor);
}

} // namespace

AboutDialog::AboutDialog(platform::Dialog* owner) : platform::Dialog(AboutDialogTemplate(), owner) {}

std::wstring AboutDialog::TitleText()
{
    return LoadLoaderString(kStrWindowTitle) + L" " + LoadLoaderString(kStrVersion);
}

std::wstring AboutDialog::InfoText(const ReceiverInfo& info)
{
    std::wstring text = LoadLoaderString(kStrFwVersionLabel) + VersionText(info.fw) + L"\r\n";
    text += LoadLoaderString(kStrPfldVersionLabel) + VersionText(info.pfld) + L"\r\n";
    if (info.pflMode)
        text += L"PFL mode detected\r\n";
    return text;
}

void AboutDialog::DoDataExchange(platform::DataExchange& exchange)
{
    exchange.Text(kIdAboutTitle, m_title);
    exchange.Text(kIdAboutInfo, m_info);
}

} // namespace velmor
