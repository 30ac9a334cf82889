#pragma once

#include <QSettings>
#include <QTimer>

// The settings store. A write reaches the disk at most once a second: a wheel turn or
// a drag of the volume slider writes dozens of values, each of which would otherwise
// rewrite the file on the GUI thread. sync() writes at once; the owners call it when
// the program ends, hands over to an installer or restarts.
class SettingsStore : public QSettings
{
    Q_OBJECT
public:
    static constexpr int FlushDelayMs = 1000;

    SettingsStore(const QString &organization, const QString &application, QObject *parent = nullptr);

protected:
    bool event(QEvent *event) override;

private:
    QTimer m_flush;
};
