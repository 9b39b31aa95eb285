// Finding another process's window by its exact title on a real X server:
// run under xvfb-run, against the title_window program.
#include "platform/dialog/window_search.h"

#include <QCoreApplication>
#include <QProcess>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace platform {
namespace {

constexpr int kStartMs = 10000;   // for the other program to connect and map its window
const std::wstring kTitle = L"Velmor \u2013 GPS firmware loader";   // the dash exists only in the UTF-8 title

// The other program, up with its window on screen; ends it when done.
class TitleWindow {
public:
    explicit TitleWindow(const std::wstring& title)
    {
        m_process.setProgram(QStringLiteral(TITLE_WINDOW_PATH));
        m_process.setArguments({QString::fromStdWString(title)});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        m_shown = m_process.waitForStarted(kStartMs) && m_process.waitForReadyRead(kStartMs) &&
                  m_process.readLine().trimmed() == "shown";
    }
    ~TitleWindow()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(kStartMs))
            m_process.kill();
        m_process.waitForFinished(kStartMs);
    }

    bool Shown() const { return m_shown; }

private:
    QProcess m_process;
    bool m_shown = false;
};

TEST(WindowSearchTest, FindsAnotherProcesssWindowByItsExactTitleOnly)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under xvfb-run";
    EXPECT_FALSE(FindTopLevelWindow(kTitle));
    TitleWindow window(kTitle);
    ASSERT_TRUE(window.Shown());
    EXPECT_TRUE(FindTopLevelWindow(kTitle));

    std::wstring oneOff = kTitle;
    oneOff.back() = L'R';
    EXPECT_FALSE(FindTopLevelWindow(oneOff));
    EXPECT_FALSE(FindTopLevelWindow(kTitle.substr(0, kTitle.size() - 1)));
    EXPECT_FALSE(FindTopLevelWindow(kTitle + L" "));
}

TEST(WindowSearchTest, NoDisplayFindsNothing)
{
    const std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    TitleWindow window(kTitle);
    ASSERT_TRUE(window.Shown());
    unsetenv("DISPLAY");
    EXPECT_FALSE(FindTopLevelWindow(kTitle));
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_TRUE(FindTopLevelWindow(kTitle));
}

} // namespace
} // namespace platform

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);   // for QProcess
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
