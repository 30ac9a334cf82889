// One executable for the config tests; the first argument picks a group (ctest runs
// each group as its own test), no argument runs them all.
#include <QCoreApplication>
#include <QStringList>

#include <functional>
#include <map>

int runContentTests(const QStringList &args);
int runFetchTests(const QStringList &args);
int runGuideTests(const QStringList &args);
int runPortalTests(const QStringList &args);
int runUpdateTests(const QStringList &args);
int runUserListTests(const QStringList &args);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Novaline"));
    QCoreApplication::setApplicationName(QStringLiteral("IPTV"));

    const std::map<QString, std::function<int(const QStringList &)>> groups{
        {QStringLiteral("content"), runContentTests}, {QStringLiteral("fetch"), runFetchTests},
        {QStringLiteral("guide"), runGuideTests},     {QStringLiteral("portal"), runPortalTests},
        {QStringLiteral("update"), runUpdateTests},   {QStringLiteral("userlist"), runUserListTests},
    };
    QStringList args = app.arguments();
    QString group;
    if (args.size() > 1 && groups.count(args.at(1))) {
        group = args.at(1);
        args.removeAt(1);
    }
    int failed = 0;
    for (const auto &entry : groups) {
        if (group.isEmpty() || group == entry.first)
            failed += entry.second(args);
    }
    return failed == 0 ? 0 : 1;
}
