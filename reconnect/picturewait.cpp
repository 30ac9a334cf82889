#include "picturewait.h"

#include "oneshotclock.h"

PictureWait::PictureWait(OneShotClock *clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock ? clock : new TimerClock)
{
    m_clock->setParent(this);
    connect(m_clock, &OneShotClock::fired, this, [this] {
        if (m_waiting)
            setSpinning(true);
    });
}

void PictureWait::setWaiting(bool waiting)
{
    if (waiting == m_waiting)
        return;
    m_waiting = waiting;
    if (waiting) {
        m_clock->start(m_delay);
    } else {
        m_clock->stop();
        setSpinning(false);
    }
}

void PictureWait::setSpinning(bool spinning)
{
    if (spinning == m_spinning)
        return;
    m_spinning = spinning;
    emit spinningChanged();
}
