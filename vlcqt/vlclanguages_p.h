#pragma once

// Ranking of a media's tracks by the user's preferred languages.

#include "vlctrackmodel.h"

#include <QByteArray>
#include <QHash>
#include <QStringList>

namespace VlcLanguages {

// True when a preference names the language of an ISO 639 code: whole codes only,
// two- and three-letter codes of one language alike ("ru" and "rus"; "fr", "fre" and
// "fra"), case ignored.
bool codeMatches(const QString &preference, const QString &code);

// Id of the best track for the preferences and its rank (the index of the preference
// that matched, lower is better), or -2 and INT_MAX. A preference matches a track by
// its language code or as a whole word of its title ("English", "Русский").
int bestTrack(const QVector<VlcTrackModel::Track> &tracks, const QHash<int, QString> &language,
              const QStringList &preferences, int *rank);

// True when the list holds a non-blank preference.
bool hasPreference(const QStringList &preferences);

// libVLC's "audio-language"/"sub-language" value: plain words only, comma separated.
QByteArray optionValue(const QStringList &preferences);

} // namespace VlcLanguages
