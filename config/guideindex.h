#pragma once

#include "fileversion.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QVariantList>

// Reads the programme list of one guide key from the cached guide document.
//
// The guide holds every channel of a week (tens of megabytes) and is read at every
// channel start, so it is indexed once per file version (inode, size, modification
// and status-change times): the byte span of each key's value is kept, and a lookup
// parses only that span. A changed file is indexed again before it is read.
class GuideIndex
{
public:
    enum Status {
        Ok,          // the document was read (the key may still be absent)
        CannotOpen,  // the file could not be opened
        Empty,       // the document is empty or not JSON
    };

    // The programme list of key: the value under key converted to a list, exactly as
    // a full parse of the file into a variant map would give it.
    Status programmes(const QString &path, const QString &key, QVariantList *list);

    // Indexes data as the content of path (just written by the caller); doc is the
    // caller's parse of data. Saves reading and parsing the file once more.
    void adopt(const QString &path, const QByteArray &data, const QJsonDocument &doc);

    void invalidate();

    // How many times a file was indexed (tests and benchmarks).
    int indexCount() const { return m_indexCount; }

    // The reference reading without an index: parse the whole file each time.
    static Status programmesDirect(const QString &path, const QString &key, QVariantList *list);

    // Byte spans of the values of a JSON object's members; false when data does not
    // start with an object. Keys appearing twice keep their last value.
    struct Span {
        qint64 begin = 0;
        qint64 end = 0;
    };
    static bool scanTopLevel(const QByteArray &data, QHash<QString, Span> *spans);

private:
    void build(const QString &path, const FileVersion &version, const QByteArray &data, const QJsonDocument &doc);

    bool m_valid = false;
    QString m_path;
    FileVersion m_version;
    bool m_empty = false;          // the document of this version is empty or broken
    bool m_useObject = false;      // the spans disagree with the parse: use the object
    QHash<QString, Span> m_spans;
    QJsonObject m_object;
    int m_indexCount = 0;
};
