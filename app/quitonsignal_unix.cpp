#include "quitonsignal.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QtDebug>

#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    const ssize_t written = ::write(signalPipe[1], &byte, 1);
    (void)written;
}

// Waits for a byte on the pipe for at most ms (-1: for ever); false on timeout.
bool waitForSignal(int ms)
{
    pollfd fd{signalPipe[0], POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&fd, 1, ms);
        if (ready > 0) {
            char buffer[16];
            while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
            }
            return true;
        }
        if (ready == 0)
            return false;
    }
}

// Runs on a thread of its own, so a signal is seen even while the GUI thread is busy:
// the event loop is asked to quit; when it has not ended the process after the grace
// time, or a second signal comes, the process ends here.
void watch()
{
    waitForSignal(-1);
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    const bool again = waitForSignal(terminationGraceMs);
    qWarning(again ? "A second termination signal: ending at once"
                   : "The program did not end within %d s of a termination signal: ending it now",
             terminationGraceMs / 1000);
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(0);
}

} // namespace

void quitOnTerminationSignals()
{
    if (signalPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
        return;
    std::thread(watch).detach();
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}
