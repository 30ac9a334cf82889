#pragma once

#include <QRect>
#include <QSettings>
#include <QStringList>
#include <QUrl>
#include <QVariant>

// Every key of the settings store, with its type and the default used when it is
// absent. The store is the one QSettings that Config owns.
namespace SettingsKeys {

// Player preferences and state (written by the window and the settings dialog).
inline constexpr char playerVolume[] = "playerVolume";                 // int 0..200
inline constexpr int playerVolumeDefault = 50;
inline constexpr char playerPlaylistState[] = "playerPlaylistState";   // bool
inline constexpr bool playerPlaylistStateDefault = true;
inline constexpr char iptvWindow[] = "iptvWindow";                     // QRect, no default
inline constexpr char lastUrl[] = "lastUrl";                           // QUrl, empty
inline constexpr char networkCaching[] = "networkCaching";             // uint ms 0..60000
inline constexpr unsigned networkCachingDefault = 1000;
inline constexpr unsigned networkCachingMax = 60000;
inline constexpr char preferredAudioLanguage[] = "preferredAudioLanguage";          // QStringList
inline constexpr char preferredSubtitlesLanguage[] = "preferredSubtitlesLanguage";  // QStringList
inline constexpr char deinterlacing[] = "deinterlacing";               // int, Vlc.Deinterlacing
inline constexpr int deinterlacingDefault = 6;                          // player side
inline constexpr int deinterlacingDialogDefault = 0;                    // the dialog shows 0
inline constexpr char aspectRatio[] = "aspectRatio";                   // int, Vlc.Ratio
inline constexpr int aspectRatioDefault = 0;
inline constexpr char cropRatio[] = "cropRatio";                       // int, Vlc.Ratio
inline constexpr int cropRatioDefault = 0;
inline constexpr char reconnect[] = "reconnect";                       // bool, retry a broken channel
inline constexpr bool reconnectDefault = true;
// The interface texts, applied at the next start: "system" (from the locale), "ru", "en".
inline constexpr char uiLanguage[] = "uiLanguage";                     // QString
inline constexpr char uiLanguageDefault[] = "system";

// Where TV channels come from: the operator's configuration or the user's own list.
inline constexpr char channelSource[] = "channelSource";               // QString
inline constexpr char channelSourceOperator[] = "operator";             // the default
inline constexpr char channelSourcePlaylist[] = "playlist";
inline constexpr char playlistUrl[] = "playlistUrl";                   // QString: http(s) URL or local path
inline constexpr char guideUrl[] = "guideUrl";                         // QString: empty = the list's url-tvg
inline constexpr char guideOffsetMinutes[] = "guideOffsetMinutes";     // int
inline constexpr int guideOffsetMinutesDefault = 0;

// Installation and update records.
inline constexpr char installDir[] = "installDir";                     // QString, executable path
inline constexpr char version[] = "version";                           // int, build version
inline constexpr int versionDefault = 0;
inline constexpr char updateState[] = "updateState";                   // QString
inline constexpr char updateStateDefault[] = "upped";
inline constexpr char updateStateExtracted[] = "extracted";
inline constexpr char updatePath[] = "updatePath";                     // QString, installer path
inline constexpr char lastUpdate[] = "lastUpdate";                     // QDateTime
inline constexpr char updateVersion[] = "updateVersion";               // int, the unpacked build
inline constexpr char updateHandoffs[] = "updateHandoffs";             // int, starts handed to it
inline constexpr char updateRefusedVersion[] = "updateRefusedVersion"; // int, never fetched again
inline constexpr int updateHandoffsMax = 2;
inline constexpr char betaUpdate[] = "betaUpdate";                     // bool
inline constexpr bool betaUpdateDefault = false;
inline constexpr char fallbackCount[] = "fallbackCount";               // int
inline constexpr int fallbackCountDefault = 0;
inline constexpr char isManualFallback[] = "isManualFallback";         // bool
inline constexpr bool isManualFallbackDefault = false;

// The window size of a first run.
inline constexpr int windowDefaultWidth = 602;
inline constexpr int windowDefaultHeight = 482;

// Writes one value. The store writes it to disk within a second; every way out of the
// program (quit, a termination signal, the update hand-off, a restart) flushes first.
inline void store(QSettings *settings, const QString &key, const QVariant &value)
{
    settings->setValue(key, value);
}

// Removes one key.
inline void remove(QSettings *settings, const QString &key)
{
    settings->remove(key);
}

// Typed readers with the defaults above.
inline int readInt(const QSettings *settings, const QString &key, int fallback)
{
    return settings->value(key, fallback).toInt();
}
inline bool readBool(const QSettings *settings, const QString &key, bool fallback)
{
    return settings->value(key, fallback).toBool();
}
// A single stored string reads as a one-element list.
inline QStringList readStringList(const QSettings *settings, const QString &key)
{
    return settings->value(key, QStringList()).toStringList();
}

} // namespace SettingsKeys
