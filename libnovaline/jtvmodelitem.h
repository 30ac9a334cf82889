#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

// One programme of the TV guide. The last entry of a fill has an invalid end.
class JtvModelItem : public QObject
{
    Q_OBJECT
public:
    JtvModelItem(const QDateTime &start, const QDateTime &end, const QString &title,
                 QObject *parent = nullptr);

    QDateTime start() const { return m_start; }
    QDateTime end() const { return m_end; }
    QString title() const { return m_title; }

private:
    QDateTime m_start;
    QDateTime m_end;
    QString m_title;
};
