#include "xmltv.h"

#include "atomicfile.h"

#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QXmlStreamReader>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <lzma.h>
#include <zlib.h>

Q_LOGGING_CATEGORY(lcXmltv, "playlists.xmltv")

namespace Xmltv {

namespace {

// Decompresses a gzip or xz file while it is read; the whole never sits in memory.
class Decompressor : public QIODevice
{
public:
    enum Kind { Gzip, Xz };
    Decompressor(std::unique_ptr<QFile> source, Kind kind, qint64 maxBytes)
        : m_source(std::move(source)), m_kind(kind), m_maxBytes(maxBytes)
    {
        if (kind == Gzip) {
            m_ok = inflateInit2(&m_z, 16 + MAX_WBITS) == Z_OK;
        } else {
            m_ok = lzma_stream_decoder(&m_xz, UINT64_MAX, LZMA_CONCATENATED) == LZMA_OK;
        }
        open(QIODevice::ReadOnly);
    }
    ~Decompressor() override
    {
        if (m_kind == Gzip)
            inflateEnd(&m_z);
        else
            lzma_end(&m_xz);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (!m_ok)
            return -1;
        if (maxSize <= 0)
            return 0;
        qint64 produced = 0;
        while (produced == 0 && !m_finished) {
            if (m_inPos >= m_in.size() && !m_sourceDone) {
                m_in = m_source->read(256 * 1024);
                m_inPos = 0;
                if (m_in.isEmpty())
                    m_sourceDone = true;
            }
            const int available = int(m_in.size() - m_inPos);
            if (m_kind == Gzip) {
                m_z.next_in = reinterpret_cast<Bytef *>(m_in.data() + m_inPos);
                m_z.avail_in = uInt(available);
                m_z.next_out = reinterpret_cast<Bytef *>(data);
                m_z.avail_out = uInt(std::min<qint64>(maxSize, 1 << 20));
                const uInt before = m_z.avail_out;
                const int r = inflate(&m_z, Z_NO_FLUSH);
                m_inPos += available - int(m_z.avail_in);
                produced = before - m_z.avail_out;
                if (r == Z_STREAM_END) {
                    // Concatenated members go on; otherwise this is the end.
                    if (m_inPos < m_in.size() || !m_sourceDone) {
                        inflateReset(&m_z);
                    } else {
                        m_finished = true;
                    }
                } else if (r != Z_OK && r != Z_BUF_ERROR) {
                    return fail("broken gzip data");
                } else if (r == Z_BUF_ERROR && available == 0 && m_sourceDone) {
                    return fail("the gzip data ends early");
                }
            } else {
                m_xz.next_in = reinterpret_cast<const uint8_t *>(m_in.constData() + m_inPos);
                m_xz.avail_in = size_t(available);
                m_xz.next_out = reinterpret_cast<uint8_t *>(data);
                m_xz.avail_out = size_t(std::min<qint64>(maxSize, 1 << 20));
                const size_t before = m_xz.avail_out;
                const lzma_ret r = lzma_code(&m_xz, m_sourceDone && available == 0 ? LZMA_FINISH : LZMA_RUN);
                m_inPos += available - int(m_xz.avail_in);
                produced = qint64(before - m_xz.avail_out);
                if (r == LZMA_STREAM_END)
                    m_finished = true;
                else if (r != LZMA_OK && r != LZMA_BUF_ERROR)
                    return fail("broken xz data");
                else if (r == LZMA_BUF_ERROR && m_sourceDone)
                    return fail("the xz data ends early");
            }
        }
        m_total += produced;
        if (m_total > m_maxBytes)
            return fail("the guide unpacks to more than the limit");
        return produced;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    qint64 fail(const char *why)
    {
        setErrorString(QString::fromLatin1(why));
        m_ok = false;
        return -1;
    }

    std::unique_ptr<QFile> m_source;
    Kind m_kind;
    qint64 m_maxBytes;
    qint64 m_total = 0;
    z_stream m_z = {};
    lzma_stream m_xz = LZMA_STREAM_INIT;
    QByteArray m_in;
    int m_inPos = 0;
    bool m_ok = false;
    bool m_sourceDone = false;
    bool m_finished = false;
};

// A plain file, read up to a limit.
class CappedFile : public QFile
{
public:
    CappedFile(const QString &path, qint64 maxBytes) : QFile(path), m_maxBytes(maxBytes) {}

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (pos() >= m_maxBytes) {
            setErrorString(QStringLiteral("the guide is larger than the limit"));
            return -1;
        }
        return QFile::readData(data, std::min(maxSize, m_maxBytes - pos()));
    }

private:
    qint64 m_maxBytes;
};

QString normalized(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (!c.isSpace())
            out.append(c.toCaseFolded());
    }
    return out;
}

QString jsonString(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    out.append(QLatin1Char('"'));
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"': out.append(QLatin1String("\\\"")); break;
        case '\\': out.append(QLatin1String("\\\\")); break;
        case '\n': out.append(QLatin1String("\\n")); break;
        case '\r': out.append(QLatin1String("\\r")); break;
        case '\t': out.append(QLatin1String("\\t")); break;
        default:
            if (c.unicode() < 0x20)
                out.append(QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0')));
            else
                out.append(c);
        }
    }
    out.append(QLatin1Char('"'));
    return out;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + qint64(doe) - 719468;
}

struct Programme
{
    qint64 start;
    QString title;
};

// Reads another device ahead on a thread of its own, so unpacking and parsing share
// the two cores; a few blocks wait at most.
class Prefetcher : public QIODevice
{
public:
    explicit Prefetcher(std::unique_ptr<QIODevice> source) : m_source(std::move(source))
    {
        open(QIODevice::ReadOnly);
        m_thread = std::thread([this] { produce(); });
    }
    ~Prefetcher() override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_blocks.empty() || m_done; });
        if (m_blocks.empty()) {
            if (!m_error.isEmpty()) {
                setErrorString(m_error);
                return -1;
            }
            return 0;
        }
        QByteArray &block = m_blocks.front();
        const qint64 n = std::min<qint64>(maxSize, block.size() - m_offset);
        std::memcpy(data, block.constData() + m_offset, size_t(n));
        m_offset += int(n);
        if (m_offset == block.size()) {
            m_blocks.pop_front();
            m_offset = 0;
            m_changed.notify_all();
        }
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    void produce()
    {
        for (;;) {
            QByteArray block(1 << 20, Qt::Uninitialized);
            const qint64 n = m_source->read(block.data(), block.size());
            std::unique_lock<std::mutex> lock(m_mutex);
            if (n <= 0) {
                if (n < 0)
                    m_error = m_source->errorString();
                m_done = true;
                m_changed.notify_all();
                return;
            }
            block.truncate(int(n));
            m_changed.wait(lock, [this] { return m_blocks.size() < 8 || m_stop; });
            if (m_stop)
                return;
            m_blocks.push_back(std::move(block));
            m_changed.notify_all();
        }
    }

    std::unique_ptr<QIODevice> m_source;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_blocks;
    int m_offset = 0;
    bool m_done = false;
    bool m_stop = false;
    QString m_error;
};

// Pieces of a file and literal bytes, read one after the other: lets a parser read a
// stretch of a document as a whole document.
class Pieces : public QIODevice
{
public:
    struct Piece
    {
        qint64 from = 0;
        qint64 to = 0;
        QByteArray literal;  // used when not empty
    };
    Pieces(const QString &path, QVector<Piece> pieces) : m_file(path), m_pieces(std::move(pieces))
    {
        if (m_file.open(QIODevice::ReadOnly))
            open(QIODevice::ReadOnly);
        else
            setErrorString(m_file.errorString());
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        while (m_index < m_pieces.size()) {
            const Piece &piece = m_pieces.at(m_index);
            const qint64 length = piece.literal.isEmpty() ? piece.to - piece.from : piece.literal.size();
            if (m_inPiece >= length) {
                ++m_index;
                m_inPiece = 0;
                continue;
            }
            const qint64 n = std::min(maxSize, length - m_inPiece);
            if (!piece.literal.isEmpty()) {
                std::memcpy(data, piece.literal.constData() + m_inPiece, size_t(n));
            } else if (!m_file.seek(piece.from + m_inPiece) || m_file.read(data, n) != n) {
                setErrorString(m_file.errorString());
                return -1;
            }
            m_inPiece += n;
            return n;
        }
        return 0;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QFile m_file;
    QVector<Piece> m_pieces;
    int m_index = 0;
    qint64 m_inPiece = 0;
};

// Where text occurs in a file at or after from, by reading it in blocks; -1 if nowhere.
qint64 findInFile(QFile &file, qint64 from, const QByteArray &text)
{
    constexpr qint64 Block = 1 << 20;
    while (file.seek(from)) {
        const QByteArray block = file.read(Block + text.size());
        if (block.size() < text.size())
            return -1;
        const int hit = block.indexOf(text);
        if (hit >= 0)
            return from + hit;
        from += block.size() - text.size() + 1;
    }
    return -1;
}

// The programmes of the wanted channels in one reading of a document (or of a stretch
// of it); the matching of guide channels to wanted keys is learnt from <channel>.
struct Pass
{
    const QList<Wanted> *wanted = nullptr;
    const Options *options = nullptr;
    QHash<QString, QList<int>> wantedByName;     // normalized key -> wanted indexes
    QHash<QString, QStringList> displayNames;    // guide channel id -> names
    QHash<QString, QList<int>> matchedByChannel; // guide channel id -> wanted indexes
    QVector<QVector<Programme>> programmes;
    int channels = 0;
    int programmesRead = 0;
    int kept = 0;
    QString error;

    Pass(const QList<Wanted> &w, const Options &o) : wanted(&w), options(&o), programmes(w.size())
    {
        for (int i = 0; i < w.size(); ++i)
            wantedByName[normalized(w.at(i).key)].append(i);
    }
    const QList<int> &matchesFor(const QString &id);
    bool read(QIODevice *device);
};

const QList<int> &Pass::matchesFor(const QString &id)
{
    auto found = matchedByChannel.constFind(id);
    if (found != matchedByChannel.cend())
        return *found;
    QList<int> indexes = wantedByName.value(normalized(id));
    if (indexes.isEmpty()) {
        for (const QString &name : displayNames.value(id)) {
            indexes = wantedByName.value(normalized(name));
            if (!indexes.isEmpty())
                break;
        }
    }
    return *matchedByChannel.insert(id, indexes);
}

bool Pass::read(QIODevice *device)
{
    const QString language = options->language;
    QXmlStreamReader xml(device);
    // A device error shows as a premature end, after which the reader would wait for
    // more data for ever: stop at any error.
    while (!xml.atEnd() && !xml.hasError()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("channel")) {
            ++channels;
            const QString id = xml.attributes().value(QLatin1String("id")).toString();
            QStringList names;
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("display-name"))
                    names.append(xml.readElementText(QXmlStreamReader::SkipChildElements));
                else
                    xml.skipCurrentElement();
            }
            displayNames[id] += names;
            matchedByChannel.remove(id);  // its names may match now
        } else if (xml.name() == QLatin1String("programme")) {
            if (++programmesRead > options->maxProgrammes) {
                error = QStringLiteral("more than %1 programmes").arg(options->maxProgrammes);
                return false;
            }
            const QXmlStreamAttributes a = xml.attributes();
            const QList<int> &indexes = matchesFor(a.value(QLatin1String("channel")).toString());
            qint64 start = 0;
            const bool timed = parseTime(a.value(QLatin1String("start")).toString(), &start);
            if (indexes.isEmpty() || !timed) {
                xml.skipCurrentElement();
                continue;
            }
            QString title;
            bool preferred = false;
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("title") && !preferred) {
                    const bool inLanguage = !language.isEmpty()
                        && xml.attributes().value(QLatin1String("lang")).startsWith(language, Qt::CaseInsensitive);
                    const QString text = xml.readElementText(QXmlStreamReader::SkipChildElements);
                    if (title.isEmpty() || inLanguage)
                        title = text.left(1000);
                    preferred = inLanguage;
                } else {
                    xml.skipCurrentElement();
                }
            }
            for (int index : indexes) {
                const qint64 shifted = start + qint64(wanted->at(index).shiftHours * 3600)
                    + qint64(options->offsetMinutes) * 60;
                programmes[index].append(Programme{shifted, title});
                ++kept;
            }
        }
    }
    if (xml.hasError()) {
        error = device->errorString().isEmpty() || device->errorString() == QLatin1String("Unknown error")
            ? xml.errorString()
            : device->errorString();
        return false;
    }
    return true;
}

// A large plain guide read by two parsers at once: the channels first, then each half
// of the programmes as a document of its own (the prolog and the <tv> tag, the
// programmes, a closing tag). Returns false when the file is not cut out for it (or a
// half fails); the caller then reads it whole.
bool readInHalves(const QString &path, Pass *out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < out->options->readInHalvesAbove
        || file.size() > out->options->maxUnpackedBytes)
        return false;
    const qint64 size = file.size();
    const QByteArray head = file.peek(64 * 1024);
    int tv = -1;
    for (int at = head.indexOf("<tv"); at >= 0; at = head.indexOf("<tv", at + 1)) {
        const char next = at + 3 < head.size() ? head.at(at + 3) : '\0';
        if (next == '>' || next == ' ' || next == '\n' || next == '\r' || next == '\t') {
            tv = head.indexOf('>', at);
            break;
        }
    }
    const qint64 first = findInFile(file, 0, QByteArrayLiteral("<programme"));
    if (tv < 0 || first < 0 || first <= tv)
        return false;
    const qint64 middle = findInFile(file, first + (size - first) / 2, QByteArrayLiteral("<programme"));
    if (middle < 0)
        return false;
    const QByteArray closing = QByteArrayLiteral("</tv>\n");
    using Piece = Pieces::Piece;

    Pieces channelsPart(path, {Piece{0, first, {}}, Piece{0, 0, closing}});
    if (!out->read(&channelsPart))
        return false;
    const int channels = out->channels;
    Pass second = *out;
    std::thread worker([&second, &path, tv, middle, size] {
        Pieces part(path, {Piece{0, tv + 1, {}}, Piece{middle, size, {}}});
        second.read(&part);
    });
    Pieces part(path, {Piece{0, tv + 1, {}}, Piece{first, middle, {}}, Piece{0, 0, closing}});
    const bool ok = out->read(&part);
    worker.join();
    // A <channel> among the programmes would have been matched too late.
    if (!ok || !second.error.isEmpty() || out->channels != channels || second.channels != channels)
        return false;
    for (int i = 0; i < out->programmes.size(); ++i)
        out->programmes[i] += second.programmes.at(i);
    out->programmesRead += second.programmesRead;
    out->kept += second.kept;
    if (out->programmesRead > out->options->maxProgrammes)
        out->error = QStringLiteral("more than %1 programmes").arg(out->options->maxProgrammes);
    return true;
}

} // namespace

bool parseTime(const QString &text, qint64 *seconds)
{
    const QString t = text.trimmed();
    int i = 0;
    auto digits = [&](int count, int *value) {
        if (i + count > t.size())
            return false;
        int v = 0;
        for (int k = 0; k < count; ++k) {
            const QChar c = t.at(i + k);
            if (!c.isDigit() || c.unicode() > '9')
                return false;
            v = v * 10 + (c.unicode() - '0');
        }
        i += count;
        *value = v;
        return true;
    };
    int year, month, day, hour = 0, minute = 0, second = 0;
    if (!digits(4, &year) || !digits(2, &month) || !digits(2, &day))
        return false;
    if (i < t.size() && t.at(i).isDigit()) {
        if (!digits(2, &hour) || !digits(2, &minute))
            return false;
        if (i < t.size() && t.at(i).isDigit() && !digits(2, &second))
            return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    while (i < t.size() && t.at(i) == QLatin1Char(' '))
        ++i;
    int offset = 0;
    if (i < t.size()) {
        const QChar sign = t.at(i);
        if (sign != QLatin1Char('+') && sign != QLatin1Char('-'))
            return false;
        ++i;
        int oh, om;
        if (!digits(2, &oh) || !digits(2, &om) || i != t.size() || om > 59)
            return false;
        offset = (oh * 60 + om) * 60 * (sign == QLatin1Char('-') ? -1 : 1);
    }
    *seconds = daysFromCivil(year, unsigned(month), unsigned(day)) * 86400 + hour * 3600 + minute * 60 + second
        - offset;
    return true;
}

std::unique_ptr<QIODevice> openDecompressed(const QString &path, qint64 maxBytes, QString *error)
{
    auto file = std::make_unique<CappedFile>(path, maxBytes);
    if (!file->open(QIODevice::ReadOnly)) {
        *error = file->errorString();
        return nullptr;
    }
    const QByteArray magic = file->peek(6);
    if (magic.startsWith("\x1f\x8b"))
        return std::make_unique<Decompressor>(std::move(file), Decompressor::Gzip, maxBytes);
    if (magic == QByteArray("\xFD" "7zXZ\0", 6))
        return std::make_unique<Decompressor>(std::move(file), Decompressor::Xz, maxBytes);
    return file;
}

Result convert(const QString &xmlPath, const QList<Wanted> &wanted, const Options &options,
               const QString &jsonPath)
{
    Result result;
    Pass pass(wanted, options);
    bool read = readInHalves(xmlPath, &pass);
    if (!read) {
        pass = Pass(wanted, options);  // what a failed try in halves learnt goes
        std::unique_ptr<QIODevice> device = openDecompressed(xmlPath, options.maxUnpackedBytes, &result.error);
        if (!device)
            return result;
        if (!qobject_cast<QFile *>(device.get()))
            device = std::make_unique<Prefetcher>(std::move(device));
        read = pass.read(device.get());
    }
    result.channels = pass.channels;
    result.programmes = pass.programmesRead;
    result.kept = pass.kept;
    if (!read || !pass.error.isEmpty()) {
        result.error = pass.error;
        return result;
    }
    QVector<QVector<Programme>> &programmes = pass.programmes;

    QSaveFile out(jsonPath);
    if (!out.open(QIODevice::WriteOnly)) {
        result.error = out.errorString();
        return result;
    }
    QString chunk;
    chunk.append(QLatin1Char('{'));
    bool firstKey = true;
    for (int i = 0; i < wanted.size(); ++i) {
        QVector<Programme> &list = programmes[i];
        if (list.isEmpty())
            continue;
        ++result.matchedKeys;
        std::stable_sort(list.begin(), list.end(), [](const Programme &x, const Programme &y) { return x.start < y.start; });
        if (!firstKey)
            chunk.append(QLatin1Char(','));
        firstKey = false;
        chunk.append(QLatin1Char('\n') + jsonString(wanted.at(i).key) + QStringLiteral(": ["));
        for (int k = 0; k < list.size(); ++k) {
            if (k)
                chunk.append(QLatin1Char(','));
            chunk.append(QStringLiteral("{\"title\": ") + jsonString(list.at(k).title) + QStringLiteral(", \"time\": ")
                         + QString::number(list.at(k).start) + QLatin1Char('}'));
            if (chunk.size() > 1 << 20) {
                out.write(chunk.toUtf8());
                chunk.clear();
            }
        }
        chunk.append(QLatin1Char(']'));
        list.clear();
        list.squeeze();
    }
    chunk.append(QStringLiteral("\n}\n"));
    out.write(chunk.toUtf8());
    if (!AtomicFile::commit(out, &result.error))
        return result;
    result.ok = true;
    return result;
}

} // namespace Xmltv
