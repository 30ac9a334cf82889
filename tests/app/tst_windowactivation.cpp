// Runs its own Xvfb (no window manager) so that no other test's windows or manager
// interfere; the test itself plays the manager's part to see the activation request.
#include "windowactivation.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>
#include <unistd.h>

class TestWindowActivation : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            QSKIP("Xvfb is not installed");
        m_server.setProgram(xvfb);
        m_server.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                               QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                               QStringLiteral("640x480x24")});
        m_server.start();
        QVERIFY(m_server.waitForStarted(10000));
        QByteArray number;
        QElapsedTimer timer;
        timer.start();
        while (!number.contains('\n') && timer.elapsed() < 20000) {
            m_server.waitForReadyRead(1000);
            number += m_server.readAllStandardOutput();
        }
        QVERIFY2(number.contains('\n'), "Xvfb did not report its display");
        m_displayName = ":" + number.trimmed();
        qputenv("DISPLAY", m_displayName);
        m_display = XOpenDisplay(m_displayName.constData());
        QVERIFY(m_display);
    }

    void cleanupTestCase()
    {
        if (m_display)
            XCloseDisplay(m_display);
        if (m_server.state() != QProcess::NotRunning) {
            m_server.terminate();
            m_server.waitForFinished(5000);
        }
    }

    void findsByTitle()
    {
        const Window netNamed = createWindow(QByteArray("Novaline TV"), nullptr);
        const Window plainNamed = createWindow(QByteArray(), "Plain title");
        const Window both = createWindow(QByteArray("Real title"), "Novaline TV");
        becomeManager(true);

        std::wstring title = L"Novaline TV";
        QVERIFY(activateWindow(title));
        QCOMPARE(nextActivationRequest(), netNamed);

        // WM_NAME counts when there is no _NET_WM_NAME.
        std::wstring plain = L"Plain title";
        QVERIFY(activateWindow(plain));
        QCOMPARE(nextActivationRequest(), plainNamed);

        // _NET_WM_NAME wins over WM_NAME; the title must match exactly.
        std::wstring real = L"Real title";
        QVERIFY(activateWindow(real));
        QCOMPARE(nextActivationRequest(), both);
        std::wstring partial = L"Novaline";
        QVERIFY(!activateWindow(partial));
        std::wstring unknown = L"No such window";
        QVERIFY(!activateWindow(unknown));
        QCOMPARE(nextActivationRequest(), Window(None));

        // Narrow variant: ASCII converts, other bytes do not become UTF-8 characters.
        std::string narrow = "Novaline TV";
        QVERIFY(activateWindow(narrow));
        QCOMPARE(nextActivationRequest(), netNamed);
        const Window russian = createWindow(QStringLiteral("Кино").toUtf8(), nullptr);
        std::wstring wide = L"Кино";
        QVERIFY(activateWindow(wide));
        QCOMPARE(nextActivationRequest(), russian);
        std::string utf8 = QStringLiteral("Кино").toStdString();
        QVERIFY(!activateWindow(utf8));
        becomeManager(false);
    }

    void noDisplayGivesFalse()
    {
        const QByteArray saved = qgetenv("DISPLAY");
        qputenv("DISPLAY", ":9999");
        std::wstring title = L"Novaline TV";
        QVERIFY(!activateWindow(title));
        qputenv("DISPLAY", saved);
    }

private:
    Window createWindow(const QByteArray &netName, const char *wmName)
    {
        const Window window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 100, 100, 0, 0, 0);
        if (!netName.isNull())
            XChangeProperty(m_display, window, XInternAtom(m_display, "_NET_WM_NAME", False),
                            XInternAtom(m_display, "UTF8_STRING", False), 8, PropModeReplace,
                            reinterpret_cast<const unsigned char *>(netName.constData()), netName.size());
        if (wmName)
            XStoreName(m_display, window, wmName);
        XMapWindow(m_display, window);
        XSync(m_display, False);
        return window;
    }

    void becomeManager(bool on)
    {
        XSelectInput(m_display, DefaultRootWindow(m_display), on ? SubstructureRedirectMask : NoEventMask);
        XSync(m_display, False);
    }

    // The window named by the next _NET_ACTIVE_WINDOW request sent to the root, or None
    // when none arrives.
    Window nextActivationRequest()
    {
        const Atom active = XInternAtom(m_display, "_NET_ACTIVE_WINDOW", False);
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 500) {
            while (XPending(m_display)) {
                XEvent event;
                XNextEvent(m_display, &event);
                if (event.type == ClientMessage && event.xclient.message_type == active)
                    return event.xclient.window;
            }
            pollfd fd = {ConnectionNumber(m_display), POLLIN, 0};
            poll(&fd, 1, 50);
        }
        return None;
    }

    QProcess m_server;
    QByteArray m_displayName;
    Display *m_display = nullptr;
};

QTEST_GUILESS_MAIN(TestWindowActivation)
#include "tst_windowactivation.moc"
