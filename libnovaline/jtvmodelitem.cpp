#include "jtvmodelitem.h"

JtvModelItem::JtvModelItem(const QDateTime &start, const QDateTime &end, const QString &title,
                           QObject *parent)
    : QObject(parent)
    , m_start(start)
    , m_end(end)
    , m_title(title)
{
}
