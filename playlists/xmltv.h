#pragma once

#include <QIODevice>
#include <QList>
#include <QString>

#include <memory>

// XMLTV guides, turned into the JSON guide document the player already indexes:
// {"<guide key>": [{"title": "...", "time": <start, seconds since 1970>}, ...], ...}.
namespace Xmltv {

// A channel of the playlist that wants its programmes.
struct Wanted
{
    QString key;             // its guide key (tvg-id, tvg-name or title)
    double shiftHours = 0;   // its tvg-shift
};

struct Result
{
    bool ok = false;
    QString error;
    int channels = 0;        // <channel> elements read
    int programmes = 0;      // <programme> elements read
    int kept = 0;            // programmes written for wanted channels
    int matchedKeys = 0;     // wanted keys that found a guide channel
};

struct Options
{
    int offsetMinutes = 0;          // added to every programme
    QString language;               // preferred <title lang>; else the first title
    qint64 maxUnpackedBytes = 4LL * 1024 * 1024 * 1024;
    int maxProgrammes = 10 * 1000 * 1000;
    qint64 readInHalvesAbove = 32 << 20;  // plain files this large are read by two threads
};

// Reads xmlPath (plain, gzip or xz: told by the first bytes, not the name) as a stream
// and writes the wanted channels' programmes, sorted by start, to jsonPath. A guide
// channel matches a wanted key by its id, else by one of its display names, ignoring
// case and blanks. Safe on a worker thread.
Result convert(const QString &xmlPath, const QList<Wanted> &wanted, const Options &options,
               const QString &jsonPath);

// "YYYYMMDDhhmmss +hhmm" (seconds and offset optional; no offset is UTC) to seconds
// since 1970; false for anything else.
bool parseTime(const QString &text, qint64 *seconds);

// The file, decompressed on the fly when it starts with a gzip or xz header; reading
// past maxBytes of output is an error.
std::unique_ptr<QIODevice> openDecompressed(const QString &path, qint64 maxBytes, QString *error);

} // namespace Xmltv
