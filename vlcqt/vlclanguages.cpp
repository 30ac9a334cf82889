#include "vlclanguages_p.h"

#include <QRegularExpression>

#include <climits>

namespace {

// ISO 639-1 codes with their ISO 639-2 codes (bibliographic, then terminological
// where they differ). Containers carry either form.
const char *const IsoCodes[] = {
    "aa aar", "ab abk", "ae ave", "af afr", "ak aka", "am amh", "an arg", "ar ara", "as asm", "av ava",
    "ay aym", "az aze", "ba bak", "be bel", "bg bul", "bh bih", "bi bis", "bm bam", "bn ben", "bo tib bod",
    "br bre", "bs bos", "ca cat", "ce che", "ch cha", "co cos", "cr cre", "cs cze ces", "cu chu", "cv chv",
    "cy wel cym", "da dan", "de ger deu", "dv div", "dz dzo", "ee ewe", "el gre ell", "en eng", "eo epo",
    "es spa", "et est", "eu baq eus", "fa per fas", "ff ful", "fi fin", "fj fij", "fo fao", "fr fre fra",
    "fy fry", "ga gle", "gd gla", "gl glg", "gn grn", "gu guj", "gv glv", "ha hau", "he heb", "hi hin",
    "ho hmo", "hr hrv", "ht hat", "hu hun", "hy arm hye", "hz her", "ia ina", "id ind", "ie ile", "ig ibo",
    "ii iii", "ik ipk", "io ido", "is ice isl", "it ita", "iu iku", "ja jpn", "jv jav", "ka geo kat",
    "kg kon", "ki kik", "kj kua", "kk kaz", "kl kal", "km khm", "kn kan", "ko kor", "kr kau", "ks kas",
    "ku kur", "kv kom", "kw cor", "ky kir", "la lat", "lb ltz", "lg lug", "li lim", "ln lin", "lo lao",
    "lt lit", "lu lub", "lv lav", "mg mlg", "mh mah", "mi mao mri", "mk mac mkd", "ml mal", "mn mon",
    "mr mar", "ms may msa", "mt mlt", "my bur mya", "na nau", "nb nob", "nd nde", "ne nep", "ng ndo",
    "nl dut nld", "nn nno", "no nor", "nr nbl", "nv nav", "ny nya", "oc oci", "oj oji", "om orm", "or ori",
    "os oss", "pa pan", "pi pli", "pl pol", "ps pus", "pt por", "qu que", "rm roh", "rn run", "ro rum ron",
    "ru rus", "rw kin", "sa san", "sc srd", "sd snd", "se sme", "sg sag", "si sin", "sk slo slk", "sl slv",
    "sm smo", "sn sna", "so som", "sq alb sqi", "sr srp", "ss ssw", "st sot", "su sun", "sv swe", "sw swa",
    "ta tam", "te tel", "tg tgk", "th tha", "ti tir", "tk tuk", "tl tgl", "tn tsn", "to ton", "tr tur",
    "ts tso", "tt tat", "tw twi", "ty tah", "ug uig", "uk ukr", "ur urd", "uz uzb", "ve ven", "vi vie",
    "vo vol", "wa wln", "wo wol", "xh xho", "yi yid", "yo yor", "za zha", "zh chi zho", "zu zul",
};

// The two-letter code of a language for any of its codes; other text as it is.
QString canonicalCode(const QString &code)
{
    static const QHash<QString, QString> canonical = [] {
        QHash<QString, QString> map;
        for (const char *entry : IsoCodes) {
            const QStringList codes = QString::fromLatin1(entry).split(QLatin1Char(' '));
            for (const QString &c : codes)
                map.insert(c, codes.first());
        }
        return map;
    }();
    const QString folded = code.trimmed().toCaseFolded();
    return canonical.value(folded, folded);
}

} // namespace

namespace VlcLanguages {

bool codeMatches(const QString &preference, const QString &code)
{
    const QString pref = canonicalCode(preference);
    return !pref.isEmpty() && pref == canonicalCode(code);
}

int bestTrack(const QVector<VlcTrackModel::Track> &tracks, const QHash<int, QString> &language,
              const QStringList &preferences, int *rank)
{
    static const QRegularExpression nonWord(QStringLiteral("[^\\w]+"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    for (int p = 0; p < preferences.size(); ++p) {
        const QString pref = preferences.at(p).trimmed().toCaseFolded();
        if (pref.isEmpty())
            continue;
        for (const VlcTrackModel::Track &t : tracks) {
            if (t.id == -1)
                continue;
            bool match = codeMatches(pref, language.value(t.id));
            if (!match) {
                const QStringList words = t.title.toCaseFolded().split(nonWord, Qt::SkipEmptyParts);
                match = words.contains(pref);
            }
            if (match) {
                *rank = p;
                return t.id;
            }
        }
    }
    *rank = INT_MAX;
    return -2;
}

bool hasPreference(const QStringList &preferences)
{
    for (const QString &s : preferences) {
        if (!s.trimmed().isEmpty())
            return true;
    }
    return false;
}

QByteArray optionValue(const QStringList &preferences)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z]{2,20}$"));
    QStringList kept;
    for (const QString &l : preferences) {
        const QString t = l.trimmed();
        if (plain.match(t).hasMatch())
            kept << t.toLower();
    }
    return kept.join(QLatin1Char(',')).toLatin1();
}

} // namespace VlcLanguages
