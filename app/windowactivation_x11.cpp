#include "windowactivation.h"

#include <QByteArray>
#include <QString>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>

namespace {

// Xlib reports protocol errors through a process-wide handler; a window that goes away
// while we look at it must not end the program.
int ignoreXErrors(Display *, XErrorEvent *)
{
    return 0;
}

bool readUtf8Property(Display *display, Window window, Atom property, Atom type, QByteArray *out)
{
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long items = 0;
    unsigned long remaining = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 65536, False, type, &actualType, &actualFormat,
                           &items, &remaining, &data) != Success)
        return false;
    const bool found = data && actualType == type && actualFormat == 8;
    if (found)
        *out = QByteArray(reinterpret_cast<const char *>(data), int(items));
    if (data)
        XFree(data);
    return found;
}

bool windowTitle(Display *display, Window window, QString *title)
{
    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8String = XInternAtom(display, "UTF8_STRING", False);
    QByteArray bytes;
    if (readUtf8Property(display, window, netWmName, utf8String, &bytes)) {
        *title = QString::fromUtf8(bytes);
        return true;
    }
    XTextProperty property;
    if (!XGetWMName(display, window, &property) || !property.value)
        return false;
    bool ok = false;
    if (property.encoding == XA_STRING && property.format == 8) {
        *title = QString::fromLatin1(reinterpret_cast<const char *>(property.value), int(property.nitems));
        ok = true;
    } else if (property.encoding == utf8String && property.format == 8) {
        *title = QString::fromUtf8(reinterpret_cast<const char *>(property.value), int(property.nitems));
        ok = true;
    } else {
        char **list = nullptr;
        int count = 0;
        if (Xutf8TextPropertyToTextList(display, &property, &list, &count) >= Success && list) {
            if (count > 0)
                *title = QString::fromUtf8(list[0]);
            ok = count > 0;
            XFreeStringList(list);
        }
    }
    XFree(property.value);
    return ok;
}

// Client windows first (as a window manager lists them), then the children of the
// root and, for reparenting managers, their children.
Window findWindow(Display *display, Window root, const QString &title)
{
    const Atom clientList = XInternAtom(display, "_NET_CLIENT_LIST", False);
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long items = 0;
    unsigned long remaining = 0;
    unsigned char *data = nullptr;
    Window found = None;
    if (XGetWindowProperty(display, root, clientList, 0, 65536, False, XA_WINDOW, &actualType, &actualFormat,
                           &items, &remaining, &data) == Success && data) {
        if (actualType == XA_WINDOW && actualFormat == 32) {
            const Window *windows = reinterpret_cast<const Window *>(data);
            for (unsigned long i = 0; i < items && found == None; ++i) {
                QString name;
                if (windowTitle(display, windows[i], &name) && name == title)
                    found = windows[i];
            }
        }
        XFree(data);
    }
    if (found != None)
        return found;

    Window rootReturn = None;
    Window parent = None;
    Window *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, root, &rootReturn, &parent, &children, &count))
        return None;
    // Topmost first: XQueryTree lists children bottom to top.
    for (unsigned int i = count; i-- > 0 && found == None;) {
        QString name;
        if (windowTitle(display, children[i], &name) && name == title) {
            found = children[i];
            break;
        }
        Window *grandChildren = nullptr;
        unsigned int grandCount = 0;
        if (XQueryTree(display, children[i], &rootReturn, &parent, &grandChildren, &grandCount)) {
            for (unsigned int j = grandCount; j-- > 0;) {
                if (windowTitle(display, grandChildren[j], &name) && name == title) {
                    found = grandChildren[j];
                    break;
                }
            }
            if (grandChildren)
                XFree(grandChildren);
        }
    }
    if (children)
        XFree(children);
    return found;
}

} // namespace

bool activateWindow(std::wstring &title)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XErrorHandler previous = XSetErrorHandler(ignoreXErrors);
    const Window root = DefaultRootWindow(display);
    const Window window = findWindow(display, root, QString::fromStdWString(title));
    if (window != None) {
        // Ask the window manager to activate it (a request from an application, as a
        // pager would send); without a manager, raising is the best there is.
        XEvent event = {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 1;
        event.xclient.data.l[1] = CurrentTime;
        event.xclient.data.l[2] = None;
        XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XRaiseWindow(display, window);
        XSync(display, False);
    }
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    return window != None;
}

bool activateWindow(std::string &title)
{
    std::wstring wide;
    wide.reserve(title.size());
    for (char c : title)
        wide.push_back(wchar_t(uint16_t(int16_t(static_cast<signed char>(c)))));
    return activateWindow(wide);
}
