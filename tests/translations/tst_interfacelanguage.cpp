// Which texts a desktop gets, the locale of the names shown beside them, and the
// compiled-in English catalogue.
#include "interfacelanguage.h"

#include <QCoreApplication>
#include <QTranslator>
#include <QtTest>

using InterfaceLanguage::Texts;

Q_DECLARE_METATYPE(InterfaceLanguage::Texts)

class TstInterfaceLanguage : public QObject
{
    Q_OBJECT

private slots:
    void choose_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QStringList>("languages");
        QTest::addColumn<Texts>("texts");
        const Texts source = Texts::Source;
        const Texts english = Texts::English;
        QTest::newRow("Russian desktop") << "system" << QStringList{"ru-RU"} << source;
        QTest::newRow("Ukrainian") << "system" << QStringList{"uk-UA"} << source;
        QTest::newRow("Belarusian") << "system" << QStringList{"be-BY"} << source;
        QTest::newRow("Kazakh") << "system" << QStringList{"kk-KZ"} << source;
        QTest::newRow("plain language code") << "system" << QStringList{"ru"} << source;
        QTest::newRow("locale name form") << "system" << QStringList{"uk_UA.UTF-8"} << source;
        QTest::newRow("English desktop") << "system" << QStringList{"en-US"} << english;
        QTest::newRow("German desktop") << "system" << QStringList{"de-DE"} << english;
        QTest::newRow("C locale") << "system" << QStringList{"C"} << english;
        QTest::newRow("nothing known") << "system" << QStringList{} << english;
        // LANGUAGE lists: the first language with texts of its own wins.
        QTest::newRow("French, then Russian") << "system" << QStringList{"fr-FR", "ru-RU"} << source;
        QTest::newRow("English before Russian") << "system" << QStringList{"en-GB", "ru-RU"} << english;
        QTest::newRow("Russian before English") << "system" << QStringList{"ru-RU", "en-US"} << source;
        QTest::newRow("no Russian-reading prefix") << "system" << QStringList{"rue-UA"} << english;
        // The stored choice overrides the desktop; an unknown one reads as "system".
        QTest::newRow("ru on an English desktop") << "ru" << QStringList{"en-US"} << source;
        QTest::newRow("en on a Russian desktop") << "en" << QStringList{"ru-RU"} << english;
        QTest::newRow("unknown choice") << "fr" << QStringList{"ru-RU"} << source;
        QTest::newRow("empty choice") << "" << QStringList{"de-DE"} << english;
    }
    void choose()
    {
        QFETCH(QString, choice);
        QFETCH(QStringList, languages);
        QFETCH(Texts, texts);
        QCOMPARE(InterfaceLanguage::choose(choice, languages), texts);
    }

    void dayNamesFollowTheTexts_data()
    {
        QTest::addColumn<Texts>("texts");
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("locale");
        QTest::newRow("Russian desktop") << Texts::Source << "ru_RU" << "ru_RU";
        QTest::newRow("Ukrainian desktop keeps its names") << Texts::Source << "uk_UA" << "uk_UA";
        QTest::newRow("English desktop") << Texts::English << "en_GB" << "en_GB";
        QTest::newRow("German desktop, English texts") << Texts::English << "de_DE" << "en_US";
        QTest::newRow("English desktop, source texts") << Texts::Source << "en_US" << "ru_RU";
    }
    void dayNamesFollowTheTexts()
    {
        QFETCH(Texts, texts);
        QFETCH(QString, system);
        QFETCH(QString, locale);
        QCOMPARE(InterfaceLanguage::localeFor(texts, QLocale(system)).name(), locale);
    }

    // One text of each context that lupdate collects, as the running program looks it up.
    void catalogueIsCompiledIn()
    {
        QTranslator translator;
        QVERIFY(translator.load(InterfaceLanguage::englishCatalog()));
        const QList<QPair<const char *, const char *>> texts = {
            {"ContextMenu", "Во весь экран"}, {"Controls", "Список каналов"},
            {"Playlist", "Я люблю"},           {"TrackMenu", "отключить"},
            {"SceneLogic", "Поиск..."},        {"Reconnector", "Канал недоступен"},
            {"SettingsForm", "Закрыть"},       {"RatioMenu", "по умолчанию"},
        };
        QStringList english;
        for (const auto &text : texts)
            english << translator.translate(text.first, text.second);
        QCOMPARE(english, (QStringList{"Fullscreen", "Channel list", "Favourites", "off", "Search...",
                                       "Channel unavailable", "Close", "default"}));
    }

    // Installed, the catalogue answers every lookup of the application.
    void installEnglish()
    {
        QCOMPARE(QCoreApplication::translate("Controls", "Назад"), QString("Назад"));
        QCOMPARE(InterfaceLanguage::install("en"), Texts::English);
        QCOMPARE(QCoreApplication::translate("Controls", "Назад"), QString("Back"));
        QCOMPARE(QLocale().language(), QLocale::English);
    }
};

QTEST_MAIN(TstInterfaceLanguage)
#include "tst_interfacelanguage.moc"
