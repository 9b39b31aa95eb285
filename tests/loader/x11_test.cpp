// velmor on a real X server (run under xvfb-run): a screenshot of the main
// dialog as a test artefact, and a second start that meets the first.
// GoogleTest and Qt before Xlib, whose macros (None, Bool, Status) break them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPixmap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScreen>
#include <QThread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

using namespace std::chrono_literals;

// Mapped windows anywhere below the root whose UTF-8 title is `title`.
int CountWindows(Display* display, Window parent, const QByteArray& title, int depth = 3)
{
    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Window root = 0, up = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, parent, &root, &up, &children, &count))
        return 0;
    int found = 0;
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
            ++found;
        if (data)
            XFree(data);
        if (depth > 1)
            found += CountWindows(display, children[i], title, depth - 1);
    }
    if (children)
        XFree(children);
    return found;
}

int CountTitled(const char* title)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return -1;
    const int n = CountWindows(display, DefaultRootWindow(display), QByteArray(title));
    XCloseDisplay(display);
    return n;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 15s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    return true;
}

void SaveScreen(const char* name)
{
    QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    ASSERT_FALSE(shot.isNull());
    ASSERT_TRUE(shot.save(QString(ARTEFACT_DIR "/") + name)) << name;
}

TEST(VelmorOnX11, ScreenshotAndSecondInstance)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under xvfb-run";
    ASSERT_EQ(CountTitled("GPS firmware loader"), 0);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("VELMOR_DEVICE_DIR", ARTEFACT_DIR);   // no boards: nothing is opened anyway
    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(VELMOR_PROGRAM, {});
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(WaitFor([] { return CountTitled("GPS firmware loader") == 1; }));
    QThread::msleep(300);   // let it paint before the picture is taken
    SaveScreen("velmor-main-dialog.png");

    // The second copy finds the first and shows its notice instead of a dialog.
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(VELMOR_PROGRAM, {});
    ASSERT_TRUE(second.waitForStarted());
    ASSERT_TRUE(WaitFor([] { return CountTitled("GPS firmware loader") == 2; }));
    SaveScreen("velmor-second-instance.png");
    EXPECT_EQ(second.state(), QProcess::Running);   // held by its message box
    EXPECT_EQ(first.state(), QProcess::Running);

    second.terminate();
    ASSERT_TRUE(second.waitForFinished(5000));
    EXPECT_TRUE(WaitFor([] { return CountTitled("GPS firmware loader") == 1; }));
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
