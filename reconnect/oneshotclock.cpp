#include "oneshotclock.h"

TimerClock::TimerClock(QObject *parent)
    : OneShotClock(parent)
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &OneShotClock::fired);
}

void TimerClock::start(int ms)
{
    timer.start(ms);
}

void TimerClock::stop()
{
    timer.stop();
}

bool TimerClock::isRunning() const
{
    return timer.isActive();
}
