// velmor on a real X server (run under xvfb-run): a screenshot of the main
// dialog as a test artefact, and a second start that meets the first.
// GoogleTest and Qt before Xlib, whose macros (None, Bool, Status) break them.
#include "platform/dialog/window_search.h"
#include "tests/platform/gui_wait.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPixmap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScreen>
#include <QThread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::test::WaitUntil;

struct TitledWindow {
    Window id = 0;
    int width = 0;
    int height = 0;
};

// Mapped windows anywhere below `parent` whose UTF-8 title is `title`.
void FindWindows(Display* display, Window parent, const QByteArray& title, std::vector<TitledWindow>& found,
                 int depth = 3)
{
    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Window root = 0, up = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, parent, &root, &up, &children, &count))
        return;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes attributes {};
        Atom type = 0;
        int format = 0;
        unsigned long n = 0, rest = 0;
        unsigned char* data = nullptr;
        if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable
            && XGetWindowProperty(display, children[i], netWmName, 0, 1024, False, utf8, &type, &format, &n, &rest,
                                  &data) == Success
            && data && QByteArray(reinterpret_cast<char*>(data), int(n)) == title)
            found.push_back({children[i], attributes.width, attributes.height});
        if (data)
            XFree(data);
        if (depth > 1)
            FindWindows(display, children[i], title, found, depth - 1);
    }
    if (children)
        XFree(children);
}

std::vector<TitledWindow> Titled(const char* title)
{
    std::vector<TitledWindow> found;
    if (Display* display = XOpenDisplay(nullptr)) {
        FindWindows(display, DefaultRootWindow(display), QByteArray(title), found);
        XCloseDisplay(display);
    }
    return found;
}

// A key press and release, sent to `window` itself.
void PressKey(Window window, KeySym key)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XKeyEvent event {};
    event.display = display;
    event.window = window;
    event.root = DefaultRootWindow(display);
    event.time = CurrentTime;
    event.same_screen = True;
    event.keycode = XKeysymToKeycode(display, key);
    for (int type : {KeyPress, KeyRelease}) {
        event.type = type;
        XSendEvent(display, window, True, type == KeyPress ? KeyPressMask : KeyReleaseMask,
                   reinterpret_cast<XEvent*>(&event));
    }
    XCloseDisplay(display);
}

void SaveScreen(const char* name)
{
    QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    ASSERT_FALSE(shot.isNull());
    ASSERT_TRUE(shot.save(QString(ARTEFACT_DIR "/") + name)) << name;
}

TEST(VelmorOnX11, ScreenshotAndSecondInstance)
{
    constexpr const char* kTitle = "GPS firmware loader";   // the main dialog's, and the notice's caption
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under xvfb-run";
    ASSERT_TRUE(Titled(kTitle).empty());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("VELMOR_DEVICE_DIR", ARTEFACT_DIR);   // no boards: nothing is opened anyway
    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(VELMOR_PROGRAM, {});
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(WaitUntil([&] { return Titled(kTitle).size() == 1; }, 15s));
    const TitledWindow mainDialog = Titled(kTitle).front();

    // The search the second copy relies on: the exact title only, and only with a display.
    EXPECT_TRUE(platform::FindTopLevelWindow(L"GPS firmware loader"));
    for (const wchar_t* other : {L"GPS firmware loade", L"GPS firmware loader ", L"GPS firmware loadeR"})
        EXPECT_FALSE(platform::FindTopLevelWindow(other));
    const std::string display = std::getenv("DISPLAY");
    unsetenv("DISPLAY");
    EXPECT_FALSE(platform::FindTopLevelWindow(L"GPS firmware loader"));
    setenv("DISPLAY", display.c_str(), 1);
    QThread::msleep(300);   // let it paint before the picture is taken
    SaveScreen("velmor-main-dialog.png");

    // The second copy finds the first and shows its notice instead of a dialog.
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(VELMOR_PROGRAM, {});
    ASSERT_TRUE(second.waitForStarted());
    std::vector<TitledWindow> shown;
    ASSERT_TRUE(WaitUntil([&] { return (shown = Titled(kTitle)).size() == 2; }, 15s));
    const TitledWindow notice = shown[0].id == mainDialog.id ? shown[1] : shown[0];
    EXPECT_NE(std::make_pair(notice.width, notice.height), std::make_pair(mainDialog.width, mainDialog.height));
    QThread::msleep(300);
    SaveScreen("velmor-second-instance.png");

    // Enter answers the notice and the second copy ends; a main dialog would stay.
    PressKey(notice.id, XK_Return);
    ASSERT_TRUE(second.waitForFinished(5000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(Titled(kTitle).size(), 1u);
    EXPECT_EQ(first.state(), QProcess::Running);   // the first copy was left as it was
    first.terminate();
    EXPECT_TRUE(first.waitForFinished(5000));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
