#include "history/Repository.h"

#include <QAtomicInt>
#include <QDir>
#include <QSqlError>

#include "config/SettingsStore.h"
#include "db/DbBackend.h"
#include "history/Schema.h"

namespace Repository {

namespace {
QString dataHome() {
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.local/share");
}
}  // namespace

QString DefaultPath() {
    return dataHome() + QStringLiteral("/pendrill/repository.db");
}

Location CurrentLocation() {
    const QString keyPath = QString::fromLatin1(RepositoryLocationKey);
    const QString valueName = QString::fromLatin1(RepositoryLocationValue);
    if (RegistryValueNames(keyPath).contains(valueName, Qt::CaseInsensitive))
        return {ReadRegistryValue(keyPath, valueName).trimmed(), true};
    return {DefaultPath(), false};
}

QString DisplayLocation(const QString& location) {
    return DisplayDatabaseLocation(location);
}

Connection::Connection() {
    static QAtomicInt counter;
    name_ = QStringLiteral("history-repository-%1").arg(counter.fetchAndAddRelaxed(1));
}

Connection::~Connection() {
    prepared_.clear();
    if (db_.isValid()) {
        db_.close();
        db_ = QSqlDatabase();
    }
    if (QSqlDatabase::contains(name_))
        QSqlDatabase::removeDatabase(name_);
}

bool Connection::Open(const QString& path, bool createDirectory) {
    prepared_.clear();
    error_.clear();
    if (path.isEmpty()) {
        error_ = QStringLiteral("no repository location");
        return false;
    }
    const DbBackend& backend = BackendOfLocation(path);
    if (!backend.OpenLocation(db_, name_, path, createDirectory, &error_))
        return false;
    if (!Schema::Ensure(db_, backend, &error_) || !Schema::FillRecordTimes(db_, &error_)) {
        db_.close();
        return false;
    }
    return true;
}

bool Connection::Open() {
    const Location loc = CurrentLocation();
    return Open(loc.path, !loc.configured);
}

QSqlQuery* Connection::Prepared(const QString& sql) {
    std::unique_ptr<QSqlQuery>& query = prepared_[sql];
    if (query)
        return query.get();
    auto fresh = std::make_unique<QSqlQuery>(db_);
    if (!fresh->prepare(sql)) {
        error_ = fresh->lastError().text();
        prepared_.erase(sql);
        return nullptr;
    }
    query = std::move(fresh);
    return query.get();
}

}  // namespace Repository
