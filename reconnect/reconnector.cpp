#include "reconnector.h"

#include "oneshotclock.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcReconnect, "novaline.reconnect")

Reconnector::Reconnector(OneShotClock *clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock ? clock : new TimerClock)
    , m_delays(defaultDelays())
{
    m_clock->setParent(this);
    connect(m_clock, &OneShotClock::fired, this, &Reconnector::onClockFired);
}

QVector<int> Reconnector::defaultDelays()
{
    return {1000, 2000, 4000, 8000, 15000};
}

void Reconnector::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    if (!enabled)
        cancel();
    emit enabledChanged();
}

void Reconnector::setDelays(const QVector<int> &delays)
{
    m_delays = delays;
}

void Reconnector::begin(bool live)
{
    cancel();
    m_live = live;
}

void Reconnector::cancel()
{
    m_clock->stop();
    setAttempt(0);
    setUnavailable(false);
}

void Reconnector::fail(Failure failure)
{
    if (!m_enabled || !m_live || m_delays.isEmpty()) {
        // Without retries a stalled or failed stream simply stays as it is.
        if (failure == Ended)
            emit endReached();
        return;
    }
    if (m_clock->isRunning() || m_unavailable)
        return; // a try is already due, or the series is over
    if (m_attempt >= m_delays.size()) {
        qCInfo(lcReconnect, "giving up after %d tries (%s)", m_attempt,
               failure == Ended ? "ended" : failure == Error ? "error" : "stalled");
        setAttempt(0);
        if (failure == Ended)
            emit endReached();
        else
            setUnavailable(true);
        return;
    }
    setAttempt(m_attempt + 1);
    qCInfo(lcReconnect, "try %d of %d in %d ms", m_attempt, int(m_delays.size()), m_delays.at(m_attempt - 1));
    m_clock->start(m_delays.at(m_attempt - 1));
}

void Reconnector::recovered()
{
    if (m_attempt == 0)
        return;
    qCInfo(lcReconnect, "picture back after %d tries", m_attempt);
    m_clock->stop();
    setAttempt(0);
}

void Reconnector::onClockFired()
{
    if (m_attempt > 0)
        emit retryRequested();
}

void Reconnector::setAttempt(int attempt)
{
    if (attempt == m_attempt)
        return;
    m_attempt = attempt;
    emit attemptChanged();
    updateText();
}

void Reconnector::setUnavailable(bool unavailable)
{
    if (unavailable == m_unavailable)
        return;
    m_unavailable = unavailable;
    emit unavailableChanged();
    updateText();
}

void Reconnector::updateText()
{
    QString text;
    if (m_unavailable)
        text = tr("Канал недоступен");
    else if (m_attempt > 0)
        text = tr("Переподключение… %1/%2").arg(m_attempt).arg(m_delays.size());
    if (text == m_text)
        return;
    m_text = text;
    emit textChanged();
}
