// The module without an X display (offscreen platform, software scene graph), so
// it also runs in the sanitizers build: registration and enums, the URL
// allowlist, the track model, the frame sink driven like libVLC drives it, and
// playback with create/destroy cycles.
#include "vlccore_p.h"
#include "vlcframesink_p.h"
#include "vlclanguages_p.h"
#include "vlctesthelpers.h"
#include "vlctrackmodel.h"

#include <QAbstractItemModelTester>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace vlctest;

class TestOffscreen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void qmlModule();
    void allowedUrls_data();
    void allowedUrls();
    void trackModel();
    void libVlcErrorsOncePerMedia();
    void visibleSizeGuess_data();
    void visibleSizeGuess();
    void frameSink();
    void retiredPort();
    void pausedRepeats_data();
    void pausedRepeats();
    void pictureBuffersOffTheHeap();
    void renegotiation_data();
    void renegotiation();
    void oversizedFormat_data();
    void oversizedFormat();
    void oversizedFormatFailsPlayback();
    void languageCodes_data();
    void languageCodes();
    void softwarePicture();
    void createDestroy();
};

void TestOffscreen::initTestCase()
{
    setTestVlcArgs();
    VlcQml::registerTypes();
    VlcQml::registerTypes(); // a second call is harmless
}

void TestOffscreen::qmlModule()
{
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQuick 2.12\nimport VLCQt 1.1\n"
                      "Item {\n"
                      "  property var values: [Vlc.Original, Vlc.Ignore, Vlc.R_16_9, Vlc.R_16_10, Vlc.R_185_100,\n"
                      "    Vlc.R_221_100, Vlc.R_235_100, Vlc.R_239_100, Vlc.R_4_3, Vlc.R_5_4, Vlc.R_5_3, Vlc.R_1_1,\n"
                      "    Vlc.Disabled, Vlc.Discard, Vlc.Blend, Vlc.Mean, Vlc.Bob, Vlc.Linear, Vlc.X, Vlc.Yadif,\n"
                      "    Vlc.Yadif2x, Vlc.Phospor, Vlc.IVTC,\n"
                      "    Vlc.Idle, Vlc.Opening, Vlc.Buffering, Vlc.Playing, Vlc.Paused, Vlc.Stopped, Vlc.Ended, Vlc.Error]\n"
                      "  VlcPlayer { id: p; objectName: 'p'; volume: 120; deinterlacing: Vlc.Yadif }\n"
                      "  VlcVideoOutput { source: p; aspectRatio: Vlc.R_4_3; cropRatio: Vlc.R_1_1 }\n"
                      "  property int tracks: p.audioTrackModel.count + p.videoTrackModel.count + p.subtitleTrackModel.count\n"
                      "}\n",
                      QUrl());
    std::unique_ptr<QObject> root(component.create());
    QVERIFY2(root, qPrintable(component.errorString()));
    QVariantList expected;
    for (int i = 0; i <= 11; ++i)
        expected << i;
    for (int i = 0; i <= 10; ++i)
        expected << i;
    for (int i = 0; i <= 7; ++i)
        expected << i;
    QCOMPARE(root->property("values").toList(), expected);
    QCOMPARE(root->property("tracks").toInt(), 0);
    auto *player = root->findChild<VlcPlayer *>(QStringLiteral("p"));
    QVERIFY(player);
    QCOMPARE(player->volume(), 120);
    QCOMPARE(player->deinterlacing(), int(Vlc::Yadif));
    QCOMPARE(player->state(), int(Vlc::Idle));
    QVERIFY(player->autoplay());

    QQmlComponent bad(&engine);
    bad.setData("import VLCQt 1.1\nVlc {}\n", QUrl());
    QVERIFY(!bad.create());

    QCOMPARE(Vlc::ratioValue(Vlc::R_16_9), 16.0 / 9.0);
    QCOMPARE(Vlc::ratioValue(Vlc::Original), 0.0);
    QCOMPARE(Vlc::ratioValue(99), 0.0);
    QCOMPARE(QByteArray(Vlc::deinterlacingName(Vlc::Phospor)), QByteArray("phosphor"));
    QCOMPARE(QByteArray(Vlc::deinterlacingName(Vlc::Yadif2x)), QByteArray("yadif2x"));
    QCOMPARE(QByteArray(Vlc::deinterlacingName(Vlc::Disabled)), QByteArray());
}

void TestOffscreen::allowedUrls_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("file") << "file:///tmp/a.ts" << true;
    QTest::newRow("bare absolute path") << "/tmp/a.ts" << true;
    QTest::newRow("http") << "http://example.com/a.ts" << true;
    QTest::newRow("HTTPS upper case") << "HTTPS://example.com/a.m3u8" << true;
    QTest::newRow("udp multicast") << "udp://@239.0.0.1:1234" << true;
    QTest::newRow("udp any") << "udp://@:1234" << true;
    QTest::newRow("rtp") << "rtp://@239.0.0.1:5004" << true;
    QTest::newRow("rtsp") << "rtsp://cam.local/stream" << true;
    QTest::newRow("rtmp") << "rtmp://host/app/key" << true;
    QTest::newRow("mms") << "mms://host/stream" << true;
    QTest::newRow("mmsh") << "mmsh://host/stream" << true;
    QTest::newRow("ftp") << "ftp://host/a.ts" << false;
    QTest::newRow("vlc") << "vlc://quit" << false;
    QTest::newRow("dvd") << "dvd:///dev/sr0" << false;
    QTest::newRow("v4l2") << "v4l2:///dev/video0" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("relative") << "a.ts" << false;
    QTest::newRow("rtsp without host") << "rtsp:///x" << false;
    QTest::newRow("file with host") << "file://server/share/a.ts" << false;
}

void TestOffscreen::allowedUrls()
{
    QFETCH(QString, url);
    QFETCH(bool, allowed);
    QCOMPARE(VlcPlayer::isAllowedUrl(QUrl(url)), allowed);
}

void TestOffscreen::libVlcErrorsOncePerMedia()
{
    // What one media logs, what the next one adds: repeats stay out of the log.
    VlcCore::newMediaForLog();
    const QList<std::pair<const char *, bool>> first{
        {"no audio output", true}, {"no audio output", false}, {"decoder lost", true}, {"no audio output", false}};
    for (const auto &message : first)
        QCOMPARE(VlcCore::passLogMessage("aout", message.first), message.second);
    VlcCore::newMediaForLog();
    QCOMPARE(VlcCore::passLogMessage("aout", "no audio output"), false);  // within 30 s of the last
    QCOMPARE(VlcCore::passLogMessage("demux", "no audio output"), true);  // another module
    QCOMPARE(VlcCore::passLogMessage("demux", "no audio output"), false);
}

void TestOffscreen::trackModel()
{
    VlcTrackModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy counts(&model, &VlcTrackModel::countChanged);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

    model.setTracks({{-1, QStringLiteral("Disable")}, {256, QStringLiteral("Track 1")}});
    QCOMPARE(model.count(), 2);
    QCOMPARE(counts.count(), 1);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(model.data(model.index(1), VlcTrackModel::IdRole).toInt(), 256);
    QCOMPARE(model.data(model.index(1), VlcTrackModel::TitleRole).toString(), QStringLiteral("Track 1"));

    // A track arriving later is appended: the rows before it stay.
    model.setTracks({{-1, QStringLiteral("Disable")}, {256, QStringLiteral("Track 1")}, {257, QStringLiteral("Track 2")}});
    QCOMPARE(counts.count(), 2);
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.last().at(1).toInt(), 2);
    QCOMPARE(removed.count(), 0);

    // The same list again: nothing.
    model.setTracks(model.tracks());
    QCOMPARE(counts.count(), 2);

    // A renamed track in the middle: rows from there are replaced, count unchanged.
    model.setTracks({{-1, QStringLiteral("Disable")}, {256, QStringLiteral("English")}, {257, QStringLiteral("Track 2")}});
    QCOMPARE(counts.count(), 2);
    QCOMPARE(model.titleAt(1), QStringLiteral("English"));
    QCOMPARE(model.rowOf(257), 2);
    QCOMPARE(model.rowOf(1), -1);
    QCOMPARE(model.idAt(7), -1);

    model.setTracks({});
    QCOMPARE(model.count(), 0);
    QCOMPARE(counts.count(), 3);
}

void TestOffscreen::visibleSizeGuess_data()
{
    QTest::addColumn<QSize>("proposed");
    QTest::addColumn<QSize>("visible");
    QTest::newRow("720 padded") << QSize(1280, 738) << QSize(1280, 720);
    QTest::newRow("1080 padded") << QSize(1920, 1090) << QSize(1920, 1080);
    QTest::newRow("1080 coded") << QSize(1920, 1088) << QSize(1920, 1080);
    QTest::newRow("360 padded") << QSize(640, 386) << QSize(640, 360);
    QTest::newRow("576 exact") << QSize(720, 576) << QSize(720, 576);
    QTest::newRow("odd size kept") << QSize(500, 333) << QSize(500, 333);
}

void TestOffscreen::visibleSizeGuess()
{
    QFETCH(QSize, proposed);
    QFETCH(QSize, visible);
    unsigned w = 0, h = 0;
    VlcFrameSink::guessVisibleSize(unsigned(proposed.width()), unsigned(proposed.height()), &w, &h);
    QCOMPARE(QSize(int(w), int(h)), visible);
}

// Receives the sink's queued notifications like the output does.
class Receiver : public QObject
{
    Q_OBJECT
public:
    int calls = 0;
    Q_INVOKABLE void frameAvailable() { ++calls; }
};

void TestOffscreen::frameSink()
{
    auto sink = std::make_shared<VlcFrameSink>();
    Receiver receiver;
    sink->setReceiver(&receiver);
    void *opaque = sink.get();

    // Negotiation as libVLC does it: hardware proposals first, padded size last.
    char chroma[5] = "VAOP";
    unsigned w = 1280, h = 720, pitches[3], lines[3];
    QCOMPARE(VlcFrameSink::formatCallback(&opaque, chroma, &w, &h, pitches, lines), 1u);
    std::memcpy(chroma, "I420", 4);
    w = 1280;
    h = 738;
    sink->setWantYuv(true);
    QCOMPARE(VlcFrameSink::formatCallback(&opaque, chroma, &w, &h, pitches, lines), 1u);
    QCOMPARE(QByteArray(chroma, 4), QByteArray("I420"));
    QCOMPARE(w, 1280u);
    QCOMPARE(h, 720u);
    QVERIFY(pitches[0] >= 1280 && pitches[0] % 32 == 0);
    QVERIFY(pitches[1] >= 640 && lines[1] >= 360);

    // lock -> unlock -> display, several pictures before the renderer looks.
    auto picture = [&](uint8_t value) {
        void *planes[3] = {};
        void *id = VlcFrameSink::lockCallback(opaque, planes);
        for (int i = 0; i < 3; ++i)
            std::memset(planes[i], value, size_t(pitches[i]) * lines[i]);
        VlcFrameSink::unlockCallback(opaque, id, planes);
        VlcFrameSink::displayCallback(opaque, id);
        return id;
    };
    picture(1);
    picture(2);
    picture(3);
    QTRY_COMPARE(receiver.calls, 1); // coalesced into one queued call
    int fw = 0, fh = 0;
    unsigned sn = 0, sd = 0;
    sink->acknowledge(&fw, &fh, &sn, &sd);
    QCOMPARE(QSize(fw, fh), QSize(1280, 720));

    VlcFrame frame = sink->takeLatest();
    QVERIFY(frame.buffer);
    QCOMPARE(frame.buffer->planes[0][0], uint8_t(3)); // the newest
    QVERIFY(frame.format.yuv);
    QVERIFY(!sink->takeLatest().buffer); // nothing new since

    // While the renderer holds a picture, VLC never gets it to write into.
    for (int i = 0; i < 20; ++i) {
        void *planes[3] = {};
        void *id = VlcFrameSink::lockCallback(opaque, planes);
        QVERIFY(planes[0] != frame.buffer->planes[0]);
        VlcFrameSink::unlockCallback(opaque, id, planes);
        if (i % 3 == 0)
            VlcFrameSink::displayCallback(opaque, id);
    }
    QCOMPARE(frame.buffer->planes[0][0], uint8_t(3));

    // A format change (a new size) keeps the renderer's picture alive.
    sink->setWantYuv(false);
    std::memcpy(chroma, "I420", 4);
    w = 640;
    h = 386;
    QCOMPARE(VlcFrameSink::formatCallback(&opaque, chroma, &w, &h, pitches, lines), 1u);
    QCOMPARE(QByteArray(chroma, 4), QByteArray("RV32"));
    QCOMPARE(pitches[0], 640u * 4);
    QCOMPARE(frame.buffer->planes[0][0], uint8_t(3));
    picture(9);
    VlcFrame next = sink->takeLatest();
    QVERIFY(next.buffer);
    QVERIFY(!next.format.yuv);
    QCOMPARE(next.format.width, 640);
    QCOMPARE(next.buffer->planes[0][0], uint8_t(9));
    frame = VlcFrame();

    // Stopping clears the picture.
    sink->clear();
    QVERIFY(sink->takeLatest().cleared);
    VlcFrameSink::cleanupCallback(opaque);
    sink->setReceiver(nullptr);
    picture(4); // after a cleanup libVLC negotiates again; a stray picture is harmless
}

void TestOffscreen::retiredPort()
{
    // Two media players in turn on one sink: the old one, stopping in the background,
    // still writes into and displays its pictures; none of it reaches the sink.
    auto sink = std::make_shared<VlcFrameSink>();
    Receiver receiver;
    sink->setReceiver(&receiver);
    auto oldPort = std::make_shared<VlcVideoPort>(sink, nullptr);
    void *old = oldPort.get();
    char chroma[5] = "I420";
    unsigned w = 640, h = 360, pitches[3], lines[3];
    QCOMPARE(VlcVideoPort::formatCallback(&old, chroma, &w, &h, pitches, lines), 1u);
    auto picture = [](void *port, const unsigned *pitch, const unsigned *line, uint8_t value) {
        void *planes[3] = {};
        void *id = VlcVideoPort::lockCallback(port, planes);
        std::memset(planes[0], value, size_t(pitch[0]) * line[0]);
        VlcVideoPort::unlockCallback(port, id, planes);
        VlcVideoPort::displayCallback(port, id);
    };
    picture(old, pitches, lines, 1);
    VlcFrame shown = sink->takeLatest();
    QVERIFY(shown.buffer);
    QCOMPARE(shown.buffer->planes[0][0], uint8_t(1));
    void *held[3] = {};
    void *heldId = VlcVideoPort::lockCallback(old, held); // decoding into it
    oldPort->retire();
    sink->clear();
    QVERIFY(sink->takeLatest().cleared);

    // The next player negotiates another size on the same sink.
    auto newPort = std::make_shared<VlcVideoPort>(sink, nullptr);
    void *fresh = newPort.get();
    unsigned pitches2[3], lines2[3];
    w = 1280;
    h = 720;
    QCOMPARE(VlcVideoPort::formatCallback(&fresh, chroma, &w, &h, pitches2, lines2), 1u);
    std::memset(held[0], 7, size_t(pitches[0]) * lines[0]); // still its own memory
    VlcVideoPort::displayCallback(old, heldId);
    picture(old, pitches, lines, 8);
    QVERIFY(!sink->takeLatest().buffer);
    // A new format of its own is had, and shown to nobody.
    w = 320;
    h = 180;
    QCOMPARE(VlcVideoPort::formatCallback(&old, chroma, &w, &h, pitches, lines), 1u);
    picture(old, pitches, lines, 9);
    QVERIFY(!sink->takeLatest().buffer);

    picture(fresh, pitches2, lines2, 5);
    VlcFrame next = sink->takeLatest();
    QVERIFY(next.buffer);
    QCOMPARE(next.format.width, 1280);
    QCOMPARE(next.buffer->planes[0][0], uint8_t(5));
    // The old player's end lets go of its own pictures only.
    VlcVideoPort::cleanupCallback(old);
    oldPort.reset();
    picture(fresh, pitches2, lines2, 6);
    QCOMPARE(sink->takeLatest().buffer->planes[0][0], uint8_t(6));
    shown = VlcFrame();
    sink->setReceiver(nullptr);
}

void TestOffscreen::pausedRepeats_data()
{
    QTest::addColumn<bool>("paused");
    QTest::addColumn<bool>("taken");     // the renderer took the first picture already
    QTest::addColumn<uint8_t>("repeat"); // content of the second picture; the first is 7
    QTest::addColumn<bool>("shown");     // the second picture reaches the renderer
    QTest::newRow("playing, same picture") << false << true << uint8_t(7) << true;
    QTest::newRow("paused, same picture") << true << true << uint8_t(7) << false;
    QTest::newRow("paused, same picture, first not taken") << true << false << uint8_t(7) << true;
    QTest::newRow("paused, new picture (a seek)") << true << true << uint8_t(8) << true;
}

void TestOffscreen::pausedRepeats()
{
    QFETCH(bool, paused);
    QFETCH(bool, taken);
    QFETCH(uint8_t, repeat);
    QFETCH(bool, shown);
    VlcFrameSink sink;
    void *opaque = &sink;
    char chroma[5] = "I420";
    unsigned w = 320, h = 180, pitches[3], lines[3];
    QCOMPARE(VlcFrameSink::formatCallback(&opaque, chroma, &w, &h, pitches, lines), 1u);
    auto picture = [&](uint8_t value) {
        void *planes[3] = {};
        void *id = VlcFrameSink::lockCallback(opaque, planes);
        std::memset(planes[0], value, size_t(pitches[0]) * lines[0]);
        VlcFrameSink::displayCallback(opaque, id);
    };
    sink.setPaused(paused);
    picture(7);
    VlcFrame first;
    if (taken)
        first = sink.takeLatest();
    picture(repeat);
    const VlcFrame second = sink.takeLatest();
    QCOMPARE(bool(second.buffer), shown);
    if (shown)
        QCOMPARE(second.buffer->planes[0][0], repeat);
    VlcFrameSink::cleanupCallback(opaque);
}

void TestOffscreen::pictureBuffersOffTheHeap()
{
#if !defined(__GLIBC__) || defined(__SANITIZE_ADDRESS__)
    QSKIP("glibc's own allocator only");
#else
    VlcCore::keepPicturesOffTheHeap();
    // Freeing a large block must not make the next one of its size come from a heap.
    const size_t size = size_t(4) << 20;
    // volatile: the compiler may drop a block nobody looks at.
    void *volatile first = malloc(size);
    free(first);
    void *volatile block = malloc(size);
    const size_t mapped = mallinfo2().hblkhd;
    free(block);
    QVERIFY2(mapped >= size, "a picture-sized block came from the heap");
#endif
}

void TestOffscreen::renegotiation_data()
{
    QTest::addColumn<QList<QSize>>("proposals"); // in order, without a size probe
    QTest::addColumn<QSize>("negotiated");       // the last one's result
    QTest::newRow("start: coded, then padded") << QList<QSize>{{1280, 720}, {1280, 738}} << QSize(1280, 720);
    QTest::newRow("variant up") << QList<QSize>{{1280, 738}, {1920, 1088}} << QSize(1920, 1080);
    QTest::newRow("variant up, same width") << QList<QSize>{{1280, 738}, {1280, 1024}} << QSize(1280, 1024);
    QTest::newRow("variant down") << QList<QSize>{{1920, 1088}, {640, 386}} << QSize(640, 360);
    QTest::newRow("up and back") << QList<QSize>{{640, 386}, {1280, 738}, {640, 386}} << QSize(640, 360);
}

void TestOffscreen::renegotiation()
{
    QFETCH(QList<QSize>, proposals);
    QFETCH(QSize, negotiated);
    VlcFrameSink sink;
    void *opaque = &sink;
    unsigned w = 0, h = 0, pitches[3], lines[3];
    for (const QSize &p : proposals) {
        char chroma[5] = "I420";
        w = unsigned(p.width());
        h = unsigned(p.height());
        QCOMPARE(VlcFrameSink::formatCallback(&opaque, chroma, &w, &h, pitches, lines), 1u);
    }
    QCOMPARE(QSize(int(w), int(h)), negotiated);
}

void TestOffscreen::oversizedFormat_data()
{
    QTest::addColumn<QSize>("proposed");
    QTest::addColumn<bool>("yuv");
    QTest::newRow("16384 square") << QSize(16384, 16384) << false;
    QTest::newRow("too wide") << QSize(8208, 64) << true;
    QTest::newRow("too tall") << QSize(64, 9000) << false;
}

void TestOffscreen::oversizedFormat()
{
    QFETCH(QSize, proposed);
    QFETCH(bool, yuv);
    VlcFrameSink sink;
    sink.setWantYuv(yuv);
    QStringList refusals;
    sink.setRefusalHandler([&refusals](const char *why) { refusals << QString::fromUtf8(why); });
    void *opaque = &sink;
    char chroma[5] = "I420";
    unsigned w = unsigned(proposed.width()), h = unsigned(proposed.height()), pitches[3], lines[3];
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("video format .* refused")));
    QCOMPARE(VlcFrameSink::formatCallback(&opaque, chroma, &w, &h, pitches, lines), 0u);
    QCOMPARE(refusals.size(), 1);
}

void TestOffscreen::oversizedFormatFailsPlayback()
{
    // libVLC itself gives up on such streams before proposing them: the proposal is
    // made here, on the playing player's sink, as libVLC's thread would.
    const QString dir = media(QStringLiteral("live"), 2);
    VlcPlayer player;
    player.setUrl(QUrl::fromLocalFile(dir + QStringLiteral("/live.ts")));
    QTRY_COMPARE_WITH_TIMEOUT(player.state(), int(Vlc::Playing), 30000);
    void *opaque = player.frameSink().get();
    char chroma[5] = "I420";
    unsigned w = 16384, h = 16384, pitches[3], lines[3];
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("video format .* refused")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot play .*larger than a display")));
    QCOMPARE(VlcFrameSink::formatCallback(&opaque, chroma, &w, &h, pitches, lines), 0u);
    QTRY_COMPARE_WITH_TIMEOUT(player.state(), int(Vlc::Error), 20000);
}

void TestOffscreen::languageCodes_data()
{
    QTest::addColumn<QString>("preference");
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("matches");
    QTest::newRow("same two letters") << "ru" << "ru" << true;
    QTest::newRow("two to three") << "ru" << "rus" << true;
    QTest::newRow("three to two") << "RUS" << "ru" << true;
    QTest::newRow("prefix of another language") << "ru" << "rum" << false;
    QTest::newRow("bibliographic and terminological") << "ger" << "deu" << true;
    QTest::newRow("French three forms") << "fr" << "fra" << true;
    QTest::newRow("Romanian") << "ro" << "rum" << true;
    QTest::newRow("English is not Estonian") << "e" << "est" << false;
    QTest::newRow("unknown code, equal") << "xx" << "XX" << true;
    QTest::newRow("unknown prefix") << "xx" << "xxy" << false;
    QTest::newRow("empty preference") << "" << "" << false;
}

void TestOffscreen::languageCodes()
{
    QFETCH(QString, preference);
    QFETCH(QString, code);
    QFETCH(bool, matches);
    QCOMPARE(VlcLanguages::codeMatches(preference, code), matches);
    // Through the ranking: a Romanian track first must not take a Russian preference.
    const QVector<VlcTrackModel::Track> tracks{{-1, QStringLiteral("Disable")}, {1, QStringLiteral("Track 1")}};
    int rank = 0;
    QCOMPARE(VlcLanguages::bestTrack(tracks, {{1, code}}, {preference}, &rank), matches ? 1 : -2);
}

void TestOffscreen::softwarePicture()
{
    const QString dir = media(QStringLiteral("live"), 2);
    QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    Scene scene(QSize(320, 180));
    QCOMPARE(scene.view->rendererInterface()->graphicsApi(), QSGRendererInterface::Software);
    scene.player->setUrl(QUrl::fromLocalFile(dir + QStringLiteral("/live.ts")));
    QTRY_COMPARE_WITH_TIMEOUT(scene.player->state(), int(Vlc::Playing), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(scene.output->sourceSize(), QSize(640, 360), 30000);
    QCOMPARE(scene.output->renderPath(), QStringLiteral("rgb"));
    QString why;
    QTRY_VERIFY2_WITH_TIMEOUT(showsPattern(scene.grab(), scene.output->paintedRect(), &why), qPrintable(why), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(scene.player->state(), int(Vlc::Ended), 30000);
}

void TestOffscreen::createDestroy()
{
    const QString dir = media(QStringLiteral("live"), 2);
    QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    const QUrl clip = QUrl::fromLocalFile(dir + QStringLiteral("/live.ts"));
    for (int i = 0; i < 6; ++i) {
        Scene scene(QSize(160, 90));
        scene.player->setUrl(clip);
        if (i % 3 == 1)
            QTRY_COMPARE_WITH_TIMEOUT(scene.player->state(), int(Vlc::Playing), 30000);
        if (i % 3 == 2) {
            QTRY_VERIFY_WITH_TIMEOUT(!scene.output->sourceSize().isEmpty(), 30000);
            scene.player->stop();
            scene.player->play();
            QCOMPARE(scene.player->state(), int(Vlc::Opening));
        }
    }
    // A player alone, switched, paused and gone.
    VlcPlayer player;
    player.setUrl(clip);
    QTRY_COMPARE_WITH_TIMEOUT(player.state(), int(Vlc::Playing), 30000);
    player.pause();
    QTRY_COMPARE_WITH_TIMEOUT(player.state(), int(Vlc::Paused), 20000);
    player.setUrl(QUrl());
    QCOMPARE(player.state(), int(Vlc::Stopped));
}

QTEST_MAIN(TestOffscreen)
#include "tst_vlcqt_offscreen.moc"
