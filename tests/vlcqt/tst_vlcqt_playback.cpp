// Plays generated clips through VlcPlayer + VlcVideoOutput in a window on the X
// display: picture colours, geometry, seeking, end, pause, volume, deinterlacing.
#include "vlctesthelpers.h"

#include <QOpenGLContext>

using namespace vlctest;

class TestPlayback : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void picture_data();
    void picture();
    void translucent_data();
    void translucent();
    void seekPauseEnd();
    void volume();
    void aspectAndCrop();
    void deinterlacing_data();
    void deinterlacing();

private:
    QString m_media;
    // Keeps one libVLC instance for the whole run (starting one takes a while).
    std::unique_ptr<VlcPlayer> m_keeper;
};

void TestPlayback::initTestCase()
{
    setTestVlcArgs();
    m_media = media(QStringLiteral("clip-720p,clip-1080p,sd,interlaced"));
    m_keeper.reset(new VlcPlayer);
}

void TestPlayback::picture_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QSize>("size");
    QTest::newRow("720p planar") << "clip-720p.ts" << QByteArray("yuv") << QSize(1280, 720);
    QTest::newRow("720p rgb") << "clip-720p.ts" << QByteArray("rgb") << QSize(1280, 720);
    QTest::newRow("1080p planar") << "clip-1080p.ts" << QByteArray("yuv") << QSize(1920, 1080);
    QTest::newRow("576 planar") << "sd.ts" << QByteArray("yuv") << QSize(720, 576);
}

void TestPlayback::picture()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, path);
    QFETCH(QSize, size);
    qputenv("VLCQT_VIDEO_PATH", path);
    Scene scene;
    QSignalSpy states(scene.player, &VlcPlayer::stateChanged);
    scene.player->setUrl(QUrl::fromLocalFile(m_media + QLatin1Char('/') + file));
    QCOMPARE(scene.player->state(), int(Vlc::Opening));
    QTRY_COMPARE_WITH_TIMEOUT(scene.player->state(), int(Vlc::Playing), 30000);
    // The decoder's padding is not shown: the picture has the stream's real size.
    QTRY_COMPARE_WITH_TIMEOUT(scene.output->sourceSize(), size, 20000);
    QCOMPARE(scene.output->renderPath(), QString::fromLatin1(path));
    const QRectF painted = scene.output->paintedRect();
    QVERIFY(!painted.isEmpty());
    QString why;
    QTRY_VERIFY2_WITH_TIMEOUT(showsPattern(scene.grab(), painted, &why), qPrintable(why), 20000);
    // The picture is letterboxed into the item (640x360 window).
    const qreal dar = qreal(size.width()) / size.height();
    QCOMPARE(painted.width() / painted.height(), dar);
    scene.player->stop();
    QCOMPARE(scene.player->state(), int(Vlc::Stopped));
    qunsetenv("VLCQT_VIDEO_PATH");
}

void TestPlayback::translucent_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("coreProfile");
    QTest::newRow("planar") << QByteArray("yuv") << false;
    QTest::newRow("planar, core profile") << QByteArray("yuv") << true;
    QTest::newRow("rgb") << QByteArray("rgb") << false;
    QTest::newRow("rgb, core profile") << QByteArray("rgb") << true;
}

void TestPlayback::translucent()
{
    // The output at half opacity over white: the red corner shows pink.
    QFETCH(QByteArray, path);
    QFETCH(bool, coreProfile);
    const QSurfaceFormat original = QSurfaceFormat::defaultFormat();
    if (coreProfile) {
        QSurfaceFormat core = original;
        core.setVersion(3, 2);
        core.setProfile(QSurfaceFormat::CoreProfile);
        QSurfaceFormat::setDefaultFormat(core);
    }
    qputenv("VLCQT_VIDEO_PATH", path);
    Scene scene;
    QSurfaceFormat::setDefaultFormat(original);
    qunsetenv("VLCQT_VIDEO_PATH");
    if (coreProfile && scene.view->openglContext()
        && scene.view->openglContext()->format().profile() != QSurfaceFormat::CoreProfile)
        QSKIP("no core-profile context on this display");
    scene.view->rootObject()->setProperty("color", QColor(Qt::white));
    scene.output->setOpacity(0.5);
    scene.player->setUrl(QUrl::fromLocalFile(m_media + QStringLiteral("/clip-720p.ts")));
    QTRY_COMPARE_WITH_TIMEOUT(scene.output->renderPath(), QString::fromLatin1(path), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!scene.output->paintedRect().isEmpty(), 30000);
    const QRectF r = scene.output->paintedRect();
    const QPoint at(int(r.x() + 0.15 * r.width()), int(r.y() + 0.15 * r.height()));
    QColor seen;
    QTRY_VERIFY2_WITH_TIMEOUT(near(seen = scene.grab().pixelColor(at), QColor(255, 128, 128)),
                              qPrintable(seen.name()), 20000);
}

void TestPlayback::seekPauseEnd()
{
    Scene scene;
    VlcPlayer *p = scene.player;
    QSignalSpy states(p, &VlcPlayer::stateChanged);
    QSignalSpy lengths(p, &VlcPlayer::lengthChanged);
    p->setUrl(QUrl::fromLocalFile(m_media + QStringLiteral("/clip-720p.ts")));
    QTRY_COMPARE_WITH_TIMEOUT(p->state(), int(Vlc::Playing), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(p->seekable(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(p->length() > 2500, 20000);
    QVERIFY(p->length() < 3600);

    // Seeking: the position is taken at once, the time follows.
    QSignalSpy positions(p, &VlcPlayer::positionChanged);
    p->setPosition(0.6);
    QCOMPARE(positions.count(), 1);
    QCOMPARE(p->position(), 0.6);
    QTRY_VERIFY_WITH_TIMEOUT(p->time() >= 1500, 20000);

    // Pause holds the time; play resumes.
    p->pause();
    QTRY_COMPARE_WITH_TIMEOUT(p->state(), int(Vlc::Paused), 20000);
    p->play();
    QTRY_COMPARE_WITH_TIMEOUT(p->state(), int(Vlc::Playing), 20000);

    // The end: Ended stays although libVLC follows it with Stopped.
    QTRY_COMPARE_WITH_TIMEOUT(p->state(), int(Vlc::Ended), 30000);
}

void TestPlayback::volume()
{
    Scene scene;
    VlcPlayer *p = scene.player;
    QSignalSpy volumes(p, &VlcPlayer::volumeChanged);
    p->setUrl(QUrl::fromLocalFile(m_media + QStringLiteral("/clip-720p.ts")));
    QTRY_COMPARE_WITH_TIMEOUT(p->state(), int(Vlc::Playing), 30000);

    auto backendVolume = [p] {
        QSignalSpy answers(p, &VlcPlayer::diagnostics);
        p->requestDiagnostics();
        if (!answers.wait(20000))
            return -2;
        return answers.at(0).at(0).toMap().value(QStringLiteral("acceptedVolume")).toInt();
    };
    // Above 100 is amplification and reaches libVLC as is.
    p->setVolume(150);
    QCOMPARE(p->volume(), 150);
    QCOMPARE(volumes.count(), 1);
    QCOMPARE(backendVolume(), 150);
    // More than 200 is clamped, and so is anything below 0.
    p->setVolume(250);
    QCOMPARE(p->volume(), 200);
    QCOMPARE(volumes.count(), 2);
    QCOMPARE(backendVolume(), 200);
    p->setVolume(300);
    QCOMPARE(volumes.count(), 2); // still 200: no change
    p->setVolume(-5);
    QCOMPARE(p->volume(), 0);
    QCOMPARE(backendVolume(), 0);
    QCOMPARE(volumes.count(), 3);
}

void TestPlayback::aspectAndCrop()
{
    Scene scene(QSize(640, 360));
    VlcPlayer *p = scene.player;
    VlcVideoOutput *out = scene.output;
    QSignalSpy rects(out, &VlcVideoOutput::paintedRectChanged);
    p->setUrl(QUrl::fromLocalFile(m_media + QStringLiteral("/clip-720p.ts")));
    QTRY_COMPARE_WITH_TIMEOUT(out->paintedRect(), QRectF(0, 0, 640, 360), 30000);
    QString why;
    QTRY_VERIFY2_WITH_TIMEOUT(showsPattern(scene.grab(), out->paintedRect(), &why), qPrintable(why), 20000);

    // 4:3 in a 16:9 item: pillarbox 480 wide, the whole picture squeezed into it.
    QSignalSpy aspects(out, &VlcVideoOutput::aspectRatioChanged);
    out->setAspectRatio(Vlc::R_4_3);
    QCOMPARE(aspects.count(), 1);
    QCOMPARE(out->paintedRect(), QRectF(80, 0, 480, 360));
    QTRY_VERIFY_WITH_TIMEOUT(litSpan(scene.grab(), 180) == qMakePair(80, 559), 20000);
    QVERIFY2(showsPattern(scene.grab(), out->paintedRect(), &why), qPrintable(why));

    // Crop 1:1 on top of 4:3: the middle square of the 4:3 picture, full height.
    out->setCropRatio(Vlc::R_1_1);
    QCOMPARE(out->paintedRect(), QRectF(140, 0, 360, 360));
    QTRY_VERIFY_WITH_TIMEOUT(litSpan(scene.grab(), 180) == qMakePair(140, 499), 20000);
    QVERIFY2(showsPattern(scene.grab(), out->paintedRect(), &why), qPrintable(why));

    // Back to the source's own ratio with a 16:10 crop: the picture loses a bit of
    // its sides and fills the height (576 wide).
    out->setAspectRatio(Vlc::Original);
    out->setCropRatio(Vlc::R_16_10);
    QCOMPARE(out->paintedRect(), QRectF(32, 0, 576, 360));
    QTRY_VERIFY_WITH_TIMEOUT(litSpan(scene.grab(), 180) == qMakePair(32, 607), 20000);

    // A wide ratio letterboxes top and bottom: 2.35 -> 640 x 272.34.
    out->setCropRatio(Vlc::Original);
    out->setAspectRatio(Vlc::R_235_100);
    const QRectF wide = out->paintedRect();
    QCOMPARE(wide.width(), 640.0);
    QVERIFY(qAbs(wide.height() - 640 / 2.35) < 0.01);
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(litRows(scene.grab(), 320).first - int(wide.top())) <= 1, 20000);

    // Ignore stretches over the whole item.
    out->setAspectRatio(Vlc::Ignore);
    QCOMPARE(out->paintedRect(), QRectF(0, 0, 640, 360));
    QVERIFY(rects.count() >= 5);
}

void TestPlayback::deinterlacing_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("filtered"); // the chosen algorithm runs
    QTest::newRow("interlaced, yadif") << "interlaced.ts" << int(Vlc::Yadif) << true;
    QTest::newRow("progressive, yadif") << "sd.ts" << int(Vlc::Yadif) << false;
    QTest::newRow("interlaced, off") << "interlaced.ts" << int(Vlc::Disabled) << false;
}

void TestPlayback::deinterlacing()
{
    QFETCH(QString, file);
    QFETCH(int, mode);
    QFETCH(bool, filtered);
    // libVLC announces the filter it starts, and its output's deinterlacing state,
    // in its debug messages.
    static QStringList messages;
    static QMutex lock; // libVLC logs from its own threads
    messages.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("vlcqt.libvlc.debug=true"));
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &ctx, const QString &msg) {
        if (msg.contains(QLatin1String("deinterlace"))) {
            QMutexLocker locker(&lock);
            messages << msg;
        }
        if (type != QtDebugMsg || qstrcmp(ctx.category, "vlcqt.libvlc") != 0)
            previous(type, ctx, msg);
    });
    auto logged = [](const char *text) {
        QMutexLocker locker(&lock);
        return !messages.filter(QLatin1String(text)).isEmpty();
    };
    Scene scene;
    VlcPlayer *p = scene.player;
    QSignalSpy changes(p, &VlcPlayer::deinterlacingChanged);
    p->setDeinterlacing(mode);
    QCOMPARE(changes.count(), mode == Vlc::Disabled ? 0 : 1);
    p->setUrl(QUrl::fromLocalFile(m_media + QLatin1Char('/') + file));
    QTRY_COMPARE_WITH_TIMEOUT(p->state(), int(Vlc::Playing), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(showsPattern(scene.grab(), scene.output->paintedRect()), 20000);
    if (filtered) {
        QTRY_VERIFY_WITH_TIMEOUT(logged("using yadif deinterlace method"), 20000);
        // Switching while playing reaches the running picture chain.
        p->setDeinterlacing(Vlc::Bob);
        QTRY_VERIFY2_WITH_TIMEOUT(logged("using bob deinterlace method"),
                                  qPrintable(QStringLiteral("state %1 time %2").arg(p->state()).arg(p->time())), 20000);
    } else {
        // A second of pictures, and the output never deinterlaced one.
        QTRY_VERIFY_WITH_TIMEOUT(p->time() > 1000, 20000);
        QVERIFY(logged("deinterlace "));
        QVERIFY2(!logged("deinterlace method"), qPrintable(messages.join(QLatin1Char('\n'))));
        if (mode != Vlc::Disabled)
            QVERIFY(logged("mode yadif"));
    }
    // Unknown values are refused.
    const int before = p->deinterlacing();
    p->setDeinterlacing(42);
    QCOMPARE(p->deinterlacing(), before);
    QCOMPARE(changes.count(), (mode == Vlc::Disabled ? 0 : 1) + (filtered ? 1 : 0));
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
}

QTEST_MAIN(TestPlayback)
#include "tst_vlcqt_playback.moc"
