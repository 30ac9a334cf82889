// The interface language of the real window, built by the Kernel in this process under
// the locale of the environment ctest gives it (LANG, with LANGUAGE and LC_* empty),
// optionally with the stored choice "uiLanguage": the texts of the scenes, the context
// menu and the settings dialog, read through their objects.
#include "kernel.h"
#include "singleinstance.h"

#include <config.h>
#include <settingskeys.h>
#include <videoform.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QQuickItem>
#include <QSettings>
#include <QSharedMemory>
#include <QTest>

namespace {

// What each checked object shows: the source text and its English translation.
struct Shown
{
    const char *object;
    const char *property;
    const char *source;
    const char *english;
};

const Shown sceneTexts[] = {
    {"searchInput", "text", "Поиск...", "Search..."},
    {"settingsItem", "text", "Параметры", "Settings"},
    {"audioTrackMenu", "title", "Аудиодорожка", "Audio track"},
    {"prevButton", "tooltip", "Назад", "Back"},
};

const Shown dialogTexts[] = {
    {"Label_3", "text", "Устранение чересстрочности", "Deinterlacing"},
    {"uiLanguageLabel", "text", "Язык интерфейса*", "Interface language*"},
    {"pushButton_3", "text", "Закрыть", "Close"},
};

} // namespace

class TestLanguage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_english = qEnvironmentVariable("NOVALINE_EXPECT_TEXTS") == QLatin1String("en");
        QVERIFY2(m_english || qEnvironmentVariable("NOVALINE_EXPECT_TEXTS") == QLatin1String("ru"),
                 "NOVALINE_EXPECT_TEXTS must be en or ru");
        // The identity names the settings store the Kernel reads.
        QCoreApplication::setOrganizationName(QStringLiteral("Novaline"));
        QCoreApplication::setApplicationName(QStringLiteral("IPTV"));
        const QString choice = qEnvironmentVariable("NOVALINE_UI_LANGUAGE");
        if (!choice.isEmpty())
            QSettings().setValue(QLatin1String(SettingsKeys::uiLanguage), choice);

        m_segment.reset(new QSharedMemory(QLatin1String(singleInstanceKey)));
        QVERIFY(checkLaunch(*m_segment).firstInstance);
        m_kernel = new Kernel(m_segment.data(), {}, nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(m_kernel->window()->formLoaded(), 20000);
    }

    void cleanupTestCase()
    {
        if (m_kernel)
            m_kernel->closeApp();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void scenes()
    {
        QQuickItem *root = m_kernel->window()->rootObject();
        QVERIFY(root);
        for (const Shown &shown : sceneTexts) {
            // The context menu is built a moment after the scene.
            QObject *object = nullptr;
            QTRY_VERIFY2((object = root->findChild<QObject *>(QLatin1String(shown.object))), shown.object);
            QCOMPARE(object->property(shown.property).toString(), expected(shown));
        }
    }

    void settingsDialog()
    {
        QVERIFY(QMetaObject::invokeMethod(m_kernel->window(), "showSettingsForm"));
        QWidget *dialog = nullptr;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QLatin1String("SettingsForm"))
                dialog = widget;
        }
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        for (const Shown &shown : dialogTexts) {
            QWidget *widget = dialog->findChild<QWidget *>(QLatin1String(shown.object));
            QVERIFY2(widget, shown.object);
            QCOMPARE(widget->property(shown.property).toString(), expected(shown));
        }
        // The choice shows what is stored; the language names stand in their own language.
        auto *choice = dialog->findChild<QComboBox *>(QStringLiteral("uiLanguage"));
        QVERIFY(choice);
        QCOMPARE(choice->count(), 3);
        QCOMPARE(choice->itemText(0), QString(m_english ? "System" : "Системный"));
        QCOMPARE(choice->itemText(1), QStringLiteral("Русский"));
        QCOMPARE(choice->itemText(2), QStringLiteral("English"));
        const QString stored = qEnvironmentVariable("NOVALINE_UI_LANGUAGE");
        QCOMPARE(choice->currentData().toString(), stored.isEmpty() ? QStringLiteral("system") : stored);
        dialog->close();
    }

private:
    QString expected(const Shown &shown) const
    {
        return QString::fromUtf8(m_english ? shown.english : shown.source);
    }

    bool m_english = false;
    Kernel *m_kernel = nullptr;
    QScopedPointer<QSharedMemory> m_segment;
};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
