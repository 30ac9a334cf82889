// The per-channel memory against its real file in the test's private folder.
#include "channelmemory.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
QUrl channel(int i)
{
    return QUrl(QStringLiteral("http://127.0.0.1/live/%1.ts").arg(i));
}
} // namespace

class TstChannelMemory : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("data/channels.json")); }

private slots:
    void init() { QFile::remove(path()); }

    // What was chosen comes back after a restart; nothing else is invented.
    void survivesRestart()
    {
        {
            ChannelMemory m(path());
            m.setCurrentUrl(channel(1));
            QSignalSpy changed(&m, &ChannelMemory::changed);
            m.rememberAspectRatio(8);
            m.rememberAudioTrack(3);
            m.remember(channel(2), ChannelMemory::CropRatio, 2);
            QCOMPARE(changed.count(), 2); // only the current channel's choices
            QCOMPARE(m.aspectRatio(), QVariant(8));
            QVERIFY(!m.cropRatio().isValid());
            // Nothing on disk before the write delay.
            QVERIFY(!QFile::exists(path()));
        }
        ChannelMemory again(path());
        QCOMPARE(again.count(), 2);
        QCOMPARE(again.value(channel(1), ChannelMemory::AspectRatio), QVariant(8));
        QCOMPARE(again.value(channel(1), ChannelMemory::AudioTrack), QVariant(3));
        QVERIFY(!again.value(channel(1), ChannelMemory::SubtitleTrack).isValid());
        QCOMPARE(again.value(channel(2), ChannelMemory::CropRatio), QVariant(2));
        QVERIFY(!again.value(channel(3), ChannelMemory::CropRatio).isValid());
    }

    // Writes are coalesced: many choices inside a second make one file.
    void writesAfterDelay()
    {
        ChannelMemory m(path());
        for (int i = 0; i < 20; ++i)
            m.remember(channel(i), ChannelMemory::SubtitleTrack, -1);
        QVERIFY(!QFile::exists(path()));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path()), 5000);
        ChannelMemory reread(path());
        QCOMPARE(reread.count(), 20);
        QCOMPARE(reread.value(channel(7), ChannelMemory::SubtitleTrack), QVariant(-1));
    }

    // The 500 most recently changed channels stay; a changed old one comes to the front.
    void keepsMostRecent()
    {
        {
            ChannelMemory m(path());
            for (int i = 0; i < ChannelMemory::Capacity; ++i)
                m.remember(channel(i), ChannelMemory::AspectRatio, 2);
            m.remember(channel(0), ChannelMemory::CropRatio, 8);
            m.remember(channel(9999), ChannelMemory::AspectRatio, 8);
            QCOMPARE(m.count(), ChannelMemory::Capacity);
        }
        ChannelMemory again(path());
        QCOMPARE(again.count(), ChannelMemory::Capacity);
        QCOMPARE(again.value(channel(0), ChannelMemory::CropRatio), QVariant(8));
        QCOMPARE(again.value(channel(9999), ChannelMemory::AspectRatio), QVariant(8));
        QVERIFY(!again.value(channel(1), ChannelMemory::AspectRatio).isValid());
        QCOMPARE(again.value(channel(2), ChannelMemory::AspectRatio), QVariant(2));
    }

    void brokenFileIsEmpty_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not json") << QByteArray("{\"channels\": [");
        QTest::newRow("wrong shape") << QByteArray("[1,2,3]");
        QTest::newRow("no values") << QByteArray("{\"channels\":[{\"url\":\"http://x/1\"}]}");
        QTest::newRow("text values") << QByteArray("{\"channels\":[{\"url\":\"http://x/1\",\"cropRatio\":\"8\"}]}");
    }
    void brokenFileIsEmpty()
    {
        QFETCH(QByteArray, content);
        QVERIFY(QDir().mkpath(QFileInfo(path()).absolutePath()));
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        ChannelMemory m(path());
        QCOMPARE(m.count(), 0);
        // And the next write replaces it with a sound file.
        m.remember(channel(1), ChannelMemory::CropRatio, 8);
        m.flush();
        ChannelMemory again(path());
        QCOMPARE(again.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TstChannelMemory)
#include "tst_channelmemory.moc"
