#include "m3u.h"

#include <QPair>
#include <QVarLengthArray>
#include <QLoggingCategory>
#include <QUrlQuery>

Q_LOGGING_CATEGORY(lcM3u, "playlists.m3u")

namespace M3u {

namespace {

QString capped(QString text)
{
    if (text.size() > MaxTextLength)
        text.truncate(MaxTextLength);
    return text;
}

// The attributes of an #EXTINF or #EXTM3U line (key="value", key='value' or key=value;
// keys compare without case) and the title after the first comma outside quotes. The
// pieces point into the line: nothing is copied that is not asked for.
struct Parsed
{
    QVarLengthArray<QPair<QStringRef, QStringRef>, 12> attributes;
    QStringRef title;

    QString value(const char *key) const
    {
        // The last one wins, as when a key is given twice.
        for (int i = attributes.size() - 1; i >= 0; --i) {
            if (attributes.at(i).first.compare(QLatin1String(key), Qt::CaseInsensitive) == 0)
                return attributes.at(i).second.toString();
        }
        return QString();
    }
};

Parsed parseAttributes(const QString &line, int from)
{
    Parsed out;
    const int n = line.size();
    int i = from;
    while (i < n) {
        const QChar c = line.at(i);
        if (c == QLatin1Char(',')) {
            out.title = line.midRef(i + 1).trimmed();
            return out;
        }
        if (c.isSpace()) {
            ++i;
            continue;
        }
        // A key up to '=', a blank or a comma.
        const int keyStart = i;
        while (i < n && line.at(i) != QLatin1Char('=') && !line.at(i).isSpace() && line.at(i) != QLatin1Char(','))
            ++i;
        const QStringRef key = line.midRef(keyStart, i - keyStart);
        if (i >= n || line.at(i) != QLatin1Char('='))
            continue;  // a word without a value (the duration, say)
        ++i;
        QStringRef value;
        if (i < n && (line.at(i) == QLatin1Char('"') || line.at(i) == QLatin1Char('\''))) {
            const QChar quote = line.at(i);
            const int close = line.indexOf(quote, i + 1);
            if (close < 0) {
                // An unclosed quote: the value runs to the last comma, the title after it.
                const int comma = line.lastIndexOf(QLatin1Char(','));
                if (comma > i) {
                    out.attributes.append(qMakePair(key, line.midRef(i + 1, comma - i - 1)));
                    out.title = line.midRef(comma + 1).trimmed();
                } else {
                    out.attributes.append(qMakePair(key, line.midRef(i + 1)));
                }
                return out;
            }
            value = line.midRef(i + 1, close - i - 1);
            i = close + 1;
        } else {
            const int start = i;
            while (i < n && !line.at(i).isSpace() && line.at(i) != QLatin1Char(','))
                ++i;
            value = line.midRef(start, i - start);
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
            *userAgent = item.second;
        else if (name == QLatin1String("referer") || name == QLatin1String("referrer"))
            *referrer = item.second;
    }
    return line.left(bar);
}

double shiftHours(const QString &text, bool *ok)
{
    return text.trimmed().toDouble(ok);
}

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

Playlist parse(const QByteArray &data, const QUrl &base)
{
    Playlist out;
    QString text = QString::fromUtf8(data);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    double headerShift = 0;
    bool pending = false;
    Channel channel;
    QString pendingGroup;

    const QVector<QStringRef> lines = text.splitRef(QLatin1Char('\n'));
    for (QStringRef ref : lines) {
        const QString line = ref.trimmed().toString();
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('#'))) {
            if (line.startsWith(QLatin1String("#EXTM3U"), Qt::CaseInsensitive)) {
                const Parsed header = parseAttributes(line, 7);
                for (const char *key : {"url-tvg", "x-tvg-url"}) {
                    const QString urls = header.value(key);
                    for (const QString &u : urls.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                        if (!out.guideUrls.contains(u.trimmed()))
                            out.guideUrls.append(u.trimmed());
                    }
                }
                bool ok = false;
                const double shift = shiftHours(header.value("tvg-shift"), &ok);
                if (ok)
                    headerShift = shift;
            } else if (line.startsWith(QLatin1String("#EXTINF:"), Qt::CaseInsensitive)) {
                if (pending)
                    ++out.skipped;  // the previous entry never got its address
                out.hasExtInf = true;
                pending = true;
                channel = Channel();
                pendingGroup.clear();
                const Parsed info = parseAttributes(line, 8);
                channel.title = capped(info.title.toString());
                channel.tvgId = capped(info.value("tvg-id"));
                channel.tvgName = capped(info.value("tvg-name"));
                channel.tvgLogo = capped(info.value("tvg-logo"));
                channel.group = capped(info.value("group-title"));
                channel.catchup = capped(info.value("catchup"));
                channel.catchupSource = capped(info.value("catchup-source"));
                channel.catchupDays = info.value("catchup-days").toInt();
                bool ok = false;
                const double shift = shiftHours(info.value("tvg-shift"), &ok);
                channel.tvgShiftHours = ok ? shift : headerShift;
            } else if (line.startsWith(QLatin1String("#EXTGRP:"), Qt::CaseInsensitive)) {
                pendingGroup = capped(line.mid(8).trimmed());
            } else if (line.startsWith(QLatin1String("#EXTVLCOPT:"), Qt::CaseInsensitive)) {
                const QString option = line.mid(11).trimmed();
                const int eq = option.indexOf(QLatin1Char('='));
                const QString name = option.left(eq).toLower();
                const QString value = eq >= 0 ? option.mid(eq + 1) : QString();
                if (name == QLatin1String("http-user-agent"))
                    channel.userAgent = capped(value);
                else if (name == QLatin1String("http-referrer") || name == QLatin1String("http-referer"))
                    channel.referrer = capped(value);
                else
                    ++out.ignoredOptions;
            } else if (line.startsWith(QLatin1String("#EXT-X-"), Qt::CaseInsensitive)) {
                out.hasHlsTags = true;
            }
            continue;  // #KODIPROP and any other comment
        }
        // An address: it belongs to the pending #EXTINF, or stands on its own; one on its
        // own must be absolute, anything else is junk.
        const bool own = !pending;
        if (own) {
            channel = Channel();
            channel.tvgShiftHours = headerShift;
        }
        pending = false;
        const QString address = splitHeaders(line, &channel.userAgent, &channel.referrer);
        QUrl url(address, QUrl::TolerantMode);
        if (own && url.isRelative() && !address.startsWith(QLatin1Char('/'))) {
            ++out.skipped;
            continue;
        }
        if (url.isRelative() && base.isValid())
            url = base.resolved(url);
        else if (url.scheme().isEmpty() && address.startsWith(QLatin1Char('/')))
            url = QUrl::fromLocalFile(address);
        if (!isPlayable(url) || out.channels.size() >= MaxChannels) {
            ++out.skipped;
            continue;
        }
        channel.url = url;
        if (channel.group.isEmpty())
            channel.group = pendingGroup;
        if (channel.title.isEmpty())
            channel.title = capped(channel.tvgName.isEmpty() ? url.fileName() : channel.tvgName);
        out.channels.append(channel);
    }
    if (pending)
        ++out.skipped;
    if (out.ignoredOptions > 0)
        qCDebug(lcM3u, "%d player options of the playlist ignored (only http-user-agent and http-referrer are used)",
                out.ignoredOptions);
    return out;
}

} // namespace M3u
