#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVector>

// Extended M3U channel lists (the IPTV flavour: #EXTINF with tvg-* attributes).
namespace M3u {

struct Channel
{
    QString title;
    QUrl url;
    QString group;
    QString tvgId;
    QString tvgName;
    QString tvgLogo;
    double tvgShiftHours = 0;  // the channel's own, else the header's
    QString catchup;
    QString catchupSource;
    int catchupDays = 0;
    // Only these two reach the player, as media options.
    QString userAgent;
    QString referrer;

    // The name of its programme list in a guide: tvg-id, else tvg-name, else the title.
    QString guideKey() const;
};

struct Playlist
{
    QVector<Channel> channels;
    QStringList guideUrls;   // url-tvg / x-tvg-url of the header, in order
    bool hasExtInf = false;  // the list has #EXTINF entries
    bool hasHlsTags = false; // #EXT-X- tags: a stream's playlist, not a channel list
    int skipped = 0;         // entries without a usable stream address
    int ignoredOptions = 0;  // #EXTVLCOPT lines other than the two used

    // A channel list: #EXTINF entries and no HLS tags.
    bool isChannelList() const { return hasExtInf && !hasHlsTags; }
};

// Longest text kept from a playlist; the rest is cut.
constexpr int MaxTextLength = 1000;
// Entries beyond this many are left out.
constexpr int MaxChannels = 500000;

// Reads data (UTF-8, with or without a byte order mark; LF or CRLF). Relative stream
// addresses are resolved against base. Always ends, whatever the input.
Playlist parse(const QByteArray &data, const QUrl &base = QUrl());

// Whether data looks like an M3U channel list (for files opened by the user).
bool looksLikeChannelList(const QByteArray &head);

// The schemes the video module plays.
bool isPlayable(const QUrl &url);

} // namespace M3u

// Its members move by their pointers: a growing list moves channels with memcpy.
Q_DECLARE_TYPEINFO(M3u::Channel, Q_MOVABLE_TYPE);
