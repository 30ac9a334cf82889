#pragma once

#include <QObject>

class OneShotClock;

// After a channel switch the screen stays black until the new picture comes; when
// that takes longer than a moment, a spinner says the player is at work.
class PictureWait : public QObject
{
    Q_OBJECT
    // True while a picture has been awaited for longer than delay.
    Q_PROPERTY(bool spinning READ spinning NOTIFY spinningChanged)

public:
    static constexpr int DefaultDelayMs = 1000;

    // Takes ownership of clock; null uses a real timer.
    explicit PictureWait(OneShotClock *clock = nullptr, QObject *parent = nullptr);

    bool spinning() const { return m_spinning; }
    int delay() const { return m_delay; }
    void setDelay(int ms) { m_delay = ms; }

    // Whether a stream is opening or playing without a picture yet.
    void setWaiting(bool waiting);

signals:
    void spinningChanged();

private:
    void setSpinning(bool spinning);

    OneShotClock *m_clock;
    int m_delay = DefaultDelayMs;
    bool m_waiting = false;
    bool m_spinning = false;
};
