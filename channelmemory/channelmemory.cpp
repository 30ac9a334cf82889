#include "channelmemory.h"

#include "atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcChannelMemory, "novaline.channelmemory")

namespace {
const char *const FieldNames[ChannelMemory::FieldCount] = {"aspectRatio", "cropRatio", "audioTrack",
                                                           "subtitleTrack"};
}

ChannelMemory::ChannelMemory(const QString &path, QObject *parent)
    : QObject(parent)
    , m_path(path)
{
    m_writer.setMaxThreadCount(1); // writes land in the order they were made
    m_writeTimer.setSingleShot(true);
    m_writeTimer.setInterval(WriteDelayMs);
    connect(&m_writeTimer, &QTimer::timeout, this, &ChannelMemory::write);
    load();
}

ChannelMemory::~ChannelMemory()
{
    flush();
}

void ChannelMemory::setCurrentUrl(const QUrl &url)
{
    if (url == m_current)
        return;
    m_current = url;
    emit currentUrlChanged();
}

int ChannelMemory::indexOf(const QString &url) const
{
    for (int i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).url == url)
            return i;
    }
    return -1;
}

QVariant ChannelMemory::value(const QUrl &url, Field field) const
{
    const int i = url.isEmpty() ? -1 : indexOf(url.toString());
    return i < 0 ? QVariant() : m_entries.at(i).values[field];
}

void ChannelMemory::remember(const QUrl &url, Field field, int value)
{
    if (url.isEmpty() || field < 0 || field >= FieldCount)
        return;
    const QString key = url.toString();
    Entry entry;
    const int i = indexOf(key);
    if (i >= 0)
        entry = m_entries.takeAt(i);
    else
        entry.url = key;
    entry.values[field] = value;
    m_entries.prepend(entry);
    if (m_entries.size() > Capacity)
        m_entries.resize(Capacity);
    scheduleWrite();
    if (url == m_current)
        emit changed(field);
}

void ChannelMemory::load()
{
    QFile file(m_path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcChannelMemory, "cannot read %s: %s", qPrintable(m_path), qPrintable(file.errorString()));
        return;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError) {
        qCWarning(lcChannelMemory, "ignoring broken %s: %s", qPrintable(m_path), qPrintable(error.errorString()));
        return;
    }
    const QJsonArray channels = doc.object().value(QLatin1String("channels")).toArray();
    for (const QJsonValue &v : channels) {
        const QJsonObject o = v.toObject();
        Entry entry;
        entry.url = o.value(QLatin1String("url")).toString();
        if (entry.url.isEmpty() || indexOf(entry.url) >= 0)
            continue;
        bool any = false;
        for (int f = 0; f < FieldCount; ++f) {
            const QJsonValue stored = o.value(QLatin1String(FieldNames[f]));
            if (stored.isDouble()) {
                entry.values[f] = stored.toInt();
                any = true;
            }
        }
        if (any)
            m_entries.append(entry);
        if (m_entries.size() == Capacity)
            break;
    }
}

void ChannelMemory::scheduleWrite()
{
    if (!m_writeTimer.isActive())
        m_writeTimer.start();
}

void ChannelMemory::write()
{
    m_writeTimer.stop();
    QJsonArray channels;
    for (const Entry &entry : qAsConst(m_entries)) {
        QJsonObject o{{QStringLiteral("url"), entry.url}};
        for (int f = 0; f < FieldCount; ++f) {
            if (entry.values[f].isValid())
                o.insert(QLatin1String(FieldNames[f]), entry.values[f].toInt());
        }
        channels.append(o);
    }
    const QByteArray data = QJsonDocument(QJsonObject{{QStringLiteral("channels"), channels}}).toJson();
    const QString path = m_path;
    m_writer.start([path, data] {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QString error;
        if (!AtomicFile::write(path, data, &error))
            qCWarning(lcChannelMemory, "cannot write %s: %s", qPrintable(path), qPrintable(error));
    });
}

void ChannelMemory::flush()
{
    if (m_writeTimer.isActive())
        write();
    m_writer.waitForDone();
}
