// Replacing a file on a full disk: the old content stays, the failure is reported and
// no temporary file is left behind.
#include "atomicfile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

class TestAtomicFile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_mounted = QProcess::execute(QStringLiteral("mount"),
                                      {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                       QStringLiteral("size=256k"), QStringLiteral("tmpfs"), m_dir.path()})
            == 0;
        if (!m_mounted)
            QSKIP("mounting a tmpfs needs root");
    }
    void cleanupTestCase()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_dir.path()});
    }

    void fullDisk_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("fits the write buffer") << 100;
        QTest::newRow("larger than the buffer") << 100 * 1024;
    }
    void fullDisk()
    {
        QFETCH(int, size);
        const QString path = m_dir.path() + QStringLiteral("/favourites.json");
        const QByteArray old("{\"favourites\":[\"http://s/a\"]}");
        QVERIFY(AtomicFile::write(path, old));
        QCOMPARE(read(path), old);

        QFile filler(m_dir.path() + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(512, 'x');
        while (filler.write(block) == block.size()) {
        }

        QString error;
        QVERIFY(!AtomicFile::write(path, QByteArray(size, 'n'), &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(read(path), old);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QStringLiteral("favourites.json"), QStringLiteral("filler")}));

        // Space again: the next write goes through.
        filler.close();
        QVERIFY(filler.remove());
        QVERIFY(AtomicFile::write(path, QByteArray(size, 'n')));
        QCOMPARE(read(path), QByteArray(size, 'n'));
    }

private:
    static QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QTemporaryDir m_dir;
    bool m_mounted = false;
};

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_atomicfile.moc"
