#include "singleinstance.h"
#include "commandline.h"
#include "videofileextensions.h"

#include <QBuffer>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSharedMemory>
#include <QTest>

#include <cstring>

namespace {

QByteArray rawMessage(qint32 length, const QByteArray &body)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << length;
    bytes += body;
    return bytes;
}

quint32 storedStamp(QSharedMemory &segment)
{
    quint32 stamp = 0;
    segment.lock();
    std::memcpy(&stamp, segment.constData(), sizeof stamp);
    segment.unlock();
    return stamp;
}

} // namespace

class TestLaunch : public QObject
{
    Q_OBJECT
private slots:
    void extensions()
    {
        const QStringList expected = QStringLiteral(
            "3g2 3gp 3gp2 3gpp amv asf avi bik divx drc dv f4v flv gvi gxf m1v m2t m2v m2ts m4v mkv mov mp2v mp4 "
            "mp4v mpa mpe mpeg mpeg1 mpeg2 mpeg4 mpg mpv2 mts mtv mxf nsv nuv ogg ogm ogx ogv rec rm rmvb rpl thp "
            "tod ts tts vob vro webm wmv xesc").split(QLatin1Char(' '));
        QCOMPARE(expected.size(), 55);
        QCOMPARE(videoFileExtensions, expected);
    }

    void argumentsToUrls()
    {
        const QString cwd = QDir::currentPath();
        const QList<QUrl> urls = urlsFromArguments({
            QStringLiteral("iptvurl://host/channel?id=5"),
            QStringLiteral("iptvvideo://portal/ajax/files/7"),
            QStringLiteral("http://host/stream.ts"),
            QStringLiteral("https://host/a b.mkv"),
            QStringLiteral("C:\\Video\\clip.MKV"),
            QStringLiteral("/abs/film.avi"),
            QStringLiteral("clip.avi"),
            QStringLiteral("sub/фильм.mkv"),
            QStringLiteral("file:///films/%D1%84%20a.mkv"),
        });
        QCOMPARE(urls.size(), 9);
        QCOMPARE(urls.at(0), QUrl(QStringLiteral("iptvurl://host/channel?id=5")));
        QCOMPARE(urls.at(1), QUrl(QStringLiteral("iptvvideo://portal/ajax/files/7")));
        QCOMPARE(urls.at(2), QUrl(QStringLiteral("http://host/stream.ts")));
        // Anything with another scheme is a local file named by the whole text.
        QCOMPARE(urls.at(3), QUrl::fromLocalFile(QStringLiteral("https://host/a b.mkv")));
        QVERIFY(urls.at(3).isLocalFile());
        QCOMPARE(urls.at(4), QUrl::fromLocalFile(QStringLiteral("C:\\Video\\clip.MKV")));
        QCOMPARE(urls.at(5), QUrl::fromLocalFile(QStringLiteral("/abs/film.avi")));
        // Relative paths resolve against this process's folder, not the receiver's.
        QCOMPARE(urls.at(6), QUrl::fromLocalFile(cwd + QStringLiteral("/clip.avi")));
        QCOMPARE(urls.at(7), QUrl::fromLocalFile(cwd + QStringLiteral("/sub/фильм.mkv")));
        // A file: URL, as desktop launchers pass files, names the file itself.
        QCOMPARE(urls.at(8), QUrl::fromLocalFile(QStringLiteral("/films/ф a.mkv")));
        QVERIFY(urlsFromArguments({}).isEmpty());
    }

    void associationCommandText()
    {
        QCOMPARE(associationCommand(),
                 QLatin1Char('"') + QCoreApplication::applicationFilePath() + QStringLiteral("\" --assoc \"%1\""));
        QCOMPARE(friendlyName(), QStringLiteral("Novaline IPTV проигрыватель"));
    }

    void messageLayout()
    {
        // One URL whose encoded form has 16 bytes: 30 bytes, length field 26.
        const QUrl url(QStringLiteral("file:///a/b.avi1"));
        QCOMPARE(url.toEncoded().size(), 16);
        const QByteArray bytes = encodeLaunchMessage({url}, true);
        QCOMPARE(bytes.size(), 30);
        QCOMPARE(bytes.left(4), QByteArray::fromHex("0000001a"));
        QCOMPARE(bytes.at(4), '\0');
        QCOMPARE(bytes.at(5), '\1');
        QCOMPARE(bytes.mid(6, 4), QByteArray::fromHex("00000001"));
        QCOMPARE(bytes.mid(10, 4), QByteArray::fromHex("00000010"));
        QCOMPARE(bytes.mid(14), url.toEncoded());
        QCOMPARE(encodeLaunchMessage({}, false), QByteArray::fromHex("00000006" "00" "00" "00000000"));
    }

    void messageRoundTripAndPieces()
    {
        const QList<QUrl> urls = {QUrl::fromLocalFile(QStringLiteral("/v/фильм 1.mkv")), QUrl(QStringLiteral("iptvurl://h/c")), QUrl()};
        const QByteArray one = encodeLaunchMessage(urls, false);
        const QByteArray two = encodeLaunchMessage({urls.at(1)}, true);

        // Every proper prefix waits for more and leaves the buffer alone.
        for (int cut = 0; cut < one.size(); ++cut) {
            QByteArray buffer = one.left(cut);
            LaunchMessage message;
            QCOMPARE(takeLaunchMessage(buffer, message, nullptr), LaunchMessageStatus::Incomplete);
            QCOMPARE(buffer.size(), cut);
        }
        QByteArray buffer = one + two;
        LaunchMessage message;
        QCOMPARE(takeLaunchMessage(buffer, message, nullptr), LaunchMessageStatus::Complete);
        QCOMPARE(message.urls, urls);
        QCOMPARE(message.append, false);
        QCOMPARE(buffer, two);
        QCOMPARE(takeLaunchMessage(buffer, message, nullptr), LaunchMessageStatus::Complete);
        QCOMPARE(message.urls, QList<QUrl>{urls.at(1)});
        QCOMPARE(message.append, true);
        QVERIFY(buffer.isEmpty());
    }

    void badMessages_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray hugeCount;
        {
            QDataStream s(&hugeCount, QIODevice::WriteOnly);
            s << qint8(0) << true << qint32(0x7fffffff);
        }
        QByteArray urlTooLong;
        {
            QDataStream s(&urlTooLong, QIODevice::WriteOnly);
            s << qint8(0) << true << qint32(1) << quint32(1000) << qint32(0);
        }
        QByteArray negativeCount;
        {
            QDataStream s(&negativeCount, QIODevice::WriteOnly);
            s << qint8(0) << false << qint32(-1);
        }
        QByteArray valid = encodeLaunchMessage({QUrl(QStringLiteral("http://a/b"))}, false).mid(4);
        QTest::newRow("over 1 MiB") << rawMessage(maxLaunchMessageSize + 1, QByteArray());
        QTest::newRow("negative length") << rawMessage(-5, QByteArray(10, 'x'));
        QTest::newRow("zero length") << rawMessage(0, QByteArray());
        QTest::newRow("huge url count") << rawMessage(hugeCount.size(), hugeCount);
        QTest::newRow("negative url count") << rawMessage(negativeCount.size(), negativeCount);
        QTest::newRow("url past the end") << rawMessage(urlTooLong.size(), urlTooLong);
        QTest::newRow("trailing bytes") << rawMessage(valid.size() + 3, valid + "abc");
        QTest::newRow("short body") << rawMessage(3, QByteArray(3, '\0'));
    }
    void badMessages()
    {
        QFETCH(QByteArray, bytes);
        QByteArray buffer = bytes;
        LaunchMessage message;
        message.urls = {QUrl(QStringLiteral("http://untouched"))};
        QString error;
        QCOMPARE(takeLaunchMessage(buffer, message, &error), LaunchMessageStatus::Invalid);
        QVERIFY(!error.isEmpty());
        QCOMPARE(message.urls, QList<QUrl>{QUrl(QStringLiteral("http://untouched"))});
    }

    void exactlyOneMiBIsAccepted()
    {
        QByteArray body;
        {
            QDataStream s(&body, QIODevice::WriteOnly);
            s << qint8(0) << true << qint32(1) << QByteArray(maxLaunchMessageSize - 10, 'a');
        }
        QCOMPARE(body.size(), maxLaunchMessageSize);
        QByteArray buffer = rawMessage(body.size(), body);
        LaunchMessage message;
        QCOMPARE(takeLaunchMessage(buffer, message, nullptr), LaunchMessageStatus::Complete);
        QCOMPARE(message.urls.size(), 1);
    }

    void sending()
    {
        const QList<QUrl> urls = {QUrl(QStringLiteral("iptvurl://h/c")), QUrl::fromLocalFile(QStringLiteral("/v/a.avi"))};
        // Nothing to forward: no connection at all.
        QVERIFY(!sendLaunchMessage({}, true, 1, 0));

        // No server: every attempt fails and is followed by the pause.
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!sendLaunchMessage(urls, true, 3, 100));
        QVERIFY(timer.elapsed() >= 300);

        // A listening server gets exactly one message.
        QLocalServer server;
        QVERIFY(server.listen(QLatin1String(launchServerName)));
        QVERIFY(sendLaunchMessage(urls, true, 1, 0));
        QVERIFY(server.waitForNewConnection(5000));
        QLocalSocket *socket = server.nextPendingConnection();
        QByteArray received;
        while (socket->bytesAvailable() > 0 || socket->waitForReadyRead(1000))
            received += socket->readAll();
        QCOMPARE(received, encodeLaunchMessage(urls, true));
    }

    void launchStamps()
    {
        // Each QSharedMemory attachment counts as a copy, so one process can play several.
        QSharedMemory first{QLatin1String(singleInstanceKey)};
        const LaunchCheck a = checkLaunch(first);
        QVERIFY(a.firstInstance);
        QVERIFY(!a.recoveredStale);
        const quint32 now = quint32(QDateTime::currentSecsSinceEpoch());
        QVERIFY(storedStamp(first) + 1 >= now);

        QSharedMemory second{QLatin1String(singleInstanceKey)};
        const LaunchCheck b = checkLaunch(second);
        QVERIFY(!b.firstInstance);
        QVERIFY(b.launchGap <= 1);

        // After a quiet period the stamp moves; launches right after see a small gap.
        first.lock();
        const quint32 old = now - 100;
        std::memcpy(first.data(), &old, sizeof old);
        first.unlock();
        QSharedMemory third{QLatin1String(singleInstanceKey)};
        const LaunchCheck c = checkLaunch(third);
        QVERIFY(!c.firstInstance);
        QVERIFY(c.launchGap >= 100);
        QVERIFY(storedStamp(first) >= now);
        QSharedMemory fourth{QLatin1String(singleInstanceKey)};
        QVERIFY(checkLaunch(fourth).launchGap <= 1);

        // The first copy leaving while others stay attached keeps them later copies.
        first.detach();
        QSharedMemory fifth{QLatin1String(singleInstanceKey)};
        QVERIFY(!checkLaunch(fifth).firstInstance);
        second.detach();
        third.detach();
        fourth.detach();
        fifth.detach();
        // Nobody attached: the segment is gone and the next launch is the first copy.
        QSharedMemory sixth{QLatin1String(singleInstanceKey)};
        QVERIFY(checkLaunch(sixth).firstInstance);
    }
};

QTEST_GUILESS_MAIN(TestLaunch)
#include "tst_launch.moc"
