#include "settingsstore.h"

#include <QEvent>

SettingsStore::SettingsStore(const QString &organization, const QString &application, QObject *parent)
    : QSettings(organization, application, parent)
{
    m_flush.setSingleShot(true);
    m_flush.setInterval(FlushDelayMs);
    connect(&m_flush, &QTimer::timeout, this, &QSettings::sync);
}

bool SettingsStore::event(QEvent *event)
{
    // QSettings asks for a write after every change; later changes ride along with the
    // write already planned.
    if (event->type() == QEvent::UpdateRequest) {
        if (!m_flush.isActive())
            m_flush.start();
        return true;
    }
    return QSettings::event(event);
}
