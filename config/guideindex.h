#pragma once

#include "fileversion.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariantList>

// Reads the programme list of one guide key from the cached guide document.
//
// The guide holds every channel of a week (tens, sometimes hundreds of megabytes) and
// is read at every channel start, so it is indexed once per file version (inode, size,
// modification and status-change times): the byte span of each key's value is kept,
// and a lookup parses only that span. A changed file is indexed again before it is
// read. Indexing maps the file and checks one value at a time, so it never holds the
// whole document parsed; scan() is safe to run on a worker thread.
class GuideIndex
{
public:
    enum Status {
        Ok,          // the document was read (the key may still be absent)
        CannotOpen,  // the file could not be opened
        Empty,       // the document is empty or not JSON
    };

    struct Span {
        qint64 begin = 0;
        qint64 end = 0;
    };

    // The outcome of reading one file: what a lookup needs.
    struct Scan {
        Status status = CannotOpen;
        QHash<QString, Span> spans;
    };
    // Reads and checks a guide file: every member's value must be valid JSON, and the
    // whole must be one object, exactly as a full parse would accept it.
    static Scan scan(const QString &path);

    // The programme list of key: the value under key converted to a list, exactly as
    // a full parse of the file into a variant map would give it.
    Status programmes(const QString &path, const QString &key, QVariantList *list);

    // Takes a scan of path made elsewhere (a worker) as the index of its current
    // version. path must not have changed since the scan, apart from being renamed.
    void adopt(const QString &path, const Scan &scan);

    void invalidate();
    // True when the index belongs to the current version of path.
    bool isCurrent(const QString &path) const;

    // How many times a file was indexed (tests and benchmarks).
    int indexCount() const { return m_indexCount; }

    // The reference reading without an index: parse the whole file each time.
    static Status programmesDirect(const QString &path, const QString &key, QVariantList *list);

    // Byte spans of the values of a JSON object's members; false when data does not
    // start with an object. Keys appearing twice keep their last value.
    static bool scanTopLevel(const QByteArray &data, QHash<QString, Span> *spans, qint64 *end = nullptr);

private:
    bool m_valid = false;
    QString m_path;
    FileVersion m_version;
    Scan m_scan;
    int m_indexCount = 0;
};
