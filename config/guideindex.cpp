#include "guideindex.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QVariantMap>

#include <limits>

namespace {

inline bool isWhite(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool skipString(const char *p, qint64 n, qint64 *pos)
{
    qint64 i = *pos + 1;
    while (i < n) {
        const char c = p[i];
        if (c == '\\') {
            i += 2;
        } else if (c == '"') {
            *pos = i + 1;
            return true;
        } else {
            ++i;
        }
    }
    return false;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes the JSON string starting at p[*pos] (the opening quote).
bool readString(const char *p, qint64 n, qint64 *pos, QString *out)
{
    qint64 i = *pos + 1;
    qint64 segment = i;
    out->clear();
    while (i < n) {
        const char c = p[i];
        if (c == '"') {
            out->append(QString::fromUtf8(p + segment, int(i - segment)));
            *pos = i + 1;
            return true;
        }
        if (c != '\\') {
            ++i;
            continue;
        }
        out->append(QString::fromUtf8(p + segment, int(i - segment)));
        if (i + 1 >= n)
            return false;
        const char e = p[i + 1];
        i += 2;
        switch (e) {
        case '"': out->append(QLatin1Char('"')); break;
        case '\\': out->append(QLatin1Char('\\')); break;
        case '/': out->append(QLatin1Char('/')); break;
        case 'b': out->append(QLatin1Char('\b')); break;
        case 'f': out->append(QLatin1Char('\f')); break;
        case 'n': out->append(QLatin1Char('\n')); break;
        case 'r': out->append(QLatin1Char('\r')); break;
        case 't': out->append(QLatin1Char('\t')); break;
        case 'u': {
            if (i + 4 > n)
                return false;
            int value = 0;
            for (int k = 0; k < 4; ++k) {
                const int h = hexValue(p[i + k]);
                if (h < 0)
                    return false;
                value = value * 16 + h;
            }
            out->append(QChar(ushort(value)));
            i += 4;
            break;
        }
        default:
            return false;
        }
        segment = i;
    }
    return false;
}

bool skipValue(const char *p, qint64 n, qint64 *pos)
{
    qint64 i = *pos;
    if (i >= n)
        return false;
    const char first = p[i];
    if (first == '"')
        return skipString(p, n, pos);
    if (first == '{' || first == '[') {
        int depth = 0;
        while (i < n) {
            const char c = p[i];
            if (c == '"') {
                if (!skipString(p, n, &i))
                    return false;
                continue;
            }
            if (c == '{' || c == '[') {
                ++depth;
            } else if (c == '}' || c == ']') {
                if (--depth == 0) {
                    *pos = i + 1;
                    return true;
                }
            }
            ++i;
        }
        return false;
    }
    const qint64 begin = i;
    while (i < n && !isWhite(p[i]) && p[i] != ',' && p[i] != '}' && p[i] != ']')
        ++i;
    *pos = i;
    return i > begin;
}

QJsonDocument parse(const QByteArray &data)
{
    return QJsonDocument::fromJson(data);
}

bool emptyDocument(const QJsonDocument &doc)
{
    return doc.isNull() || doc.isEmpty();
}

} // namespace

bool GuideIndex::scanTopLevel(const QByteArray &data, QHash<QString, Span> *spans, qint64 *end)
{
    const char *p = data.constData();
    const qint64 n = data.size();
    qint64 i = 0;
    if (n >= 3 && uchar(p[0]) == 0xEF && uchar(p[1]) == 0xBB && uchar(p[2]) == 0xBF)
        i = 3;
    auto skipWhite = [&] {
        while (i < n && isWhite(p[i]))
            ++i;
    };
    skipWhite();
    if (i >= n || p[i] != '{')
        return false;
    ++i;
    skipWhite();
    if (i < n && p[i] == '}') {
        if (end)
            *end = i + 1;
        return true;
    }
    QString key;
    for (;;) {
        skipWhite();
        if (i >= n || p[i] != '"' || !readString(p, n, &i, &key))
            return false;
        skipWhite();
        if (i >= n || p[i] != ':')
            return false;
        ++i;
        skipWhite();
        const qint64 begin = i;
        if (!skipValue(p, n, &i))
            return false;
        spans->insert(key, Span{begin, i});
        skipWhite();
        if (i >= n)
            return false;
        if (p[i] == ',') {
            ++i;
            continue;
        }
        if (end)
            *end = i + 1;
        return p[i] == '}';
    }
}

void GuideIndex::invalidate()
{
    m_valid = false;
    m_scan = Scan();
}

GuideIndex::Scan GuideIndex::scan(const QString &path)
{
    Scan result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    result.status = Empty;
    if (file.size() == 0 || file.size() > std::numeric_limits<int>::max())
        return result;
    // Mapped, not read: a large guide costs no heap of its own.
    const uchar *mapped = file.map(0, file.size());
    QByteArray copy;
    if (!mapped)
        copy = file.readAll();
    const QByteArray data = mapped ? QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), int(file.size()))
                                   : copy;
    QHash<QString, Span> spans;
    qint64 end = 0;
    if (!scanTopLevel(data, &spans, &end)) {
        // A top-level array is a document too, just without keys.
        const QJsonDocument doc = parse(data);
        if (doc.isArray() && !emptyDocument(doc))
            result.status = Ok;
        return result;
    }
    for (qint64 i = end; i < data.size(); ++i) {
        if (!isWhite(data.at(int(i))))
            return result;  // the full parse refuses anything after the object
    }
    // Each value on its own: the same verdict as one parse of everything, one
    // channel's worth of memory at a time.
    QByteArray wrapped;
    for (auto it = spans.cbegin(); it != spans.cend(); ++it) {
        const qint64 length = it->end - it->begin;
        wrapped.resize(0);
        wrapped.reserve(int(length) + 2);
        wrapped.append('[');
        wrapped.append(data.constData() + it->begin, int(length));
        wrapped.append(']');
        QJsonParseError error;
        QJsonDocument::fromJson(wrapped, &error);
        if (error.error != QJsonParseError::NoError)
            return result;
    }
    if (!spans.isEmpty()) {
        result.status = Ok;
        result.spans = std::move(spans);
    }
    return result;
}

bool GuideIndex::isCurrent(const QString &path) const
{
    return m_valid && path == m_path && fileVersion(path) == m_version;
}

void GuideIndex::adopt(const QString &path, const Scan &scan)
{
    invalidate();
    ++m_indexCount;
    m_valid = true;
    m_path = path;
    m_version = fileVersion(path);
    m_scan = scan;
}

GuideIndex::Status GuideIndex::programmes(const QString &path, const QString &key, QVariantList *list)
{
    list->clear();
    for (int attempt = 0; attempt < 2; ++attempt) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            invalidate();
            return CannotOpen;
        }
        const FileVersion version = fileVersion(path);
        if (!m_valid || path != m_path || version != m_version) {
            const Scan fresh = scan(path);
            invalidate();
            ++m_indexCount;
            m_valid = true;
            m_path = path;
            m_version = version;
            m_scan = fresh;
        }
        if (m_scan.status != Ok)
            return m_scan.status;
        const auto it = m_scan.spans.constFind(key);
        if (it == m_scan.spans.cend())
            return Ok;
        const qint64 length = it->end - it->begin;
        QByteArray wrapped;
        wrapped.reserve(int(length) + 2);
        wrapped.append('[');
        if (file.seek(it->begin))
            wrapped.append(file.read(length));
        wrapped.append(']');
        const QJsonDocument part = parse(wrapped);
        if (wrapped.size() == length + 2 && part.isArray()) {
            *list = part.array().at(0).toVariant().toList();
            return Ok;
        }
        // The file changed without a visible change of size or times: index again.
        invalidate();
    }
    return programmesDirect(path, key, list);
}

GuideIndex::Status GuideIndex::programmesDirect(const QString &path, const QString &key, QVariantList *list)
{
    Status status = Ok;
    QByteArray data;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        data = file.readAll();
    else
        status = CannotOpen;
    file.close();
    const QJsonDocument doc = parse(data);
    if (status == Ok && emptyDocument(doc))
        status = Empty;
    *list = doc.object().toVariantMap().value(key).toList();
    return status;
}
