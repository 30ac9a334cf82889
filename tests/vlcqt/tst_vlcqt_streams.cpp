// Tracks, preferred languages, refused and broken addresses, a live stream, fast
// switching and create/destroy cycles, through VlcPlayer + VlcVideoOutput in a
// window on the X display.
#include "vlctesthelpers.h"
#include "vlctrackmodel.h"

#include <QAbstractItemModelTester>
#include <QTcpServer>

#include <chrono>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

using namespace vlctest;

namespace {

// Accepts connections and leaves them alone: nothing reads or closes them here.
class HoldingServer : public QTcpServer
{
public:
    ~HoldingServer() override
    {
        for (qintptr fd : held)
            ::close(int(fd));
    }
    QList<qintptr> held;

protected:
    void incomingConnection(qintptr fd) override { held.append(fd); }
};

// Whether the peer of fd has not closed its end (what it sent is read and dropped).
bool peerConnected(qintptr fd)
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(int(fd), buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

} // namespace

class TestStreams : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void tracks_data();
    void tracks();
    void refusedSchemes_data();
    void refusedSchemes();
    void brokenSources();
    void liveStream();
    void fastSwitching();
    void switchWhileOldStops();
    void resolutionSwitch();
    void quitWhileOpening();
    void createDestroy();

private:
    QString m_media;
    QProcess m_server;
    int m_port = 0;
    std::unique_ptr<VlcPlayer> m_keeper;
};

void TestStreams::initTestCase()
{
    setTestVlcArgs();
    m_media = media(QStringLiteral("tracks,clip-720p,live,switch"));
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.start(QStringLiteral("python3"),
                   {qEnvironmentVariable("NOVALINE_SOURCE_DIR") + QStringLiteral("/tests/vlcqt/endless_server.py"),
                    m_media, QStringLiteral("3")});
    QVERIFY(m_server.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine(), 30000);
    const QByteArray line = m_server.readLine().trimmed();
    QVERIFY2(line.startsWith("PORT "), line.constData());
    m_port = line.mid(5).toInt();
    m_keeper.reset(new VlcPlayer);
}

void TestStreams::cleanupTestCase()
{
    m_server.closeWriteChannel();
    if (!m_server.waitForFinished(3000))
        m_server.kill();
}

void TestStreams::tracks_data()
{
    QTest::addColumn<QStringList>("audioPrefs");
    QTest::addColumn<QStringList>("subtitlePrefs");
    QTest::addColumn<QString>("audioTitle");   // part of the chosen audio track's title
    QTest::addColumn<bool>("subtitlesOn");
    QTest::newRow("English by title, no subtitles")
        << QStringList{QStringLiteral("English")} << QStringList{} << QStringLiteral("English") << false;
    QTest::newRow("two-letter code first, subtitles by code")
        << QStringList{QStringLiteral("Ru"), QStringLiteral("English")} << QStringList{QStringLiteral("eng")}
        << QStringLiteral("Русский") << true;
    QTest::newRow("unknown first, then the title")
        << QStringList{QStringLiteral("Deutsch"), QStringLiteral(""), QStringLiteral("English")}
        << QStringList{QStringLiteral("fr")} << QStringLiteral("English") << false;
}

void TestStreams::tracks()
{
    QFETCH(QStringList, audioPrefs);
    QFETCH(QStringList, subtitlePrefs);
    QFETCH(QString, audioTitle);
    QFETCH(bool, subtitlesOn);
    Scene scene;
    VlcPlayer *p = scene.player;
    QAbstractItemModelTester audioTester(p->audioTrackModel());
    QAbstractItemModelTester subTester(p->subtitleTrackModel());
    p->setAudioPreferredLanguages(audioPrefs);
    p->setSubtitlePreferredLanguages(subtitlePrefs);
    QSignalSpy counts(p->audioTrackModel(), &VlcTrackModel::countChanged);
    p->setUrl(QUrl::fromLocalFile(m_media + QStringLiteral("/tracks.mkv")));
    QTRY_COMPARE_WITH_TIMEOUT(p->state(), int(Vlc::Playing), 30000);

    VlcTrackModel *audio = p->audioTrackModel();
    QTRY_COMPARE_WITH_TIMEOUT(audio->count(), 3, 20000);
    QVERIFY(counts.count() >= 1);
    QCOMPARE(audio->rowCount(), 3);
    const QHash<int, QByteArray> roles = audio->roleNames();
    QCOMPARE(roles.value(VlcTrackModel::IdRole), QByteArray("id"));
    QCOMPARE(roles.value(VlcTrackModel::TitleRole), QByteArray("title"));
    QCOMPARE(audio->idAt(0), -1);
    QCOMPARE(audio->titleAt(0), QStringLiteral("Disable"));
    QVERIFY2(audio->titleAt(1).contains(QStringLiteral("Русский")), qPrintable(audio->titleAt(1)));
    QVERIFY2(audio->titleAt(2).contains(QStringLiteral("English")), qPrintable(audio->titleAt(2)));
    QTRY_COMPARE_WITH_TIMEOUT(p->subtitleTrackModel()->count(), 2, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(p->videoTrackModel()->count(), 2, 20000);
    QCOMPARE(p->videoTrackModel()->idAt(0), -1);

    // The preferred audio track plays, and libVLC agrees.
    QTRY_VERIFY2_WITH_TIMEOUT(audio->titleAt(audio->rowOf(p->audioTrack())).contains(audioTitle),
                              qPrintable(audio->titleAt(audio->rowOf(p->audioTrack()))), 20000);
    auto backend = [p](const char *key) {
        QSignalSpy answers(p, &VlcPlayer::diagnostics);
        p->requestDiagnostics();
        return answers.wait(20000) ? answers.at(0).at(0).toMap().value(QLatin1String(key)).toInt() : -99;
    };
    QTRY_COMPARE_WITH_TIMEOUT(backend("audioTrack"), p->audioTrack(), 20000);
    const int subtitleId = p->subtitleTrackModel()->idAt(1);
    QTRY_COMPARE_WITH_TIMEOUT(p->subtitleTrack(), subtitlesOn ? subtitleId : -1, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(backend("subtitleTrack"), p->subtitleTrack(), 20000);

    // The user's choice wins and sticks: "Disable" silences.
    QSignalSpy audioChanges(p, &VlcPlayer::audioTrackChanged);
    p->setAudioTrack(-1);
    QCOMPARE(p->audioTrack(), -1);
    QCOMPARE(audioChanges.count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(backend("audioTrack"), -1, 20000);
    QCOMPARE(p->audioTrack(), -1);

    // The next media starts with empty models, filled again from its own tracks.
    p->setUrl(QUrl::fromLocalFile(m_media + QStringLiteral("/clip-720p.ts")));
    QCOMPARE(audio->count(), 0);
    QCOMPARE(p->audioTrack(), -1);
    QTRY_COMPARE_WITH_TIMEOUT(audio->count(), 2, 30000); // Disable + the one AAC track (a PID)
    QVERIFY(audio->idAt(1) > 0);
}

void TestStreams::refusedSchemes_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("ftp") << "ftp://127.0.0.1/clip.ts";
    QTest::newRow("smb") << "smb://server/share/clip.ts";
    QTest::newRow("vlc internal") << "vlc://quit";
    QTest::newRow("screen capture") << "screen://";
    QTest::newRow("javascript") << "javascript:alert(1)";
    QTest::newRow("access/demux syntax") << "http/ts://127.0.0.1/clip.ts";
    QTest::newRow("relative path") << "clip.ts";
    QTest::newRow("http without host") << "http:///clip.ts";
}

void TestStreams::refusedSchemes()
{
    QFETCH(QString, url);
    Scene scene;
    VlcPlayer *p = scene.player;
    QSignalSpy states(p, &VlcPlayer::stateChanged);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refusing to open .*scheme not allowed")));
    p->setUrl(QUrl(url));
    // Refused at once, before libVLC sees anything.
    QCOMPARE(p->state(), int(Vlc::Error));
    QCOMPARE(states.count(), 1);
    // play() does not get around it.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refusing to open")));
    p->play();
    QCOMPARE(p->state(), int(Vlc::Error));
}

void TestStreams::brokenSources()
{
    // A port nobody listens on.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 closedPort = closed.serverPort();
    closed.close();
    {
        Scene scene;
        VlcPlayer *p = scene.player;
        p->setUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/clip.ts").arg(closedPort)));
        QTRY_VERIFY_WITH_TIMEOUT(p->state() == Vlc::Error || p->state() == Vlc::Ended, 30000);
    }
    // A server that accepts and never answers: our own timeout ends the wait.
    {
        Scene scene;
        VlcPlayer *p = scene.player;
        QSignalSpy timeouts(p, &VlcPlayer::openTimeoutChanged);
        p->setOpenTimeout(1500);
        QCOMPARE(timeouts.count(), 1);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("timed out after 1500 ms")));
        p->setUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/silent/clip.ts").arg(m_port)));
        QVERIFY(p->state() == Vlc::Opening || p->state() == Vlc::Buffering);
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), int(Vlc::Error), 30000);
        // The stuck stream is let go in the background; the next one plays.
        p->setUrl(QUrl::fromLocalFile(m_media + QStringLiteral("/clip-720p.ts")));
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), int(Vlc::Playing), 30000);
    }
    // A file that is not a video.
    {
        const QString junk = QDir::tempPath() + QStringLiteral("/junk.ts");
        QFile f(junk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
        Scene scene;
        scene.player->setOpenTimeout(5000);
        scene.player->setUrl(QUrl::fromLocalFile(junk));
        QTRY_VERIFY_WITH_TIMEOUT(scene.player->state() == Vlc::Error || scene.player->state() == Vlc::Ended, 30000);
    }
}

void TestStreams::liveStream()
{
    Scene scene;
    VlcPlayer *p = scene.player;
    p->setUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/live/live.ts").arg(m_port)));
    QTRY_COMPARE_WITH_TIMEOUT(p->state(), int(Vlc::Playing), 30000);
    QString why;
    QTRY_VERIFY2_WITH_TIMEOUT(showsPattern(scene.grab(), scene.output->paintedRect(), &why), qPrintable(why), 30000);
    QCOMPARE(scene.output->sourceSize(), QSize(640, 360));
    // Live: no end, no seeking.
    QVERIFY(!p->seekable());
    QCOMPARE(p->length(), qint64(0));
    QTRY_VERIFY_WITH_TIMEOUT(p->time() > 500, 30000);
    // A seek is ignored without harm.
    p->setPosition(0.5);
    QCOMPARE(p->state(), int(Vlc::Playing));
    // Stopping answers at once; the picture goes.
    p->stop();
    QCOMPARE(p->state(), int(Vlc::Stopped));
    QTRY_VERIFY_WITH_TIMEOUT(scene.output->sourceSize().isEmpty(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(litSpan(scene.grab(), 180).first, -1, 20000);
    // The stream's late events do not bring back another state.
    QTest::qWait(300);
    QCOMPARE(p->state(), int(Vlc::Stopped));
}

void TestStreams::fastSwitching()
{
    Scene scene;
    VlcPlayer *p = scene.player;
    const QList<QUrl> urls = {
        QUrl(QStringLiteral("http://127.0.0.1:%1/live/live.ts").arg(m_port)),
        QUrl::fromLocalFile(m_media + QStringLiteral("/tracks.mkv")),
        QUrl(QStringLiteral("http://127.0.0.1:%1/silent/x.ts").arg(m_port)),
        QUrl(QStringLiteral("http://127.0.0.1:%1/live/live.ts").arg(m_port)),
        QUrl::fromLocalFile(m_media + QStringLiteral("/clip-720p.ts")),
    };
    // Zapping through channels faster than they open.
    for (int round = 0; round < 3; ++round) {
        for (const QUrl &u : urls) {
            p->setUrl(u);
            QCOMPARE(p->state(), int(Vlc::Opening));
            QTest::qWait(round * 150);
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(p->state(), int(Vlc::Playing), 30000);
    QCOMPARE(p->url(), urls.last());
    QTRY_COMPARE_WITH_TIMEOUT(scene.output->sourceSize(), QSize(1280, 720), 20000);
    QString why;
    QTRY_VERIFY2_WITH_TIMEOUT(showsPattern(scene.grab(), scene.output->paintedRect(), &why), qPrintable(why), 20000);
}

void TestStreams::switchWhileOldStops()
{
    // An RTSP server that accepts and never answers: libVLC's stop of that stream
    // returns only when its own request times out, seconds later.
    HoldingServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    Scene scene;
    VlcPlayer *p = scene.player;
    p->setUrl(QUrl(QStringLiteral("rtsp://127.0.0.1:%1/stream").arg(silent.serverPort())));
    QTRY_VERIFY_WITH_TIMEOUT(!silent.held.isEmpty(), 30000);
    const qintptr old = silent.held.first();

    QList<int> states;
    connect(p, &VlcPlayer::stateChanged, p, [&states, p] { states.append(p->state()); });
    const QUrl live(QStringLiteral("http://127.0.0.1:%1/live/live.ts").arg(m_port));
    p->setUrl(live);
    QCOMPARE(p->state(), int(Vlc::Opening));
    QTRY_COMPARE_WITH_TIMEOUT(p->state(), int(Vlc::Playing), 30000);
    // The next media did not wait for the old one to stop.
    QVERIFY2(peerConnected(old), "the new media started only after the old one had stopped");
    QString why;
    QTRY_VERIFY2_WITH_TIMEOUT(showsPattern(scene.grab(), scene.output->paintedRect(), &why), qPrintable(why), 20000);

    // The old player ends later; nothing of it reaches the player or the picture.
    QTRY_VERIFY_WITH_TIMEOUT(!peerConnected(old), 30000);
    QTest::qWait(300);
    QCOMPARE(p->state(), int(Vlc::Playing));
    QCOMPARE(p->url(), live);
    for (int s : qAsConst(states))
        QVERIFY2(s == Vlc::Opening || s == Vlc::Buffering || s == Vlc::Playing, qPrintable(QString::number(s)));
    QVERIFY(showsPattern(scene.grab(), scene.output->paintedRect(), &why));
    QVERIFY(p->hasPicture());
}

void TestStreams::resolutionSwitch()
{
    // 640x360, then 1280x720 in the same stream, as an adaptive stream switching
    // variants: the picture keeps the stream's 16:9 after the switch.
    Scene scene;
    scene.player->setUrl(QUrl::fromLocalFile(m_media + QStringLiteral("/switch.ts")));
    QTRY_COMPARE_WITH_TIMEOUT(scene.output->sourceSize(), QSize(640, 360), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(scene.output->sourceSize().width(), 1280, 30000);
    QCOMPARE(scene.output->sourceSize(), QSize(1280, 720));
    // The red and blue corners reach the top and the bottom of the 16:9 window.
    QPair<int, int> rows;
    QTRY_VERIFY2_WITH_TIMEOUT((rows = litRows(scene.grab(), 96)).first < 3 && rows.second > 356,
                              qPrintable(QStringLiteral("lit rows %1..%2").arg(rows.first).arg(rows.second)), 20000);
    QString why;
    QVERIFY2(showsPattern(scene.grab(), scene.output->paintedRect(), &why), qPrintable(why));
}

void TestStreams::quitWhileOpening()
{
    // An RTSP server that accepts and never answers: libVLC's stop then takes seconds.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(qEnvironmentVariable("NOVALINE_BINARY_DIR") + QStringLiteral("/tests/vlcqt_quit_helper"),
                {QStringLiteral("rtsp://127.0.0.1:%1/stream").arg(silent.serverPort())});
    QVERIFY(child.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(child.canReadLine(), 30000);
    const QByteArray line = child.readLine().trimmed();
    QVERIFY2(line.startsWith("QUIT "), line.constData());
    const qint64 quitAt = line.mid(5).toLongLong();
    QVERIFY(child.waitForFinished(30000));
    const qint64 took = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch()).count() - quitAt;
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    // The wait for libVLC is bounded at 3 s; the rest is the process's own end.
    QVERIFY2(took < 4500, qPrintable(QStringLiteral("ended %1 ms after the quit").arg(took)));
}

void TestStreams::createDestroy()
{
    const QUrl clip = QUrl::fromLocalFile(m_media + QStringLiteral("/clip-720p.ts"));
    const QUrl live(QStringLiteral("http://127.0.0.1:%1/live/live.ts").arg(m_port));
    for (int i = 0; i < 8; ++i) {
        Scene scene;
        scene.player->setUrl(i % 2 ? live : clip);
        switch (i % 4) {
        case 0:
            break; // gone while opening
        case 1:
            QTest::qWait(50);
            break;
        default:
            QTRY_COMPARE_WITH_TIMEOUT(scene.player->state(), int(Vlc::Playing), 30000);
            QTRY_VERIFY_WITH_TIMEOUT(!scene.output->sourceSize().isEmpty(), 20000);
            break;
        }
    }
    // Output without player, player without output, and the player going first.
    {
        QQuickWindow window;
        window.resize(320, 180);
        window.show();
        auto *output = new VlcVideoOutput(window.contentItem());
        output->setSize(QSizeF(320, 180));
        {
            VlcPlayer player;
            output->setSource(&player);
            player.setUrl(clip);
            QTRY_VERIFY_WITH_TIMEOUT(!output->sourceSize().isEmpty(), 30000);
        }
        QCOMPARE(output->source(), nullptr);
        QTest::qWait(100); // frames still queued for the output must not hurt
        delete output;
    }
    {
        VlcPlayer player;
        player.setUrl(clip);
        QTRY_COMPARE_WITH_TIMEOUT(player.state(), int(Vlc::Playing), 30000);
    }
}

QTEST_MAIN(TestStreams)
#include "tst_vlcqt_streams.moc"
