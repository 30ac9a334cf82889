#include "xmltv.h"

#include "atomicfile.h"

#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QXmlStreamReader>

#include <algorithm>
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
    std::unique_ptr<QIODevice> device = openDecompressed(xmlPath, options.maxUnpackedBytes, &result.error);
    if (!device)
        return result;

    // Wanted keys by their normalized form; a guide channel may serve several.
    QHash<QString, QList<int>> wantedByName;
    for (int i = 0; i < wanted.size(); ++i)
        wantedByName[normalized(wanted.at(i).key)].append(i);
    QHash<QString, QStringList> displayNames;       // guide channel id -> names
    QHash<QString, QList<int>> matchedByChannel;    // guide channel id -> wanted indexes
    QVector<QVector<Programme>> programmes(wanted.size());
    const QString language = options.language;

    auto matchesFor = [&](const QString &id) -> const QList<int> & {
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
    };

    QXmlStreamReader xml(device.get());
    // A device error shows as a premature end, after which the reader would wait for
    // more data for ever: stop at any error.
    while (!xml.atEnd() && !xml.hasError()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("channel")) {
            ++result.channels;
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
            if (++result.programmes > options.maxProgrammes) {
                result.error = QStringLiteral("more than %1 programmes").arg(options.maxProgrammes);
                return result;
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
                const qint64 shifted = start + qint64(wanted.at(index).shiftHours * 3600)
                    + qint64(options.offsetMinutes) * 60;
                programmes[index].append(Programme{shifted, title});
                ++result.kept;
            }
        }
    }
    if (xml.hasError()) {
        result.error = device->errorString().isEmpty() || device->errorString() == QLatin1String("Unknown error")
            ? xml.errorString()
            : device->errorString();
        return result;
    }

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
