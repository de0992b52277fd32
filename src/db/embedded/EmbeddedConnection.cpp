// Opening a connection to the embedded server: a directory of SQLite files, one per database.
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include "db/DbInterface.h"
#include "db/SqlDialect.h"
#include "db/embedded/SqliteBusyWait.h"
#include "util/PrivateFiles.h"

namespace {

// An embedded database file: <directory>/<name>.db, the name compared without regard to case.
QString embeddedFile(const QString& directory, const QString& database) {
    const QDir dir(directory);
    const QString wanted = database + QStringLiteral(".db");
    for (const QString& f : dir.entryList({QStringLiteral("*.db")}, QDir::Files))
        if (f.compare(wanted, Qt::CaseInsensitive) == 0)
            return dir.filePath(f);
    return dir.filePath(wanted);
}

bool validDatabaseName(const QString& name) {
    return !name.isEmpty() && !name.contains('/') && !name.contains('\\') &&
           name != QLatin1String(".") && name != QLatin1String("..");
}

}  // namespace

bool DbConnection::openEmbedded(const QString& database) {
    dialect_ = &SqlDialect::Embedded();
    database_ = database;
    QString file = QStringLiteral(":memory:");
    if (!database.isEmpty()) {
        if (!validDatabaseName(database)) {
            errors_ << QStringLiteral("Invalid database name '%1'.").arg(database);
            return false;
        }
        const bool create = CreateMissingDatabase ||
                            database.compare(QLatin1String("msdb"), Qt::CaseInsensitive) == 0;
        if (create)
            MakePrivateDirectory(server_.directory);
        file = embeddedFile(server_.directory, database);
        if (!QFileInfo::exists(file) && !create) {
            errors_ << QStringLiteral(
                           "Cannot open database \"%1\": server %2 has no such database (no "
                           "file %1.db in %3).")
                           .arg(database, server_.name,
                                QDir::toNativeSeparators(server_.directory));
            return false;
        }
        if (QFileInfo::exists(file))
            database_ = QFileInfo(file).completeBaseName();
    } else if (!QFileInfo(server_.directory).isDir()) {
        MakePrivateDirectory(server_.directory);
    }
    // The databases hold data-link passwords: a new one is its owner's alone (SQLite gives the
    // journal and write-ahead log the database file's mode).
    if (file != QLatin1String(":memory:") && !QFileInfo::exists(file))
        CreatePrivateFile(file);
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    db_.setDatabaseName(file);
    db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(ConnectionTimeout * 1000));
    if (!db_.open()) {
        errors_ << QStringLiteral("Cannot open database \"%1\" (%2): %3")
                       .arg(database, file,
                            DbErrorMessage(db_.lastError(), QStringLiteral("unknown reason")));
        return false;
    }
    SetStoppableBusyWait(db_, ConnectionTimeout * 1000);
    // A text file named .db that is no database only shows itself on the first read.
    QSqlQuery probe(db_);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        errors_ << QStringLiteral("Cannot open database \"%1\" (%2): %3")
                       .arg(database, file,
                            DbErrorMessage(probe.lastError(), QStringLiteral("unknown reason")));
        db_.close();
        return false;
    }
    // Write-ahead logging: readers in other processes are not blocked by a load, and a commit
    // costs no sync of the whole database.
    probe.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    probe.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    return true;
}
