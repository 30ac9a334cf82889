#include "guideindex.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QVariantMap>

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

bool GuideIndex::scanTopLevel(const QByteArray &data, QHash<QString, Span> *spans)
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
    if (i < n && p[i] == '}')
        return true;
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
        return p[i] == '}';
    }
}

void GuideIndex::invalidate()
{
    m_valid = false;
    m_spans.clear();
    m_object = QJsonObject();
}

void GuideIndex::build(const QString &path, const FileVersion &version, const QByteArray &data, const QJsonDocument &doc)
{
    invalidate();
    ++m_indexCount;
    m_path = path;
    m_version = version;
    m_valid = true;
    m_empty = emptyDocument(doc);
    m_useObject = false;
    if (m_empty || !doc.isObject())
        return;
    const QJsonObject object = doc.object();
    bool agree = scanTopLevel(data, &m_spans) && m_spans.size() == object.size();
    for (auto it = m_spans.cbegin(); agree && it != m_spans.cend(); ++it)
        agree = object.contains(it.key());
    if (!agree) {
        // Keep the parsed object rather than risk a different reading.
        m_spans.clear();
        m_object = object;
        m_useObject = true;
    }
}

void GuideIndex::adopt(const QString &path, const QByteArray &data, const QJsonDocument &doc)
{
    build(path, fileVersion(path), data, doc);
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
            const QByteArray data = file.readAll();
            build(path, version, data, parse(data));
        }
        if (m_empty)
            return Empty;
        if (m_useObject) {
            *list = m_object.value(key).toVariant().toList();
            return Ok;
        }
        const auto it = m_spans.constFind(key);
        if (it == m_spans.cend())
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
