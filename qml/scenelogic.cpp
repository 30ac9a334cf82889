#include "scenelogic.h"

#include <QCoreApplication>
#include <QLocale>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QtMath>

#include <algorithm>
#include <cmath>

namespace scenes {

QString timeToString(qint64 ms)
{
    const qint64 total = ms > 0 ? (ms + 500) / 1000 : 0;
    const qint64 hours = total / 3600;
    const int minutes = int((total / 60) % 60);
    const int seconds = int(total % 60);
    return QStringLiteral("%1:%2:%3")
        .arg(hours)
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(seconds, 2, 10, QLatin1Char('0'));
}

QString groupLabel(const QString &group)
{
    if (group.isEmpty() || group == QLatin1String("ungrouped"))
        return QString();
    return group + QLatin1Char('|');
}

QString groupKey(const QString &group)
{
    return group.isEmpty() ? QStringLiteral("ungrouped") : group;
}

QString aspectStateName(int ratio)
{
    switch (ratio) {
    case RatioOriginal:
        return QCoreApplication::translate("SceneLogic", "Оригинал");
    case Ratio16x9:
        return QStringLiteral("16:9");
    case Ratio4x3:
        return QStringLiteral("4:3");
    default:
        return QCoreApplication::translate("SceneLogic", "Другое");
    }
}

int nextAspectRatio(int ratio)
{
    switch (ratio) {
    case RatioOriginal:
        return Ratio4x3;
    case Ratio4x3:
        return Ratio16x9;
    default:
        return RatioOriginal;
    }
}

QString overlayState(bool fullscreen, bool pointerInWindow, bool timerRunning,
                     bool pointerOverControls, bool pointerOverPlaylist)
{
    const bool hide = (!fullscreen && !pointerInWindow)
        || (fullscreen && !timerRunning && !pointerOverControls && !pointerOverPlaylist);
    return hide ? QStringLiteral("hidden") : QStringLiteral("normal");
}

BubblePlace bubblePlacement(double cx, double cy, double parentWidth, double bubbleWidth,
                            double targetWidth, double contentHeight)
{
    BubblePlace p;
    const double off = parentWidth - (cx + bubbleWidth);
    if (off < 0) {
        p.x = cx + off - 5;
        p.pointerX = -off + targetWidth / 2;
    } else {
        p.x = cx - bubbleWidth / 2 + targetWidth / 2;
        p.pointerX = bubbleWidth / 2 - 5;
        if (p.x < 0) {
            p.pointerX -= 5 - p.x;
            p.x = 5;
        }
    }
    p.y = cy - contentHeight - 5;
    return p;
}

double clamp(double v, double lo, double hi)
{
    if (hi < lo)
        return lo;
    return std::min(std::max(v, lo), hi);
}

double barPosition(double v, double min, double max, double span)
{
    const double range = max - min;
    if (!(range > 0) || span <= 0)
        return 0;
    return (v - min) / range * span;
}

double valueAt(double pos, double min, double max, double span)
{
    if (span <= 0)
        return min;
    return min + (max - min) * pos / span;
}

double handleForContent(double contentY, double range, double track)
{
    if (range <= 0 || track <= 0)
        return 0;
    return clamp(contentY * track / range, 0, track);
}

double contentForHandle(double handleY, double range, double track)
{
    if (range <= 0 || track <= 0)
        return 0;
    return clamp(handleY, 0, track) * range / track;
}

double contentForGrooveClick(double y, double grooveHeight, double range)
{
    if (range <= 0 || grooveHeight <= 0)
        return 0;
    return clamp(y / grooveHeight * range, 0, range);
}

QString heartState(bool overEntry, bool overHeart, bool favourite)
{
    if (overEntry && !overHeart)
        return QStringLiteral("channelHover");
    if (overHeart && !favourite)
        return QStringLiteral("hover");
    if (favourite && !overHeart)
        return QStringLiteral("infav");
    if (favourite && overHeart)
        return QStringLiteral("infavhover");
    return QString();
}

QString searchPlaceholder()
{
    return QCoreApplication::translate("SceneLogic", "Поиск...");
}

QString searchFilter(const QString &text)
{
    if (text.isEmpty() || text == searchPlaceholder())
        return QString();
    return text;
}

QString clockTime(const QDateTime &t)
{
    return t.isValid() ? t.toString(QStringLiteral("hh:mm")) : QString();
}

QString timeRange(const QDateTime &start, const QDateTime &end)
{
    return clockTime(start) + QStringLiteral(" - ") + clockTime(end);
}

QDate sectionDate(const QVariant &section)
{
    if (section.userType() == QMetaType::QDate)
        return section.toDate();
    if (section.userType() == QMetaType::QDateTime)
        return section.toDateTime().date();
    const QString text = section.toString();
    QDate d = QDate::fromString(text, Qt::ISODate);
    if (!d.isValid())
        d = QDateTime::fromString(text, Qt::ISODate).date();
    return d;
}

QString capitalizeWords(const QString &text)
{
    QString out = text;
    bool start = true;
    for (QChar &c : out) {
        if (c.isLetter()) {
            if (start)
                c = c.toUpper();
            start = false;
        } else {
            start = c.isSpace() || c == QLatin1Char('(') || c == QLatin1Char('-');
        }
    }
    return out;
}

QString weekdayTitle(const QVariant &section)
{
    const QDate d = sectionDate(section);
    return d.isValid() ? capitalizeWords(QLocale().toString(d, QStringLiteral("dddd")))
                       : QString();
}

QString dayTitle(const QVariant &section)
{
    const QDate d = sectionDate(section);
    return d.isValid()
        ? capitalizeWords(QLocale().toString(d, QStringLiteral("( dd MMM )")))
        : QString();
}

double dayHeaderBackground(double distanceFromTop, double sectionHeight)
{
    return clamp(sectionHeight - distanceFromTop, 0, sectionHeight);
}

}  // namespace scenes

namespace {

// The backend is chosen before the first window, so before the scenes exist. Qt reads
// its environment only when a window needs a backend, so look there too.
bool backendDrawsShaderEffects()
{
    QString backend = QQuickWindow::sceneGraphBackend();
    if (backend.isEmpty())
        backend = QString::fromLocal8Bit(qgetenv("QMLSCENE_DEVICE"));
    if (backend.isEmpty())
        backend = QString::fromLocal8Bit(qgetenv("QT_QUICK_BACKEND"));
    return backend != QLatin1String("software") && backend != QLatin1String("softwarecontext");
}

} // namespace

SceneLogic::SceneLogic(QQmlEngine *engine, QObject *parent)
    : QObject(parent), m_engine(engine), m_shaderEffects(backendDrawsShaderEffects())
{
}

QVariant SceneLogic::rootContextProperty(const QString &name) const
{
    QQmlEngine *engine = m_engine ? m_engine : qmlEngine(this);
    return engine ? engine->rootContext()->contextProperty(name) : QVariant();
}

QString SceneLogic::timeToString(double ms) const
{
    return scenes::timeToString(std::isfinite(ms) ? qint64(ms) : 0);
}
QString SceneLogic::groupLabel(const QString &group) const { return scenes::groupLabel(group); }
QString SceneLogic::groupKey(const QString &group) const { return scenes::groupKey(group); }
QString SceneLogic::aspectStateName(int ratio) const { return scenes::aspectStateName(ratio); }
int SceneLogic::nextAspectRatio(int ratio) const { return scenes::nextAspectRatio(ratio); }

QString SceneLogic::overlayState(bool fullscreen, bool pointerInWindow, bool timerRunning,
                                 bool pointerOverControls, bool pointerOverPlaylist) const
{
    return scenes::overlayState(fullscreen, pointerInWindow, timerRunning, pointerOverControls,
                                pointerOverPlaylist);
}

QVariantMap SceneLogic::bubblePlacement(double cx, double cy, double parentWidth,
                                        double bubbleWidth, double targetWidth,
                                        double contentHeight) const
{
    const scenes::BubblePlace p = scenes::bubblePlacement(cx, cy, parentWidth, bubbleWidth,
                                                          targetWidth, contentHeight);
    return {{QStringLiteral("x"), p.x}, {QStringLiteral("y"), p.y},
            {QStringLiteral("pointerX"), p.pointerX}};
}

double SceneLogic::barPosition(double v, double min, double max, double span) const
{
    return scenes::barPosition(v, min, max, span);
}
double SceneLogic::valueAt(double pos, double min, double max, double span) const
{
    return scenes::valueAt(pos, min, max, span);
}
double SceneLogic::handleForContent(double contentY, double range, double track) const
{
    return scenes::handleForContent(contentY, range, track);
}
double SceneLogic::contentForHandle(double handleY, double range, double track) const
{
    return scenes::contentForHandle(handleY, range, track);
}
double SceneLogic::contentForGrooveClick(double y, double grooveHeight, double range) const
{
    return scenes::contentForGrooveClick(y, grooveHeight, range);
}
QString SceneLogic::heartState(bool overEntry, bool overHeart, bool favourite) const
{
    return scenes::heartState(overEntry, overHeart, favourite);
}
QString SceneLogic::searchPlaceholder() const { return scenes::searchPlaceholder(); }
QString SceneLogic::searchFilter(const QString &text) const { return scenes::searchFilter(text); }
QString SceneLogic::clockTime(const QDateTime &t) const { return scenes::clockTime(t); }
QString SceneLogic::timeRange(const QDateTime &start, const QDateTime &end) const
{
    return scenes::timeRange(start, end);
}
QString SceneLogic::weekdayTitle(const QVariant &section) const
{
    return scenes::weekdayTitle(section);
}
QString SceneLogic::dayTitle(const QVariant &section) const { return scenes::dayTitle(section); }
double SceneLogic::dayHeaderBackground(double distanceFromTop, double sectionHeight) const
{
    return scenes::dayHeaderBackground(distanceFromTop, sectionHeight);
}
