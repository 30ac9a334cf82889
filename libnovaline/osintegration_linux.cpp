#include "osintegration.h"

bool OsIntegration::registerApplication(const QString &, const QString &, const QString &, const QString &) { return false; }
bool OsIntegration::registerFileAssociation(const QString &, const QString &, bool) { return false; }
bool OsIntegration::unregisterFileAssociation(const QString &, const QString &) { return false; }
bool OsIntegration::setupProtocol(const QString &, const QString &, const QString &) { return false; }
bool OsIntegration::openUrl(const QUrl &) { return false; }
QString OsIntegration::hddId() { return QString(); }
QString OsIntegration::platform() { return QStringLiteral("linux"); }
bool OsIntegration::compositionEnabled() { return false; }
