#include "interfacelanguage.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTranslator>

Q_LOGGING_CATEGORY(lcLanguage, "novaline.translations")

// The resource initialiser lives in this static library; naming it links it in.
static void initTranslationResources()
{
    Q_INIT_RESOURCE(translations);
}

namespace InterfaceLanguage {

namespace {

// The language part of a name such as "uk-UA", "ru_RU.UTF-8" or "be".
QString languageOf(const QString &name)
{
    int end = 0;
    while (end < name.size() && name.at(end).isLetter())
        ++end;
    return name.left(end).toLower();
}

bool readsSource(const QString &language)
{
    static const QStringList languages = {QStringLiteral("ru"), QStringLiteral("uk"),
                                          QStringLiteral("be"), QStringLiteral("kk")};
    return languages.contains(language);
}

}  // namespace

Texts choose(const QString &choice, const QStringList &uiLanguages)
{
    if (choice == QLatin1String("ru"))
        return Texts::Source;
    if (choice == QLatin1String("en"))
        return Texts::English;
    for (const QString &name : uiLanguages) {
        const QString language = languageOf(name);
        if (readsSource(language))
            return Texts::Source;
        if (language == QLatin1String("en"))
            return Texts::English;
    }
    return Texts::English;
}

QLocale localeFor(Texts texts, const QLocale &system)
{
    const QString language = languageOf(system.name());
    if (texts == Texts::Source)
        return readsSource(language) ? system : QLocale(QLocale::Russian, QLocale::Russia);
    return language == QLatin1String("en") ? system : QLocale(QLocale::English, QLocale::UnitedStates);
}

QString englishCatalog()
{
    initTranslationResources();
    return QStringLiteral(":/translations/novaline-iptv_en.qm");
}

Texts install(const QString &choice)
{
    const QLocale system = QLocale::system();
    const Texts texts = choose(choice, system.uiLanguages());
    QLocale::setDefault(localeFor(texts, system));
    if (texts == Texts::Source) {
        qCInfo(lcLanguage).noquote() << "Interface texts: source, choice" << choice << "system locale"
                                     << system.name();
        return texts;
    }
    // Owned by the application; it lives as long as the texts it gives.
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(englishCatalog())) {
        qCWarning(lcLanguage).noquote() << "Cannot load the English translation" << englishCatalog();
        delete translator;
        return Texts::Source;
    }
    QCoreApplication::installTranslator(translator);
    qCInfo(lcLanguage).noquote() << "Interface texts: English, choice" << choice << "system locale"
                                 << system.name();
    return texts;
}

}  // namespace InterfaceLanguage
