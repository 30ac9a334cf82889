// Broken live channels in the real window: the real scene, libVLC and the operator
// test server with its faults. The pauses between tries are shortened; stall
// detection keeps its real 8 s.
#include "channelmemory.h"
#include "config.h"
#include "picturewait.h"
#include "playlistmodel.h"
#include "reconnector.h"
#include "testsupport.h"
#include "videoform.h"
#include "windowprobe.h"
#include "vlcplayer.h"
#include "vlctrackmodel.h"

#include <QQmlListReference>
#include <QQuickItem>
#include <QSignalSpy>
#include <QtTest>

namespace {

enum { Idle = 0, Playing = 3, Paused = 4, Ended = 6, Error = 7 };
enum { RatioOriginal = 0, Ratio4x3 = 8 };
const QStringList kStreams = {"a.ts", "b.ts", "c.ts", "d.ts"};
const QString kRetrying = QStringLiteral("Переподключение\u2026 %1/5");
const QString kUnavailable = QStringLiteral("Канал недоступен");

} // namespace

class TstReconnect : public QObject
{
    Q_OBJECT

    OperatorServer server;
    Config *config = nullptr;
    VideoForm *form = nullptr;

    VlcPlayer *player() { return form->player(); }
    QQuickItem *item(const QString &name) { return findItem(form->contentItem(), name); }
    QString live(int id) const { return "/live/" + kStreams.at(id); }
    // Requests for a channel's stream since the case began.
    QMap<QString, int> hitsBefore;
    int hits(int id) { return server.hits(live(id)) - hitsBefore.value(live(id)); }
    // Every value the try counter took.
    QList<int> attempts;
    QString lineShown()
    {
        QQuickItem *text = item("reconnectText");
        return text && text->isVisible() ? text->property("text").toString() : QString();
    }

    void openWindow()
    {
        form = new VideoForm(config);
        // No sound device here: keep libVLC from looking for one per stream.
        qputenv("VLC_ARGS", qgetenv("VLC_ARGS") + " --aout=adummy");
        form->restoreAndShow();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        QTRY_VERIFY_WITH_TIMEOUT(form->formLoaded() && form->player(), 20000);
        form->reconnector()->setDelays({300, 300, 300, 300, 300});
    }

    bool redCorner() { return showsTestPattern(form); }

    bool playsWithPicture(int id, int timeoutMs = 20000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (form->currentItem().id() == id && player()->state() == Playing && player()->hasPicture()
                && player()->url().toString() == server.base() + live(id) && redCorner())
                return true;
            QTest::qWait(50);
        }
        qWarning() << "not playing with a picture:" << form->currentItem().id() << player()->state()
                   << player()->hasPicture() << player()->url() << redCorner() << server.get("/_requests");
        return false;
    }

    void play(int id)
    {
        form->playTv(id);
        QCOMPARE(form->currentItem().id(), id);
    }

private slots:
    void initTestCase()
    {
        wipeState();
        QProcess media;
        media.start(qEnvironmentVariable("NOVALINE_SOURCE_DIR") + "/tools/make-media",
                    {"--only", "live", "--duration", "4", server.root()});
        QVERIFY(media.waitForFinished(120000));
        QCOMPARE(media.exitCode(), 0);
        QJsonArray iptv;
        for (int i = 0; i < kStreams.size(); ++i) {
            QVERIFY(QFile::link(server.root() + "/live.ts", server.root() + "/" + kStreams.at(i)));
            iptv.append(QJsonObject{{"title", QString("Канал %1").arg(i)}, {"groupTitle", "Эфир"},
                                    {"stream", "{{BASE}}/live/" + kStreams.at(i)}});
        }
        QVERIFY(server.put("config.json", json({{"iptv", iptv}, {"iptv_updates", QJsonArray()}})));
        QVERIFY(server.start());
        qputenv("NOVALINE_CONFIG_SERVER", server.base().toUtf8());
        config = new Config;
        openWindow();
        connect(form->reconnector(), &Reconnector::attemptChanged, this,
                [this] { attempts << form->reconnector()->attempt(); });
        QSignalSpy loaded(config, &Config::playlistLoaded);
        config->updateConfig(QUrl());
        QTRY_VERIFY_WITH_TIMEOUT(config->playlistModel()->rowCount() == kStreams.size(), 20000);
    }

    // Each case starts on channel 3 playing, no faults, retries on.
    void init()
    {
        QVERIFY(server.setFault("*", "none"));
        server.get("/_control?reset=1");
        config->settings()->setValue("reconnect", true);
        form->reconnector()->setEnabled(true);
        if (config->mode() != Config::Iptv || !config->holdsChannels()) {
            form->clearCurrentItem();
            config->setMode(Config::Iptv);
            config->updateConfig(QUrl());
            QTRY_VERIFY_WITH_TIMEOUT(config->holdsChannels() && config->playlistModel()->rowCount() == 4, 20000);
        }
        play(3);
        QVERIFY(playsWithPicture(3));
        for (int i = 0; i < kStreams.size(); ++i)
            hitsBefore[live(i)] = server.hits(live(i));
        attempts.clear();
    }

    void cleanupTestCase()
    {
        delete form;
        delete config;
    }

    // A stream cut after 3 s comes back on the same channel, picture and all.
    void cutStreamComesBack()
    {
        QVERIFY(server.setFault(live(0), "cut:3000", 1));
        QString shown;
        {
            QObject watch;  // ends the connection with this block, however it leaves
            connect(form->reconnector(), &Reconnector::textChanged, &watch, [&] {
                if (form->reconnector()->attempt() == 1)
                    shown = lineShown();
            });
            play(0);
            QVERIFY(playsWithPicture(0));
            QTRY_VERIFY_WITH_TIMEOUT(attempts.contains(1), 30000);
        }
        QCOMPARE(shown, kRetrying.arg(1));
        QVERIFY(playsWithPicture(0));
        QCOMPARE(item("channelTitle")->property("text").toString(), QString("Канал 0"));
        QCOMPARE(lineShown(), QString());
        QCOMPARE(attempts, QList<int>({1, 0}));
        QCOMPARE(form->currentItem().id(), 0);
        QCOMPARE(hits(0), 2);
    }

    // Three opens answered with 500, then the fourth plays. libVLC asks twice per open
    // (its second HTTP module after the first), so that is six answers.
    void serverErrorsThenRecovery()
    {
        QVERIFY(server.setFault(live(1), "http500", 6));
        play(1);
        QTRY_VERIFY_WITH_TIMEOUT(attempts.contains(0), 30000);
        QVERIFY(playsWithPicture(1));
        QCOMPARE(attempts, QList<int>({1, 2, 3, 0}));
        QCOMPARE(hits(1), 7);
        QCOMPARE(lineShown(), QString());
    }

    // Data stops in the middle: the stall is seen 8 to 10 s after the picture froze.
    void stallIsDetected()
    {
        QVERIFY(server.setFault(live(2), "stall-body:2000", 1));
        play(2);
        QVERIFY(playsWithPicture(2));
        // The last new picture: the window redraws for nothing else here.
        QElapsedTimer sinceFrame;
        sinceFrame.start();
        {
            // Scoped, so a failed check below cannot leave it pointing at this frame.
            QObject watch;
            connect(player(), &VlcPlayer::timeChanged, &watch, [&] { sinceFrame.start(); });
            QSignalSpy stalled(player(), &VlcPlayer::stalledChanged);
            // The server sends faster than real time: what it sent before going silent
            // plays out first, for as long as it lasts.
            QVERIFY(stalled.wait(90000));
        }
        QVERIFY(player()->stalled());
        const qint64 after = sinceFrame.elapsed();
        QVERIFY2(after >= 7500 && after <= 10500, qPrintable(QString::number(after)));
        QTRY_VERIFY_WITH_TIMEOUT(attempts.contains(0), 20000);
        QVERIFY(playsWithPicture(2));
        QCOMPARE(attempts, QList<int>({1, 0}));
        QCOMPARE(hits(2), 2);
    }

    // A channel that never comes back: an end moves on, an error stays with the line.
    void neverRecovers_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("nextId");
        QTest::addColumn<QString>("line");
        // An HTML page opens and ends at once, without a picture.
        QTest::newRow("ended") << "html" << 1 << QString();
        QTest::newRow("error") << "http500" << 0 << kUnavailable;
    }
    void neverRecovers()
    {
        QFETCH(QString, fault);
        QFETCH(int, nextId);
        QFETCH(QString, line);
        QVERIFY(server.setFault(live(0), fault));
        play(0);
        QTRY_VERIFY_WITH_TIMEOUT(attempts.size() == 6, 30000);
        QCOMPARE(attempts, QList<int>({1, 2, 3, 4, 5, 0}));
        QTRY_COMPARE_WITH_TIMEOUT(form->currentItem().id(), nextId, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(lineShown(), line, 10000);
        const int requests = hits(0);
        QTest::qWait(1000);
        QCOMPARE(hits(0), requests);
        if (nextId == 0) {
            QCOMPARE(player()->state(), int(Error));
            // Until the user acts.
            play(3);
            QCOMPARE(lineShown(), QString());
        } else {
            QVERIFY(playsWithPicture(nextId));
        }
    }

    // Without retries: an end moves on at once, an error stays silently.
    void reconnectOff_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("nextId");
        QTest::newRow("ended") << "html" << 1;
        QTest::newRow("error") << "http500" << 0;
    }
    void reconnectOff()
    {
        QFETCH(QString, fault);
        QFETCH(int, nextId);
        config->settings()->setValue("reconnect", false);
        QMetaObject::invokeMethod(form, "updateSettings");
        QVERIFY(!form->reconnector()->enabled());
        QVERIFY(server.setFault(live(0), fault));
        QSignalSpy text(form->reconnector(), &Reconnector::textChanged);
        play(0);
        QTRY_VERIFY_WITH_TIMEOUT(player()->state() == Ended || player()->state() == Error
                                     || form->currentItem().id() != 0, 20000);
        QTRY_COMPARE(form->currentItem().id(), nextId);
        const int requests = hits(0);
        QTest::qWait(1500);
        QCOMPARE(hits(0), requests);
        QVERIFY(attempts.isEmpty());
        QCOMPARE(text.count(), 0);
        QCOMPARE(lineShown(), QString());
    }

    // Another channel during the series ends it at once.
    void switchingCancels()
    {
        form->reconnector()->setDelays({3000, 3000, 3000, 3000, 3000});
        QVERIFY(server.setFault(live(0), "http500"));
        play(0);
        QTRY_COMPARE_WITH_TIMEOUT(form->reconnector()->attempt(), 1, 20000);
        QCOMPARE(lineShown(), kRetrying.arg(1));
        const int requests = hits(0);
        play(3);
        QCOMPARE(form->reconnector()->attempt(), 0);
        QCOMPARE(lineShown(), QString());
        QVERIFY(playsWithPicture(3));
        QTest::qWait(3500);
        QCOMPARE(hits(0), requests);
        form->reconnector()->setDelays({300, 300, 300, 300, 300});
    }

    // A local file that ends moves to the next file at once, retries or not.
    void localFileMovesOnAtOnce()
    {
        QFile::copy(server.root() + "/live.ts", server.root() + "/one.ts");
        QFile::copy(server.root() + "/live.ts", server.root() + "/two.ts");
        form->clearCurrentItem();
        config->setMode(Config::LocalFile);
        config->loadLocalFiles({QUrl::fromLocalFile(server.root() + "/one.ts"),
                                QUrl::fromLocalFile(server.root() + "/two.ts")}, false);
        QTRY_VERIFY_WITH_TIMEOUT(!form->currentItem().empty() && player()->state() == Playing, 20000);
        const int first = form->currentItem().id();
        // The next file is announced inside the end's own notification.
        bool endSeen = false;
        int atEnd = -2;
        QObject watch;  // ends the connections with this function, however it leaves
        connect(player(), &VlcPlayer::stateChanged, &watch, [&] {
            if (player()->state() == Ended)
                endSeen = true;
        });
        connect(form, &VideoForm::currentItemChanged, &watch, [&] {
            if (atEnd == -2)
                atEnd = form->currentItem().id();
        });
        QTRY_VERIFY_WITH_TIMEOUT(atEnd != -2, 20000);
        QVERIFY(atEnd != first);
        QVERIFY(!endSeen); // nobody after the window saw the player stay ended
        QVERIFY(attempts.isEmpty());
    }

    // Backspace goes back to the channel before, and again back.
    void previousChannelToggles()
    {
        QObject *menuItem = form->rootObject()->findChild<QObject *>("previousChannelItem");
        QVERIFY(menuItem);
        QCOMPARE(menuItem->property("text").toString(), QString("Предыдущий канал"));
        play(0);
        play(2);
        QVERIFY(form->hasPreviousChannel());
        QVERIFY(menuItem->property("enabled").toBool());
        QVERIFY(menuItem->property("visible").toBool());
        // Straight to the scene's key handler: the focus may be another test's window.
        QList<int> ids;
        for (int i = 0; i < 3; ++i) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
            QCoreApplication::sendEvent(item("videoForm"), &press);
            QVERIFY(press.isAccepted());
            ids << form->currentItem().id();
        }
        QCOMPARE(ids, QList<int>({0, 2, 0}));
        QMetaObject::invokeMethod(menuItem, "trigger");
        QCOMPARE(form->currentItem().id(), 2);
        QVERIFY(playsWithPicture(2));
    }

    // Picture size and tracks chosen for a channel come back on it, also after a restart.
    void channelMemory()
    {
        play(1);
        QVERIFY(playsWithPicture(1));
        QObject *menu = form->rootObject()->findChild<QObject *>("contextMenu");
        auto entries = [](QObject *m) {
            QList<QObject *> out;
            QQmlListReference items(m, "items");
            for (int i = 0; i < items.count(); ++i)
                if (items.at(i) && items.at(i)->metaObject()->indexOfProperty("checkable") >= 0)
                    out << items.at(i);
            return out;
        };
        QMetaObject::invokeMethod(entries(menu->findChild<QObject *>("cropMenu")).at(7), "trigger");
        QObject *audio = menu->findChild<QObject *>("audioTrackMenu");
        QTRY_VERIFY(entries(audio).size() == 2);
        QMetaObject::invokeMethod(entries(audio).first(), "trigger"); // "отключить"
        QTRY_COMPARE(player()->audioTrack(), -1);
        QCOMPARE(item("videoOutput")->property("cropRatio").toInt(), int(Ratio4x3));

        // Elsewhere the default; back on the channel, its choices.
        play(3);
        QVERIFY(playsWithPicture(3));
        QCOMPARE(item("videoOutput")->property("cropRatio").toInt(), int(RatioOriginal));
        QTRY_VERIFY(player()->audioTrack() != -1);
        play(1);
        QCOMPARE(item("videoOutput")->property("cropRatio").toInt(), int(Ratio4x3));
        // Time for a stall and its reconnect too: the test server's looping streams now
        // and then lose libVLC's clock.
        QTRY_VERIFY_WITH_TIMEOUT(player()->audioTrackModel()->count() == 2 && player()->audioTrack() == -1, 45000);

        // A new window, as after a restart.
        delete form;
        openWindow();
        connect(form->reconnector(), &Reconnector::attemptChanged, this,
                [this] { attempts << form->reconnector()->attempt(); });
        config->updateConfig(QUrl());
        QTRY_VERIFY_WITH_TIMEOUT(!form->currentItem().empty(), 20000);
        // One channel watched in this window: nothing to go back to.
        const int started = form->currentItem().id();
        QVERIFY(!form->hasPreviousChannel());
        form->playPreviousChannel();
        QCOMPARE(form->currentItem().id(), started);
        play(1);
        QCOMPARE(item("videoOutput")->property("cropRatio").toInt(), int(Ratio4x3));
        // Time for a stall and its reconnect too: the test server's looping streams now
        // and then lose libVLC's clock.
        QTRY_VERIFY_WITH_TIMEOUT(player()->audioTrackModel()->count() == 2 && player()->audioTrack() == -1, 45000);
    }

    // A switch without a picture: black, the new channel's title, then the spinner.
    void zapShowsSpinner()
    {
        QVERIFY(server.setFault(live(0), "stall", 1));
        QQuickItem *spinner = item("zapSpinner");
        QVERIFY(spinner);
        QVERIFY(!spinner->isVisible());
        play(0);
        QCOMPARE(item("channelTitle")->property("text").toString(), QString("Канал 0"));
        QTRY_VERIFY_WITH_TIMEOUT(spinner->isVisible(), 5000);
        QVERIFY(form->pictureWait()->spinning());
        QVERIFY(!player()->hasPicture());
        QVERIFY(!redCorner());
        play(3);
        QVERIFY(playsWithPicture(3));
        QVERIFY(!spinner->isVisible());
    }
};

QTEST_MAIN(TstReconnect)
#include "tst_reconnect.moc"
