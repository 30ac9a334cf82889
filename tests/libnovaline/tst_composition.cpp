#include "osintegration.h"

#include <QtTest>

// Xlib last: it defines macros that Qt's headers must not see.
#include <X11/Xlib.h>

class TestComposition : public QObject
{
    Q_OBJECT

private slots:
    void followsTheCompositingManagerSelection();
};

void TestComposition::followsTheCompositingManagerSelection()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        QSKIP("no X display");
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
    const Atom selection = XInternAtom(display, name.constData(), False);
    if (XGetSelectionOwner(display, selection) != None) {
        XCloseDisplay(display);
        QSKIP("a compositing manager runs on this display");
    }
    // Plain Xvfb: nobody composes.
    QVERIFY(!OsIntegration::compositionEnabled());

    // Stand in for a compositing manager by owning its selection.
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(display, selection, window, CurrentTime);
    XSync(display, False);
    QCOMPARE(XGetSelectionOwner(display, selection), window);
    QVERIFY(OsIntegration::compositionEnabled());

    XDestroyWindow(display, window);  // the selection goes with its owner
    XSync(display, False);
    QVERIFY(!OsIntegration::compositionEnabled());
    XCloseDisplay(display);
}

QTEST_GUILESS_MAIN(TestComposition)
#include "tst_composition.moc"
