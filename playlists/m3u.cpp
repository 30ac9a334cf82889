#include "m3u.h"

#include <QPair>
#include <QtGlobal>
#include <QVarLengthArray>
#include <QLoggingCategory>
#include <QUrlQuery>

#include <cstring>
#include <string_view>
#include <thread>
#include <unordered_map>

Q_LOGGING_CATEGORY(lcM3u, "playlists.m3u")

namespace M3u {

namespace {

// The file is read as bytes: only the pieces kept are turned into text.
struct Bytes
{
    const char *data = nullptr;
    int size = 0;

    bool isEmpty() const { return size == 0; }
    char at(int i) const { return data[i]; }
    Bytes mid(int from, int length = -1) const
    {
        from = qBound(0, from, size);
        length = length < 0 ? size - from : qMin(length, size - from);
        return {data + from, length};
    }
    int indexOf(char c, int from = 0) const
    {
        if (from >= size)
            return -1;
        const void *hit = std::memchr(data + from, c, size_t(size - from));
        return hit ? int(static_cast<const char *>(hit) - data) : -1;
    }
    int lastIndexOf(char c) const
    {
        for (int i = size - 1; i >= 0; --i) {
            if (data[i] == c)
                return i;
        }
        return -1;
    }
    bool startsWith(const char *prefix) const  // prefix compared without case
    {
        const int n = int(std::strlen(prefix));
        return size >= n && qstrnicmp(data, prefix, uint(n)) == 0;
    }
    bool equals(const char *key) const  // without case
    {
        const int n = int(std::strlen(key));
        return size == n && qstrnicmp(data, key, uint(n)) == 0;
    }
    Bytes trimmed() const
    {
        int from = 0;
        int to = size;
        while (from < to && isBlank(data[from]))
            ++from;
        while (to > from && isBlank(data[to - 1]))
            --to;
        return {data + from, to - from};
    }
    // At most MaxTextLength characters: the bytes beyond can never be kept.
    QString text() const
    {
        QString out = QString::fromUtf8(data, qMin(size, MaxTextLength * 4));
        if (out.size() > MaxTextLength)
            out.truncate(MaxTextLength);
        return out;
    }
    QByteArray raw() const { return QByteArray::fromRawData(data, size); }

    static bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
};

// The attributes of an #EXTINF or #EXTM3U line (key="value", key='value' or key=value;
// keys compare without case) and the title after the first comma outside quotes.
struct Parsed
{
    QVarLengthArray<QPair<Bytes, Bytes>, 12> attributes;
    Bytes title;

    // The last one wins, as when a key is given twice.
    Bytes value(const char *key) const
    {
        for (int i = attributes.size() - 1; i >= 0; --i) {
            if (attributes.at(i).first.equals(key))
                return attributes.at(i).second;
        }
        return Bytes();
    }
};

Parsed parseAttributes(const Bytes &line, int from)
{
    Parsed out;
    const int n = line.size;
    int i = from;
    while (i < n) {
        const char c = line.at(i);
        if (c == ',') {
            out.title = line.mid(i + 1).trimmed();
            return out;
        }
        if (Bytes::isBlank(c)) {
            ++i;
            continue;
        }
        // A key up to '=', a blank or a comma.
        const int keyStart = i;
        while (i < n && line.at(i) != '=' && !Bytes::isBlank(line.at(i)) && line.at(i) != ',')
            ++i;
        const Bytes key = line.mid(keyStart, i - keyStart);
        if (i >= n || line.at(i) != '=')
            continue;  // a word without a value (the duration, say)
        ++i;
        Bytes value;
        if (i < n && (line.at(i) == '"' || line.at(i) == '\'')) {
            const int close = line.indexOf(line.at(i), i + 1);
            if (close < 0) {
                // An unclosed quote: the value runs to the last comma, the title after it.
                const int comma = line.lastIndexOf(',');
                if (comma > i) {
                    out.attributes.append(qMakePair(key, line.mid(i + 1, comma - i - 1)));
                    out.title = line.mid(comma + 1).trimmed();
                } else {
                    out.attributes.append(qMakePair(key, line.mid(i + 1)));
                }
                return out;
            }
            value = line.mid(i + 1, close - i - 1);
            i = close + 1;
        } else {
            const int start = i;
            while (i < n && !Bytes::isBlank(line.at(i)) && line.at(i) != ',')
                ++i;
            value = line.mid(start, i - start);
        }
        if (!key.isEmpty())
            out.attributes.append(qMakePair(key, value));
    }
    return out;
}

// "http://host/a.ts|User-Agent=x&Referer=y": the address and its two headers.
QString splitHeaders(const QString &line, QString *userAgent, QString *referrer)
{
    const int bar = line.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return line;
    const QUrlQuery headers(line.mid(bar + 1));
    for (const auto &item : headers.queryItems(QUrl::FullyDecoded)) {
        const QString name = item.first.toLower();
        if (name == QLatin1String("user-agent"))
            *userAgent = item.second.left(MaxTextLength);
        else if (name == QLatin1String("referer") || name == QLatin1String("referrer"))
            *referrer = item.second.left(MaxTextLength);
    }
    return line.left(bar);
}

double shiftHours(const Bytes &text, bool *ok)
{
    return text.trimmed().raw().toDouble(ok);
}

// Many channels share a few groups: one string each, not one per channel.
class Texts
{
public:
    QString shared(const Bytes &bytes)
    {
        if (bytes.isEmpty())
            return QString();
        const std::string_view key(bytes.data, size_t(bytes.size));
        const auto hit = m_seen.find(key);
        if (hit != m_seen.end())
            return hit->second;
        const QString text = bytes.text();
        if (m_seen.size() < 4096)
            m_seen.emplace(key, text);
        return text;
    }

private:
    std::unordered_map<std::string_view, QString> m_seen;
};

} // namespace

QString Channel::guideKey() const
{
    if (!tvgId.isEmpty())
        return tvgId;
    if (!tvgName.isEmpty())
        return tvgName;
    return title;
}

bool isPlayable(const QUrl &url)
{
    static const QStringList schemes{QStringLiteral("file"), QStringLiteral("http"), QStringLiteral("https"),
                                     QStringLiteral("udp"),  QStringLiteral("rtp"),  QStringLiteral("rtsp"),
                                     QStringLiteral("rtmp"), QStringLiteral("mms"),  QStringLiteral("mmsh")};
    if (!url.isValid() || url.isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (!schemes.contains(scheme))
        return false;
    if (scheme == QLatin1String("file"))
        return url.isLocalFile() && !url.toLocalFile().isEmpty();
    return !url.host().isEmpty() || scheme == QLatin1String("udp") || scheme == QLatin1String("rtp");
}

bool looksLikeChannelList(const QByteArray &head)
{
    return head.contains("#EXTINF") && !head.contains("#EXT-X-");
}

namespace {

// Reads one stretch of a list that begins at a line start. A stretch after the first
// does not know the header's tvg-shift in force where it begins: the channels that
// would take it are noted, and given it when the stretches are joined.
struct Reader
{
    Playlist out;
    QUrl base;
    double headerShift = 0;
    bool headerKnown = true;
    QVector<int> takesEarlierShift;
    Texts shared;

    void read(const Bytes &text);
    void join(Reader &&next);
};

void Reader::read(const Bytes &text)
{
    bool pending = false;
    Channel channel;
    QString pendingGroup;
    auto takeHeaderShift = [this](Channel &c) {
        c.tvgShiftHours = headerShift;
        if (!headerKnown)
            takesEarlierShift.append(out.channels.size());
    };

    int from = 0;
    while (from < text.size) {
        int end = text.indexOf('\n', from);
        if (end < 0)
            end = text.size;
        const Bytes line = text.mid(from, end - from).trimmed();
        from = end + 1;
        if (line.isEmpty())
            continue;
        if (line.at(0) == '#') {
            if (line.startsWith("#EXTM3U")) {
                const Parsed header = parseAttributes(line, 7);
                for (const char *key : {"url-tvg", "x-tvg-url"}) {
                    const QString urls = header.value(key).text();
                    for (const QString &u : urls.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                        if (!out.guideUrls.contains(u.trimmed()))
                            out.guideUrls.append(u.trimmed());
                    }
                }
                bool ok = false;
                const double shift = shiftHours(header.value("tvg-shift"), &ok);
                if (ok) {
                    headerShift = shift;
                    headerKnown = true;
                }
            } else if (line.startsWith("#EXTINF:")) {
                if (pending)
                    ++out.skipped;  // the previous entry never got its address
                out.hasExtInf = true;
                pending = true;
                channel = Channel();
                pendingGroup.clear();
                const Parsed info = parseAttributes(line, 8);
                channel.title = info.title.text();
                channel.tvgId = info.value("tvg-id").text();
                channel.tvgName = info.value("tvg-name").text();
                channel.tvgLogo = info.value("tvg-logo").text();
                channel.group = shared.shared(info.value("group-title"));
                channel.catchup = shared.shared(info.value("catchup"));
                channel.catchupSource = info.value("catchup-source").text();
                channel.catchupDays = info.value("catchup-days").trimmed().raw().toInt();
                bool ok = false;
                const double shift = shiftHours(info.value("tvg-shift"), &ok);
                channel.tvgShiftHours = ok ? shift : qQNaN();  // NaN: the header's, decided below
            } else if (line.startsWith("#EXTGRP:")) {
                pendingGroup = shared.shared(line.mid(8).trimmed());
            } else if (line.startsWith("#EXTVLCOPT:")) {
                const Bytes option = line.mid(11).trimmed();
                const int eq = option.indexOf('=');
                const Bytes name = eq >= 0 ? option.mid(0, eq) : option;
                const Bytes value = eq >= 0 ? option.mid(eq + 1) : Bytes();
                if (name.equals("http-user-agent"))
                    channel.userAgent = value.text();
                else if (name.equals("http-referrer") || name.equals("http-referer"))
                    channel.referrer = value.text();
                else
                    ++out.ignoredOptions;
            } else if (line.startsWith("#EXT-X-")) {
                out.hasHlsTags = true;
            }
            continue;  // #KODIPROP and any other comment
        }
        // An address: it belongs to the pending #EXTINF, or stands on its own; one on its
        // own must be absolute, anything else is junk.
        const bool own = !pending;
        if (own) {
            channel = Channel();
            channel.tvgShiftHours = qQNaN();
        }
        pending = false;
        if (out.channels.size() >= MaxChannels) {
            ++out.skipped;
            continue;
        }
        const QString address = splitHeaders(QString::fromUtf8(line.data, line.size), &channel.userAgent,
                                             &channel.referrer);
        QUrl url(address, QUrl::TolerantMode);
        if (own && url.isRelative() && !address.startsWith(QLatin1Char('/'))) {
            ++out.skipped;
            continue;
        }
        if (url.isRelative() && base.isValid())
            url = base.resolved(url);
        else if (url.scheme().isEmpty() && address.startsWith(QLatin1Char('/')))
            url = QUrl::fromLocalFile(address);
        if (!isPlayable(url)) {
            ++out.skipped;
            continue;
        }
        channel.url = url;
        if (channel.group.isEmpty())
            channel.group = pendingGroup;
        if (channel.title.isEmpty())
            channel.title = (channel.tvgName.isEmpty() ? url.fileName() : channel.tvgName).left(MaxTextLength);
        if (qIsNaN(channel.tvgShiftHours))
            takeHeaderShift(channel);
        out.channels.append(std::move(channel));
        channel = Channel();
    }
    if (pending)
        ++out.skipped;
}

void Reader::join(Reader &&next)
{
    for (int index : qAsConst(next.takesEarlierShift))
        next.out.channels[index].tvgShiftHours = headerShift;
    if (next.headerKnown)
        headerShift = next.headerShift;
    for (const QString &u : qAsConst(next.out.guideUrls)) {
        if (!out.guideUrls.contains(u))
            out.guideUrls.append(u);
    }
    const int room = MaxChannels - out.channels.size();
    const int taken = qMin(room, next.out.channels.size());
    out.channels.reserve(out.channels.size() + taken);
    for (int i = 0; i < taken; ++i)
        out.channels.append(std::move(next.out.channels[i]));
    out.skipped += next.out.skipped + next.out.channels.size() - taken;
    out.ignoredOptions += next.out.ignoredOptions;
    out.hasExtInf = out.hasExtInf || next.out.hasExtInf;
    out.hasHlsTags = out.hasHlsTags || next.out.hasHlsTags;
}

// Where a second reader can start: an #EXTINF line past the middle of a large list.
int splitPoint(const Bytes &text)
{
    constexpr int SplitAbove = 4 << 20;
    if (text.size < SplitAbove)
        return -1;
    static const char marker[] = "\n#EXTINF:";
    const char *hit = static_cast<const char *>(
        memmem(text.data + text.size / 2, size_t(text.size - text.size / 2), marker, sizeof(marker) - 1));
    return hit ? int(hit - text.data) + 1 : -1;
}

} // namespace

Playlist parse(const QByteArray &data, const QUrl &base)
{
    Bytes text{data.constData(), data.size()};
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.mid(3);
    Reader first;
    first.base = base;
    // A list of many thousands of channels is read in two halves at once.
    const int split = splitPoint(text);
    if (split < 0) {
        first.read(text);
    } else {
        Reader second;
        second.base = base;
        second.headerKnown = false;
        std::thread worker([&second, &text, split] { second.read(text.mid(split)); });
        first.read(text.mid(0, split));
        worker.join();
        first.join(std::move(second));
    }
    Playlist out = std::move(first.out);
    if (out.ignoredOptions > 0)
        qCDebug(lcM3u, "%d player options of the playlist ignored (only http-user-agent and http-referrer are used)",
                out.ignoredOptions);
    return out;
}

} // namespace M3u
