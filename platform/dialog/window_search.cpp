// Window search with Xlib on its own display connection: the modern UTF-8
// title first, the legacy Latin-1 name for windows that set only that.
#include "platform/dialog/window_search.h"

// Qt before Xlib: Xlib's macros (None, Bool, Status) break Qt's headers.
#include <QByteArray>
#include <QString>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <memory>
#include <optional>

namespace platform {
namespace {

constexpr int kSearchDepth = 3;              // root's children, a frame's client, one nested frame
constexpr long kMaxTitleLongs = 1024;        // 4 KiB of title, in the 32-bit units Xlib counts

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

struct Title {
    QByteArray utf8;
    QString text;
    Atom netWmName = 0;
    Atom utf8String = 0;
};

// Windows can vanish between listing and reading them; the default handler
// would end the process over that.
int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;
}

std::optional<QByteArray> Utf8Name(Display* display, Window window, const Title& title)
{
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, title.netWmName, 0, kMaxTitleLongs, False, title.utf8String, &type,
                           &format, &count, &remaining, &data) != Success)
        return std::nullopt;
    std::optional<QByteArray> name;
    if (data && type == title.utf8String && format == 8)
        name = QByteArray(reinterpret_cast<const char*>(data), qsizetype(count));
    if (data)
        XFree(data);
    return name;
}

bool HasTitle(Display* display, Window window, const Title& title)
{
    if (const auto name = Utf8Name(display, window, title))
        return *name == title.utf8;
    char* legacy = nullptr;
    if (!XFetchName(display, window, &legacy) || !legacy)
        return false;
    const bool same = QString::fromLatin1(legacy) == title.text;
    XFree(legacy);
    return same;
}

bool Search(Display* display, Window parent, int depth, const Title& title)
{
    Window root = 0;
    Window grandParent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &grandParent, &children, &count))
        return false;
    bool found = false;
    for (unsigned int i = 0; i < count && !found; ++i)
        found = HasTitle(display, children[i], title) || (depth > 1 && Search(display, children[i], depth - 1, title));
    if (children)
        XFree(children);
    return found;
}

} // namespace

bool FindTopLevelWindow(const std::wstring& title)
{
    const std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display)
        return false;
    Title wanted;
    wanted.text = QString::fromStdWString(title);
    wanted.utf8 = wanted.text.toUtf8();
    wanted.netWmName = XInternAtom(display.get(), "_NET_WM_NAME", False);
    wanted.utf8String = XInternAtom(display.get(), "UTF8_STRING", False);

    const auto previousHandler = XSetErrorHandler(IgnoreXError);
    const bool found = Search(display.get(), DefaultRootWindow(display.get()), kSearchDepth, wanted);
    XSync(display.get(), False);   // errors from this search arrive before the old handler is back
    XSetErrorHandler(previousHandler);
    return found;
}

} // namespace platform
