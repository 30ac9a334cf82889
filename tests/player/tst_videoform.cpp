// The player window on a real X server: placement, moving, resizing, full screen,
// stay-on-top, the scene's context and the persisted player state.
#include "config.h"
#include "jtvmodel.h"
#include "playlistmodel.h"
#include "videoform.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QQmlContext>
#include <QQuickItem>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QtTest>

#include <memory>

// A tiny root scene in place of the player's: sets the minimum size, reports loaded.
static const QUrl standIn(QStringLiteral("qrc:/player-test/standin.qml"));

class TestVideoForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstRunGeometry();
    void restoreClamped_data();
    void restoreClamped();
    void unusableStoredGeometry();
    void resizeToMinimum();
    void moveByOffsets();
    void fullscreenTwice();
    void quitInFullscreenStoresNormalGeometry();
    void minimiseNotifiesAndKeepsNormalGeometry();
    void stayOnTop();
    void openAndLoadIptv();
    void contextDefaults();
    void preferencesReread();
    void persistedState();
    void sceneErrorsAreLogged();
    void playerRootScene();
    void filterModels();
    void settingsFormCreatedOnce();

private:
    VideoForm *makeWindow();
    QSettings *settings() { return config->settings(); }
    QVariant context(const char *name) const
    {
        return window->rootContext()->contextProperty(QString::fromLatin1(name));
    }

    std::unique_ptr<Config> config;
    std::unique_ptr<VideoForm> window;
};

void TestVideoForm::initTestCase()
{
    QVERIFY(QGuiApplication::primaryScreen());
    Q_INIT_RESOURCE(scenes);
}

void TestVideoForm::init()
{
    config.reset(new Config);
    settings()->clear();
}

void TestVideoForm::cleanup()
{
    window.reset();
    config.reset();
}

VideoForm *TestVideoForm::makeWindow()
{
    window.reset(new VideoForm(config.get()));
    return window.get();
}

void TestVideoForm::firstRunGeometry()
{
    VideoForm *w = makeWindow();
    QCOMPARE(w->title(), QStringLiteral("Novaline TV"));
    QVERIFY(!w->formLoaded());
    w->restoreAndShow(standIn);
    QVERIFY(QTest::qWaitForWindowExposed(w, 30000));
    QCOMPARE(w->geometry(), QRect(0, 0, 602, 482));
    // The stand-in root scene was loaded and reported itself.
    QCOMPARE(w->status(), QQuickView::Ready);
    QVERIFY(w->formLoaded());
    QCOMPARE(w->minimumSize(), QSize(370, 278));
    QVERIFY(!settings()->contains(QStringLiteral("iptvWindow")));
}

void TestVideoForm::restoreClamped_data()
{
    const QSize screen = QGuiApplication::primaryScreen()->availableSize();
    const int W = screen.width();
    const int H = screen.height();
    QTest::addColumn<QRect>("stored");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("inside") << QRect(100, 80, 700, 500) << QRect(100, 80, 700, 500);
    QTest::newRow("beyond right and bottom")
            << QRect(W - 100, H - 50, 640, 480) << QRect(W - 640, H - 480, 640, 480);
    QTest::newRow("ends on last pixel stays")
            << QRect(W - 640, H - 480, 640, 480) << QRect(W - 640, H - 480, 640, 480);
    QTest::newRow("negative edges") << QRect(-50, -20, 602, 482) << QRect(0, 0, 602, 482);
    QTest::newRow("larger than the screen")
            << QRect(10, 10, W + 200, H + 100) << QRect(0, 0, W + 200, H + 100);
}

void TestVideoForm::restoreClamped()
{
    QFETCH(QRect, stored);
    QFETCH(QRect, expected);
    settings()->setValue(QStringLiteral("iptvWindow"), stored);
    VideoForm *w = makeWindow();
    w->restoreAndShow(standIn);
    QVERIFY(QTest::qWaitForWindowExposed(w, 30000));
    QCOMPARE(w->geometry(), expected);
    // The size is never changed by the placement.
    QCOMPARE(w->geometry().size(), stored.size());
}

void TestVideoForm::unusableStoredGeometry()
{
    settings()->setValue(QStringLiteral("iptvWindow"), QStringLiteral("not a rectangle"));
    VideoForm *w = makeWindow();
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("Stored window geometry is not usable")));
    w->restoreAndShow(standIn);
    QVERIFY(QTest::qWaitForWindowExposed(w, 30000));
    QCOMPARE(w->geometry().size(), QSize(602, 482));
}

void TestVideoForm::resizeToMinimum()
{
    settings()->setValue(QStringLiteral("iptvWindow"), QRect(200, 150, 700, 500));
    VideoForm *w = makeWindow();
    w->restoreAndShow(standIn);
    QVERIFY(QTest::qWaitForWindowExposed(w, 30000));

    QVERIFY(QMetaObject::invokeMethod(w, "windowResized", Q_ARG(int, 30), Q_ARG(int, 20)));
    QCOMPARE(w->geometry(), QRect(200, 150, 730, 520));
    QVERIFY(QMetaObject::invokeMethod(w, "windowResized", Q_ARG(int, -1000), Q_ARG(int, -1000)));
    QCOMPARE(w->geometry(), QRect(200, 150, 370, 278));

    QVERIFY(QMetaObject::invokeMethod(w, "windowResizeFinished"));
    QCOMPARE(settings()->value(QStringLiteral("iptvWindow")).toRect(), QRect(200, 150, 370, 278));
}

void TestVideoForm::moveByOffsets()
{
    settings()->setValue(QStringLiteral("iptvWindow"), QRect(100, 100, 602, 482));
    VideoForm *w = makeWindow();
    w->restoreAndShow(standIn);
    QVERIFY(QTest::qWaitForWindowExposed(w, 30000));

    // The scenes call both forms; the offset does not take part.
    QVERIFY(QMetaObject::invokeMethod(w, "windowMoved", Q_ARG(int, 5), Q_ARG(int, 7)));
    QCOMPARE(w->geometry(), QRect(105, 107, 602, 482));
    QVERIFY(QMetaObject::invokeMethod(w, "windowMoved", Q_ARG(int, 5), Q_ARG(int, 7), Q_ARG(int, 10)));
    QCOMPARE(w->geometry(), QRect(110, 114, 602, 482));

    QVERIFY(QMetaObject::invokeMethod(w, "windowMoveFinished"));
    QCOMPARE(settings()->value(QStringLiteral("iptvWindow")).toRect(), QRect(110, 114, 602, 482));
    // The position reaches the X server, not only Qt's bookkeeping.
    QTRY_COMPARE_WITH_TIMEOUT(w->position(), QPoint(110, 114), 20000);
}

void TestVideoForm::fullscreenTwice()
{
    settings()->setValue(QStringLiteral("iptvWindow"), QRect(120, 90, 640, 480));
    VideoForm *w = makeWindow();
    w->restoreAndShow(standIn);
    QVERIFY(QTest::qWaitForWindowExposed(w, 30000));

    QSignalSpy spy(w, &VideoForm::isFullscreenChanged);
    w->toggleFullscreen();
    QVERIFY(w->isFullscreen());
    QVERIFY(w->property("isFullscreen").toBool());
    QCOMPARE(spy.count(), 1);

    w->toggleFullscreen();
    QVERIFY(!w->isFullscreen());
    QCOMPARE(spy.count(), 2);
    QCOMPARE(w->windowStates(), Qt::WindowStates(Qt::WindowNoState));
    QTRY_COMPARE_WITH_TIMEOUT(w->geometry(), QRect(120, 90, 640, 480), 20000);
}

void TestVideoForm::quitInFullscreenStoresNormalGeometry()
{
    settings()->setValue(QStringLiteral("iptvWindow"), QRect(120, 90, 640, 480));
    VideoForm *w = makeWindow();
    w->restoreAndShow(standIn);
    QVERIFY(QTest::qWaitForWindowExposed(w, 30000));

    w->toggleFullscreen();
    // What a window manager does on full screen; Xvfb runs none.
    const QRect screen = w->screen()->geometry();
    w->setGeometry(screen);
    QTRY_COMPARE_WITH_TIMEOUT(w->geometry(), screen, 20000);

    w->storeGeometry();
    QCOMPARE(settings()->value(QStringLiteral("iptvWindow")).toRect(), QRect(120, 90, 640, 480));

    w->toggleFullscreen();
    QTRY_COMPARE_WITH_TIMEOUT(w->geometry(), QRect(120, 90, 640, 480), 20000);
    w->storeGeometry();
    QCOMPARE(settings()->value(QStringLiteral("iptvWindow")).toRect(), QRect(120, 90, 640, 480));
}

void TestVideoForm::minimiseNotifiesAndKeepsNormalGeometry()
{
    settings()->setValue(QStringLiteral("iptvWindow"), QRect(300, 200, 640, 480));
    VideoForm *w = makeWindow();
    w->restoreAndShow(standIn);
    QVERIFY(QTest::qWaitForWindowExposed(w, 30000));

    QSignalSpy spy(w, &VideoForm::isFullscreenChanged);
    QVERIFY(QMetaObject::invokeMethod(w, "minimize"));
    QTRY_VERIFY_WITH_TIMEOUT(w->windowStates().testFlag(Qt::WindowMinimized), 20000);
    QVERIFY(spy.count() >= 1);
    QVERIFY(!w->isFullscreen());
    w->storeGeometry();
    QCOMPARE(settings()->value(QStringLiteral("iptvWindow")).toRect(), QRect(300, 200, 640, 480));
}

void TestVideoForm::stayOnTop()
{
    VideoForm *w = makeWindow();
    w->restoreAndShow(standIn);
    QVERIFY(QTest::qWaitForWindowExposed(w, 30000));
    const Qt::WindowFlags before = w->flags();
    QVERIFY(!w->stayOnTop());

    QSignalSpy spy(w, &VideoForm::stayOnTopChanged);
    w->setStayOnTop(false);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(w->flags(), before);

    QVERIFY(w->setProperty("stayOnTop", true));
    QCOMPARE(spy.count(), 2);
    QVERIFY(w->stayOnTop());
    QCOMPARE(w->flags(), before | Qt::WindowStaysOnTopHint);

    w->setStayOnTop(false);
    QCOMPARE(spy.count(), 3);
    QCOMPARE(w->flags(), before);
    QVERIFY(w->isVisible());
    // Not persisted.
    QVERIFY(!settings()->contains(QStringLiteral("stayOnTop")));
}

void TestVideoForm::openAndLoadIptv()
{
    VideoForm *w = makeWindow();
    QSignalSpy dropped(w, &VideoForm::dropped);
    QSignalSpy iptv(w, &VideoForm::iptvModeRequested);

    QVERIFY(QMetaObject::invokeMethod(w, "open", Q_ARG(QList<QUrl>, QList<QUrl>())));
    QCOMPARE(dropped.count(), 1);
    QCOMPARE(dropped.at(0).at(0).value<QList<QUrl>>(), QList<QUrl>());

    const QList<QUrl> urls{QUrl::fromLocalFile(QStringLiteral("/tmp/a.avi")),
                           QUrl(QStringLiteral("iptvurl://host/ch"))};
    w->open(urls);
    QCOMPARE(dropped.count(), 2);
    QCOMPARE(dropped.at(1).at(0).value<QList<QUrl>>(), urls);

    QVERIFY(QMetaObject::invokeMethod(w, "loadIptv"));
    QCOMPARE(iptv.count(), 1);
    QCOMPARE(dropped.count(), 2);
}

void TestVideoForm::contextDefaults()
{
    VideoForm *w = makeWindow();
    QCOMPARE(context("viewer").value<QObject *>(), w);
    QCOMPARE(context("config").value<QObject *>(), config.get());
    QCOMPARE(context("shortVersion").toString(), QStringLiteral("2.0.4"));
    QVERIFY(!context("platform").toString().isEmpty());
    QVERIFY(context("compositionEnabled").isValid());
    QCOMPARE(context("playlistModel").value<QObject *>(), config->playlistModel());
    QCOMPARE(context("jtvModel").value<QObject *>(), config->jtvModel());
    QCOMPARE(context("currentItem").value<QObject *>(),
             static_cast<QObject *>(const_cast<PlaylistModelItem *>(&w->currentItem())));
    QVERIFY(w->currentItem().empty());

    // A fresh store.
    QCOMPARE(context("initialPlaylistState").toBool(), true);
    QCOMPARE(context("initialVolume").toInt(), 50);
    QCOMPARE(context("initialDeinterlacing").toInt(), 6);
    QCOMPARE(context("initialAspectRatio").toInt(), 0);
    QCOMPARE(context("initialCropRatio").toInt(), 0);
    QCOMPARE(context("preferredAudioLanguages").toStringList(), QStringList());
    QCOMPARE(context("preferredSubtitlesLanguages").toStringList(), QStringList());
    QCOMPARE(qgetenv("VLC_ARGS"),
             QByteArray("--intf=dummy --no-media-library --no-stats --no-osd --no-loop "
                        "--no-video-title-show --drop-late-frames --network-caching=1000"));
    QCOMPARE(w->resizeMode(), QQuickView::SizeRootObjectToView);
}

void TestVideoForm::preferencesReread()
{
    settings()->setValue(QStringLiteral("networkCaching"), 2500);
    settings()->setValue(QStringLiteral("playerPlaylistState"), false);
    VideoForm *w = makeWindow();
    QVERIFY(qgetenv("VLC_ARGS").endsWith(" --drop-late-frames --network-caching=2500"));
    QCOMPARE(context("initialPlaylistState").toBool(), false);

    settings()->setValue(QStringLiteral("playerVolume"), 130);
    settings()->setValue(QStringLiteral("preferredAudioLanguage"), QStringLiteral("rus"));
    settings()->setValue(QStringLiteral("preferredSubtitlesLanguage"),
                         QStringList{QStringLiteral("eng"), QStringLiteral("ger")});
    settings()->setValue(QStringLiteral("deinterlacing"), 3);
    settings()->setValue(QStringLiteral("aspectRatio"), 4);
    settings()->setValue(QStringLiteral("cropRatio"), 99);  // out of range goes through
    QCOMPARE(context("initialVolume").toInt(), 50);

    QVERIFY(QMetaObject::invokeMethod(w, "updateSettings"));
    QCOMPARE(context("initialVolume").toInt(), 130);
    QCOMPARE(context("preferredAudioLanguages").toStringList(), QStringList{QStringLiteral("rus")});
    QCOMPARE(context("preferredSubtitlesLanguages").toStringList(),
             (QStringList{QStringLiteral("eng"), QStringLiteral("ger")}));
    QCOMPARE(context("initialDeinterlacing").toInt(), 3);
    QCOMPARE(context("initialAspectRatio").toInt(), 4);
    QCOMPARE(context("initialCropRatio").toInt(), 99);
}

void TestVideoForm::persistedState()
{
    VideoForm *w = makeWindow();
    QVERIFY(QMetaObject::invokeMethod(w, "saveVolume", Q_ARG(double, 72.6)));
    QCOMPARE(settings()->value(QStringLiteral("playerVolume")).toInt(), 73);
    QVERIFY(QMetaObject::invokeMethod(w, "savePlaylistState", Q_ARG(bool, false)));
    QCOMPARE(settings()->value(QStringLiteral("playerPlaylistState"), true).toBool(), false);

    // Survives into the next window, as after a restart.
    settings()->sync();
    window.reset();
    config.reset(new Config);
    makeWindow();
    QCOMPARE(context("initialPlaylistState").toBool(), false);
    QCOMPARE(context("initialVolume").toInt(), 73);
}

void TestVideoForm::sceneErrorsAreLogged()
{
    VideoForm *w = makeWindow();
    QTest::ignoreMessage(QtCriticalMsg,
                         QRegularExpression(QStringLiteral("player scene could not be loaded")));
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("broken\\.qml:2")));
    w->setSource(QUrl(QStringLiteral("qrc:/player-test/broken.qml")));
    QCOMPARE(w->status(), QQuickView::Error);
}

void TestVideoForm::playerRootScene()
{
    // The program's own scenes, compiled into the resources by the scene library.
    VideoForm *w = makeWindow();
    w->restoreAndShow();
    QVERIFY(QTest::qWaitForWindowExposed(w, 30000));
    QCOMPARE(w->source(), QUrl(QStringLiteral("qrc:/qml/videoFormLoader.qml")));
    QCOMPARE(w->status(), QQuickView::Ready);
    QVERIFY(w->errors().isEmpty());
    // The loader scene loads the player scene in the background and then reports.
    QTRY_VERIFY_WITH_TIMEOUT(w->formLoaded(), 60000);
    const bool composition = context("compositionEnabled").toBool();
    QCOMPARE(w->minimumSize(), composition ? QSize(388, 296) : QSize(370, 278));
    QCOMPARE(w->geometry(), QRect(0, 0, 602, 482));
}

void TestVideoForm::filterModels()
{
    makeWindow();
    auto *search = qobject_cast<QSortFilterProxyModel *>(context("playlistSearchModel").value<QObject *>());
    auto *favourites = qobject_cast<QSortFilterProxyModel *>(context("playlistFavouritesModel").value<QObject *>());
    QVERIFY(search);
    QVERIFY(favourites);
    QAbstractItemModelTester searchTester(search, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester favouritesTester(favourites, QAbstractItemModelTester::FailureReportingMode::QtTest);

    PlaylistModel *model = config->playlistModel();
    model->append(QList<PlaylistModelItem *>{
            new PlaylistModelItem(1, QStringLiteral("Первый канал"), QUrl(QStringLiteral("http://h/1")),
                                  QStringLiteral("A"), QString(), 0, false),
            new PlaylistModelItem(2, QStringLiteral("World News"), QUrl(QStringLiteral("http://h/2")),
                                  QStringLiteral("A"), QString(), 0, true),
            new PlaylistModelItem(3, QStringLiteral("NEWS 24"), QUrl(QStringLiteral("http://h/3")),
                                  QStringLiteral("B"), QString(), 0, false),
    });
    QCOMPARE(search->rowCount(), 3);
    search->setFilterFixedString(QStringLiteral("news"));
    QCOMPARE(search->rowCount(), 2);
    search->setFilterFixedString(QStringLiteral("ПЕРВЫЙ"));
    QCOMPARE(search->rowCount(), 1);
    QCOMPARE(search->data(search->index(0, 0), PlaylistModel::IdRole).toInt(), 1);

    QCOMPARE(favourites->rowCount(), 1);
    QCOMPARE(favourites->data(favourites->index(0, 0), PlaylistModel::IdRole).toInt(), 2);
    model->setData(2, true, PlaylistModel::FavouriteRole);
    QCOMPARE(favourites->rowCount(), 2);
    model->setData(1, false, PlaylistModel::FavouriteRole);
    QCOMPARE(favourites->rowCount(), 1);
    QCOMPARE(favourites->data(favourites->index(0, 0), PlaylistModel::IdRole).toInt(), 3);
    model->clear();
    QCOMPARE(favourites->rowCount(), 0);
    QCOMPARE(search->rowCount(), 0);
}

void TestVideoForm::settingsFormCreatedOnce()
{
    VideoForm *w = makeWindow();
    const auto dialogs = [] {
        int n = 0;
        for (QWidget *top : QApplication::topLevelWidgets())
            n += top->inherits("SettingsForm") ? 1 : 0;
        return n;
    };
    const int before = dialogs();
    QVERIFY(QMetaObject::invokeMethod(w, "showSettingsForm"));
    QCOMPARE(dialogs(), before + 1);
    QVERIFY(QMetaObject::invokeMethod(w, "showSettingsForm"));
    QCOMPARE(dialogs(), before + 1);
    QWidget *dialog = nullptr;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->inherits("SettingsForm") && top->isVisible())
            dialog = top;
    QVERIFY(dialog);

    // The dialog's announcement reaches the scene's context.
    settings()->setValue(QStringLiteral("deinterlacing"), 2);
    QVERIFY(QMetaObject::invokeMethod(dialog, "settingsUpdated"));
    QCOMPARE(context("initialDeinterlacing").toInt(), 2);
    // The window never deletes it; the store it uses goes with the Config below.
    window.reset();
    delete dialog;
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Novaline"));
    QCoreApplication::setApplicationName(QStringLiteral("IPTV"));
    TestVideoForm test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_videoform.moc"
