#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

class QCoreApplication;

// Which texts the interface shows. The sources carry Russian texts; every other
// language reads the English translation.
namespace InterfaceLanguage {

enum class Texts { Source, English };

// The stored choice ("system", "ru", "en"; anything else reads as "system") and the
// desktop's languages, most wanted first (QLocale::uiLanguages()). "system" takes the
// first language of the list that has texts of its own: Russian, and the languages
// whose speakers read Russian (Ukrainian, Belarusian, Kazakh), get the source texts,
// English the translation; a list without either gets English.
Texts choose(const QString &choice, const QStringList &uiLanguages);

// The locale for dates and names shown next to those texts: the system's when it
// speaks the language of the texts, else one that does.
QLocale localeFor(Texts texts, const QLocale &system);

// Chooses from the stored choice and the system locale, installs the translation on
// the application and makes localeFor() the default locale. Call before any window,
// scene or dialog is built: texts already shown stay as they are.
Texts install(const QString &choice);

// Where the compiled English translation lies in the resources.
QString englishCatalog();

}  // namespace InterfaceLanguage
