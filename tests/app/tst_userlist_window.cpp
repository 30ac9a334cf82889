// The user's own channel list in the real window: chosen in the settings dialog, its
// groups and channels in the playlist, a picture, the guide's programme in the control
// bar, the heart, and a bad answer that keeps the list.
#include "kernel.h"
#include "operatorserver.h"
#include "singleinstance.h"
#include "../player/windowprobe.h"

#include <config.h>
#include <playlistmodel.h>
#include <playlistmodelitem.h>
#include <settingsform.h>
#include <videoform.h>
#include <vlcplayer.h>

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSharedMemory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray stamp(qint64 fromNow)
{
    return QDateTime::currentDateTimeUtc().addSecs(fromNow).toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + " +0000";
}

} // namespace

class TestUserListWindow : public QObject
{
    Q_OBJECT

    QStringList channels() const
    {
        QStringList out;
        const PlaylistModel *model = m_config->playlistModel();
        for (int row = 0; row < model->rowCount(); ++row)
            out << model->item(row)->group() + QLatin1Char('/') + model->item(row)->title();
        return out;
    }
    QString programmeShown() const
    {
        QQuickItem *text = findItem(m_window->contentItem(), QStringLiteral("programmTitleText"));
        return text && text->isVisible() ? text->property("text").toString() : QString();
    }
    SettingsForm *dialog() const
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *form = qobject_cast<SettingsForm *>(w))
                return form;
        }
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Novaline"));
        QCoreApplication::setApplicationName(QStringLiteral("IPTV"));
        QVERIFY(m_root.isValid());
        const QString root = m_root.path();
        QProcess media;
        media.start(qEnvironmentVariable("NOVALINE_SOURCE_DIR") + QStringLiteral("/tools/make-media"),
                    {QStringLiteral("--only"), QStringLiteral("live"), QStringLiteral("--duration"), QStringLiteral("4"), root});
        QVERIFY(media.waitForFinished(120000));
        QCOMPARE(media.exitCode(), 0);
        for (const char *name : {"op.ts", "first.ts", "second.ts"})
            QVERIFY(QFile::link(root + QStringLiteral("/live.ts"), root + QLatin1Char('/') + QLatin1String(name)));
        QVERIFY(writeFile(root + QStringLiteral("/config.json"),
                          "{\"iptv\":[{\"title\":\"Оператор\",\"stream\":\"{{BASE}}/live/op.ts\",\"groupTitle\":\"Эфир\"}]}"));
        QVERIFY(writeFile(root + QStringLiteral("/list.m3u"),
                          "#EXTM3U url-tvg=\"{{BASE}}/media/guide.xml.gz\"\n"
                          "#EXTINF:-1 tvg-id=\"first.tv\" group-title=\"Новости\",Первый\n{{BASE}}/live/first.ts\n"
                          "#EXTINF:-1 group-title=\"Кино\",Второй\n{{BASE}}/live/second.ts\n"));
        QVERIFY(writeFile(root + QStringLiteral("/guide.xml"),
                          "<?xml version=\"1.0\"?>\n<tv><channel id=\"first.tv\"><display-name>First</display-name></channel>"
                          "<programme start=\"" + stamp(-1800) + "\" stop=\"" + stamp(1800) + "\" channel=\"first.tv\">"
                          "<title>Утренние новости</title></programme>"
                          "<programme start=\"" + stamp(1800) + "\" channel=\"first.tv\"><title>Погода</title></programme></tv>\n"));
        QCOMPARE(QProcess::execute(QStringLiteral("gzip"), {QStringLiteral("-f"), root + QStringLiteral("/guide.xml")}), 0);
        QVERIFY(m_server.start(root));
        qputenv("NOVALINE_CONFIG_SERVER", m_server.base().toUtf8());
        // No sound device here: keep libVLC from looking for one per stream.
        qputenv("VLC_ARGS", qgetenv("VLC_ARGS") + " --aout=adummy");

        m_segment.reset(new QSharedMemory(QLatin1String(singleInstanceKey)));
        QVERIFY(checkLaunch(*m_segment).firstInstance);
        m_kernel = new Kernel(m_segment.data(), {}, nullptr);
        m_config = m_kernel->configuration();
        m_window = m_kernel->window();
        QTRY_COMPARE_WITH_TIMEOUT(channels(), QStringList{QStringLiteral("Эфир/Оператор")}, 20000);
    }

    void cleanupTestCase()
    {
        if (m_kernel)
            m_kernel->closeApp();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void chosenInTheDialog()
    {
        m_window->showSettingsForm();
        SettingsForm *form = dialog();
        QVERIFY(form);
        form->findChild<QRadioButton *>(QStringLiteral("playlistSource"))->click();
        auto *address = form->findChild<QLineEdit *>(QStringLiteral("playlistUrl"));
        address->setText(m_server.base() + QStringLiteral("/media/list.m3u"));
        QTest::keyClick(address, Qt::Key_Return);  // applies at once, no restart
        QTRY_COMPARE_WITH_TIMEOUT(channels(), (QStringList{QStringLiteral("Новости/Первый"), QStringLiteral("Кино/Второй")}), 20000);
        QVERIFY(m_config->holdsChannels());
        form->close();

        // The operator's channel is not in the list: its first channel plays, with the
        // guide's programme in the control bar.
        QTRY_COMPARE_WITH_TIMEOUT(m_window->currentItem().title(), QStringLiteral("Первый"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(m_window->player() && m_window->player()->hasPicture() && showsTestPattern(m_window), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(programmeShown(), QStringLiteral("Утренние новости"), 20000);

        // The heart stores the list's channel by its address.
        const QUrl first = m_window->currentItem().url();
        m_window->loveChannel(first);
        QTRY_VERIFY(m_config->playlistModel()->itemByUrl(first)->favourite());
        QTRY_COMPARE(Config::readFavourites(), QList<QUrl>{first});
    }

    void aLoginPageKeepsTheList()
    {
        m_server.get("/_control?path=/media/list.m3u&fault=html");
        m_window->showSettingsForm();
        SettingsForm *form = dialog();
        QVERIFY(form);
        QSignalSpy loaded(m_config, &Config::configLoaded);
        form->findChild<QPushButton *>(QStringLiteral("reloadChannels"))->click();
        QVERIFY(loaded.wait(20000));
        form->close();
        QCOMPARE(channels(), (QStringList{QStringLiteral("Новости/Первый"), QStringLiteral("Кино/Второй")}));
        QVERIFY(m_config->playlistModel()->item(0)->favourite());  // read back from the favourites file
    }

private:
    QTemporaryDir m_root;
    OperatorServer m_server;
    Kernel *m_kernel = nullptr;
    Config *m_config = nullptr;
    VideoForm *m_window = nullptr;
    QScopedPointer<QSharedMemory> m_segment;
};

QTEST_MAIN(TestUserListWindow)
#include "tst_userlist_window.moc"
