// Prints the player's MIME types, one a line, for the desktop entry and the metainfo.
#include <playermimetypes.h>

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList types = playerMimeTypes();
    for (const QString &type : types)
        out << type << '\n';
    return types.isEmpty() ? 1 : 0;
}
