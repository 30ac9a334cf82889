#pragma once

#include <QObject>
#include <QString>
#include <QVector>

class OneShotClock;

// Decides what follows when a live stream breaks: the same address again after a
// growing pause (1, 2, 4, 8, 15 s), and after the last try what a stream does
// without retries: an end moves on, an error leaves "channel unavailable" shown.
// Local files, and everything while disabled, go that way at once.
class Reconnector : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(int attempt READ attempt NOTIFY attemptChanged)
    Q_PROPERTY(int maxAttempts READ maxAttempts CONSTANT)
    Q_PROPERTY(bool unavailable READ unavailable NOTIFY unavailableChanged)
    // The line shown over the picture; empty when there is nothing to say.
    Q_PROPERTY(QString text READ text NOTIFY textChanged)

public:
    enum Failure { Ended, Error, Stalled };
    Q_ENUM(Failure)

    // Takes ownership of clock; null uses a real timer.
    explicit Reconnector(OneShotClock *clock = nullptr, QObject *parent = nullptr);

    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    int attempt() const { return m_attempt; }
    int maxAttempts() const { return m_delays.size(); }
    bool unavailable() const { return m_unavailable; }
    QString text() const { return m_text; }

    // Pauses before each try, in milliseconds; their count is the number of tries.
    void setDelays(const QVector<int> &delays);
    QVector<int> delays() const { return m_delays; }
    static QVector<int> defaultDelays();

    // Another entry starts: a channel or portal file (live) or a local file.
    void begin(bool live);
    // The user acted (stop, pause, another channel): no more tries, no line.
    void cancel();
    // The playing stream ended, failed, or stopped moving.
    void fail(Failure failure);
    // The stream shows a picture again: the tries end silently.
    void recovered();

signals:
    void enabledChanged();
    void attemptChanged();
    void unavailableChanged();
    void textChanged();
    // Time for the next try: open the same address again.
    void retryRequested();
    // The stream ended for good: move on to the next entry.
    void endReached();

private:
    void onClockFired();
    void setAttempt(int attempt);
    void setUnavailable(bool unavailable);
    void updateText();

    OneShotClock *m_clock;
    QVector<int> m_delays;
    bool m_enabled = true;
    bool m_live = false;
    int m_attempt = 0;
    bool m_unavailable = false;
    QString m_text;
};
