#include "db/postgres/PostgresDatabase.h"

#include "db/DbInterface.h"
#include "db/SqlDialect.h"

bool CreatePostgresDatabase(DbConnection& maintenance, const QString& name) {
    return maintenance.Execute(QStringLiteral("CREATE DATABASE ") +
                               maintenance.Dialect().QuoteIdentifier(name));
}
