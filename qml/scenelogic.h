#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVariant>

class QQmlEngine;

// Formatting, arithmetic and state decisions of the player scenes, kept out of QML so
// that they can be tested on their own. The free functions hold the logic; SceneLogic
// offers them to the scenes as the singleton "SceneLogic" of NovalineScenes 1.0.
namespace scenes {

// Vlc.Ratio values the picture-size button knows by name.
enum KnownRatio { RatioOriginal = 0, Ratio16x9 = 2, Ratio4x3 = 8 };

// "h:mm:ss" of a time in milliseconds, rounded to whole seconds; negative reads as 0.
QString timeToString(qint64 ms);

// The group label over the picture: the group and a separator, nothing for entries
// without a group.
QString groupLabel(const QString &group);

// The playlist's name of a group: entries without a group belong to "ungrouped".
QString groupKey(const QString &group);

// Picture-size button: the state name of a ratio, and the ratio a click steps to
// (Оригинал -> 4:3 -> 16:9 -> Оригинал, anything else -> Оригинал).
QString aspectStateName(int ratio);
int nextAspectRatio(int ratio);

// "hidden" or "normal" for the overlays.
QString overlayState(bool fullscreen, bool pointerInWindow, bool timerRunning,
                     bool pointerOverControls, bool pointerOverPlaylist);

struct BubblePlace {
    double x = 0;
    double y = 0;
    double pointerX = 0;
};
// Tool-tip placement above a target whose top-left corner is (cx, cy) in the coordinates
// of a parent parentWidth wide; never sticks out on the right or left.
BubblePlace bubblePlacement(double cx, double cy, double parentWidth, double bubbleWidth,
                            double targetWidth, double contentHeight);

// v limited to [lo, hi]; lo when the range is empty.
double clamp(double v, double lo, double hi);

// Slider arithmetic over a span of pixels for the range [min, max].
double barPosition(double v, double min, double max, double span);
double valueAt(double pos, double min, double max, double span);

// Scroll bar arithmetic: range is content height minus view height, track the length
// the handle can travel.
double handleForContent(double contentY, double range, double track);
double contentForHandle(double handleY, double range, double track);
double contentForGrooveClick(double y, double grooveHeight, double range);

// Heart of a playlist entry: the look's name (first match wins), "" for no heart.
QString heartState(bool overEntry, bool overHeart, bool favourite);

// Search field: the placeholder in the interface language.
QString searchPlaceholder();
QString searchFilter(const QString &text);

// Guide texts; day names in the default locale (the interface language's).
QString clockTime(const QDateTime &t);
QString timeRange(const QDateTime &start, const QDateTime &end);
QDate sectionDate(const QVariant &section);
QString capitalizeWords(const QString &text);
QString weekdayTitle(const QVariant &section);
QString dayTitle(const QVariant &section);
double dayHeaderBackground(double distanceFromTop, double sectionHeight);

}  // namespace scenes

class SceneLogic : public QObject
{
    Q_OBJECT
    // Whether shader effects can be drawn (not on the software scene graph). Scenes build
    // their effects only when true: building one makes the effects module create a GL
    // context to probe, which loads the whole GL driver for nothing.
    Q_PROPERTY(bool shaderEffects READ shaderEffects CONSTANT)

public:
    explicit SceneLogic(QQmlEngine *engine = nullptr, QObject *parent = nullptr);

    // A context property of the engine's root context (the loader scene's own
    // properties hide some of them by name).
    Q_INVOKABLE QVariant rootContextProperty(const QString &name) const;

    bool shaderEffects() const { return m_shaderEffects; }

    Q_INVOKABLE QString timeToString(double ms) const;
    Q_INVOKABLE QString groupLabel(const QString &group) const;
    Q_INVOKABLE QString groupKey(const QString &group) const;
    Q_INVOKABLE QString aspectStateName(int ratio) const;
    Q_INVOKABLE int nextAspectRatio(int ratio) const;
    Q_INVOKABLE QString overlayState(bool fullscreen, bool pointerInWindow, bool timerRunning,
                                     bool pointerOverControls, bool pointerOverPlaylist) const;
    Q_INVOKABLE QVariantMap bubblePlacement(double cx, double cy, double parentWidth,
                                            double bubbleWidth, double targetWidth,
                                            double contentHeight) const;
    Q_INVOKABLE double barPosition(double v, double min, double max, double span) const;
    Q_INVOKABLE double valueAt(double pos, double min, double max, double span) const;
    Q_INVOKABLE double handleForContent(double contentY, double range, double track) const;
    Q_INVOKABLE double contentForHandle(double handleY, double range, double track) const;
    Q_INVOKABLE double contentForGrooveClick(double y, double grooveHeight, double range) const;
    Q_INVOKABLE QString heartState(bool overEntry, bool overHeart, bool favourite) const;
    Q_INVOKABLE QString searchPlaceholder() const;
    Q_INVOKABLE QString searchFilter(const QString &text) const;
    Q_INVOKABLE QString clockTime(const QDateTime &t) const;
    Q_INVOKABLE QString timeRange(const QDateTime &start, const QDateTime &end) const;
    Q_INVOKABLE QString weekdayTitle(const QVariant &section) const;
    Q_INVOKABLE QString dayTitle(const QVariant &section) const;
    Q_INVOKABLE double dayHeaderBackground(double distanceFromTop, double sectionHeight) const;

private:
    QQmlEngine *m_engine;
    const bool m_shaderEffects;
};
