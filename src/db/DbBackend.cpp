#include "db/DbBackend.h"

#include <QUrl>

#include "db/Backends.h"
#include "db/DbInterface.h"
#include "util/StopCutter.h"

std::unique_ptr<StopCutter::Registration> DbBackend::StopCut(QSqlDatabase&) const {
    return nullptr;
}

bool DbBackend::HasDatabase(DbConnection& maintenance, const QString& name, bool* exists) const {
    QStringList names;
    if (!maintenance.ListDatabases(names))
        return false;
    *exists = names.contains(name, Qt::CaseInsensitive);
    return true;
}

bool DbBackend::CreateDatabase(DbConnection& maintenance, const QString& name) const {
    maintenance.SetError(
        QStringLiteral("Database '%1' cannot be created on this kind of server.").arg(name));
    return false;
}

bool DbBackend::ServerAnswers(const QSqlDatabase&, int, QString*) const {
    return true;
}

bool IsServerDatabaseUrl(const QString& location) {
    return location.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           location.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

const DbBackend& BackendOfLocation(const QString& location) {
    return IsServerDatabaseUrl(location) ? PostgresServerBackend() : EmbeddedServerBackend();
}

QString DisplayDatabaseLocation(const QString& location) {
    if (!IsServerDatabaseUrl(location))
        return location;
    return QUrl(location).toString(QUrl::RemovePassword);
}
