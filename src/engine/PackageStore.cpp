#include "engine/PackageStore.h"

#include <pwd.h>
#include <unistd.h>

#include <QUuid>
#include <algorithm>

#include "db/DbBackend.h"
#include "db/DbConnection.h"
#include "engine/tasks/PackageTasks.h"
#include "engine/tasks/TaskConnections.h"
#include "util/Errors.h"

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz");

QString Table() {
    return QString::fromLatin1(PackageStoreTable);
}

QString OwnerName() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_name != nullptr)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

QString NewGuid() {
    return QUuid::createUuid().toString(QUuid::WithBraces).toUpper();
}

// "{GUID}" from a version id given with or without braces, in any letter case.
QString NormalizedGuid(const QString& text) {
    const QUuid id = QUuid::fromString(text.trimmed());
    if (id.isNull())
        return text.trimmed().toUpper();
    return id.toString(QUuid::WithBraces).toUpper();
}

// Names of one package: the same letters whatever their case, for every alphabet (the servers'
// lower() knows only ASCII letters on some of them, so names are compared here).
QString NameKey(const QString& name) {
    return name.toCaseFolded();
}

QString NotStored(const QString& name) {
    return QStringLiteral("Package '%1' is not stored on this server").arg(name);
}

}  // namespace

PackageStore::PackageStore() : connection_(std::make_unique<DbConnection>()) {}

PackageStore::~PackageStore() = default;

bool PackageStore::Open(const QString& server, const QString& user, const QString& password,
                        bool trusted, bool create, QString* error) {
    ResolvedConnection where;
    where.name = QString::fromLatin1(PackageStoreDatabase);
    where.server = server;
    where.database = QString::fromLatin1(PackageStoreDatabase);
    where.user = user;
    where.password = password;
    where.trusted = trusted;
    QString openError;
    if (!OpenResolvedConnection(where, *connection_, &openError)) {
        const DbBackend* backend = ServerBackend(server);
        if (!create || backend == nullptr || !backend->CreatesDatabaseByStatement())
            return Fail(error, openError);
        // A server that makes databases by a statement (PostgreSQL) gets its msdb on the first
        // import.
        ResolvedConnection maintenance = where;
        maintenance.database.clear();
        DbConnection admin;
        if (!OpenResolvedConnection(maintenance, admin, error))
            return false;
        if (!backend->CreateDatabase(admin, QString::fromLatin1(PackageStoreDatabase)))
            return Fail(error,
                        openError + QStringLiteral("; creating it failed: ") + admin.ErrorText());
        admin.Close();
        if (!OpenResolvedConnection(where, *connection_, error))
            return false;
    }
    if (create && !EnsurePackageStore(*connection_))
        return Fail(error, connection_->ErrorText());
    IndexPackageStore(*connection_);
    return true;
}

QVariant PackageStore::TimeValue(const QDateTime& time) const {
    return time.toString(kTimeFormat);
}

QDateTime PackageStore::TimeFrom(const QVariant& value) const {
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime();
    const QString text = value.toString().trimmed();
    for (const char* format : {"yyyy-MM-dd hh:mm:ss.zzz", "yyyy-MM-dd hh:mm:ss"}) {
        const QDateTime t = QDateTime::fromString(text, QLatin1String(format));
        if (t.isValid())
            return t;
    }
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

bool PackageStore::Versions(const QString& name, QList<StoredPackageVersion>* versions,
                            QString* error) {
    versions->clear();
    DbRecordset rs;
    // Only the versions' descriptions are read here, never their documents.
    if (!rs.Open(
            QStringLiteral("SELECT name, id, versionid, description, createdate, owner FROM %1")
                .arg(Table()),
            *connection_))
        return Fail(error, rs.LastError());
    const QString key = NameKey(name);
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
        StoredPackageVersion v;
        v.name = rs.Field(0).toString();
        if (NameKey(v.name) != key)
            continue;
        v.id = rs.Field(1).toString();
        v.versionId = rs.Field(2).toString();
        v.description = rs.Field(3).toString();
        v.createDate = TimeFrom(rs.Field(4));
        v.owner = rs.Field(5).toString();
        versions->append(v);
    }
    std::stable_sort(versions->begin(), versions->end(),
                     [](const StoredPackageVersion& a, const StoredPackageVersion& b) {
                         return a.createDate > b.createDate;
                     });
    return true;
}

bool PackageStore::NewestRow(const QString& name, StoredPackageVersion* version, QString* error) {
    QList<StoredPackageVersion> versions;
    if (!Versions(name, &versions, error))
        return false;
    if (versions.isEmpty())
        return Fail(error, NotStored(name));
    *version = versions.first();
    return true;
}

bool PackageStore::Store(const QString& name, const QString& description,
                         const QByteArray& document, StoredPackageVersion* stored, QString* error) {
    if (name.trimmed().isEmpty())
        return Fail(error, QStringLiteral("A package needs a name to be stored"));
    QList<StoredPackageVersion> versions;
    if (!Versions(name, &versions, error))
        return false;
    StoredPackageVersion v;
    v.name = name;
    v.id = versions.isEmpty() ? NewGuid() : versions.first().id;
    v.versionId = NewGuid();
    v.description = description;
    v.owner = OwnerName();
    // The newest version is the one loaded, so a version stored within the same millisecond as
    // the last one still comes after it.
    v.createDate = QDateTime::currentDateTime();
    if (!versions.isEmpty() && v.createDate <= versions.first().createDate)
        v.createDate = versions.first().createDate.addMSecs(1);
    if (!connection_->Execute(
            QStringLiteral("INSERT INTO %1 (name, id, versionid, description, createdate, owner, "
                           "packagedata) VALUES (?, ?, ?, ?, ?, ?, ?)")
                .arg(Table()),
            {v.name, v.id, v.versionId, v.description, TimeValue(v.createDate), v.owner,
             QString::fromUtf8(document)}))
        return Fail(error, connection_->ErrorText());
    if (stored)
        *stored = v;
    return true;
}

bool PackageStore::Load(const QString& name, const QString& versionId, QByteArray* document,
                        StoredPackageVersion* version, QString* error) {
    StoredPackageVersion found;
    if (versionId.trimmed().isEmpty()) {
        if (!NewestRow(name, &found, error))
            return false;
    } else {
        QList<StoredPackageVersion> versions;
        if (!Versions(name, &versions, error))
            return false;
        const QString wanted = NormalizedGuid(versionId);
        const auto it = std::find_if(versions.begin(), versions.end(), [&](const auto& v) {
            return NormalizedGuid(v.versionId) == wanted;
        });
        if (it == versions.end())
            return Fail(error, QStringLiteral("Package '%1' has no version %2").arg(name, wanted));
        found = *it;
    }
    DbRecordset rs;
    if (!rs.Open(QStringLiteral("SELECT packagedata FROM %1 WHERE versionid = ?").arg(Table()),
                 *connection_, {found.versionId}))
        return Fail(error, rs.LastError());
    rs.MoveFirst();
    if (rs.IsEOF())
        return Fail(error, NotStored(name));
    *document = rs.Field(0).toString().toUtf8();
    if (version)
        *version = found;
    return true;
}

bool PackageStore::Names(QStringList* names, QString* error) {
    names->clear();
    DbRecordset rs;
    if (!rs.Open(QStringLiteral("SELECT name, createdate FROM %1").arg(Table()), *connection_))
        return Fail(error, rs.LastError());
    QHash<QString, QPair<QDateTime, QString>> newest;  // by NameKey
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
        const QString name = rs.Field(0).toString();
        const QDateTime time = TimeFrom(rs.Field(1));
        auto it = newest.find(NameKey(name));
        if (it == newest.end())
            newest.insert(NameKey(name), {time, name});
        else if (time > it->first)
            *it = {time, name};
    }
    for (const auto& entry : newest)
        names->append(entry.second);
    std::sort(names->begin(), names->end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    return true;
}

bool PackageStore::Remove(const QString& name, int* removed, QString* error) {
    QList<StoredPackageVersion> versions;
    if (!Versions(name, &versions, error))
        return false;
    QStringList spellings;  // of the name, as stored
    for (const StoredPackageVersion& v : versions)
        if (!spellings.contains(v.name))
            spellings << v.name;
    int total = 0;
    for (const QString& spelling : spellings) {
        int rows = 0;
        if (!connection_->Execute(QStringLiteral("DELETE FROM %1 WHERE name = ?").arg(Table()),
                                  {spelling}, &rows))
            return Fail(error, connection_->ErrorText());
        total += rows;
    }
    if (removed)
        *removed = total;
    return true;
}

bool LoadStoredPackage(const QString& server, const QString& user, const QString& password,
                       bool trusted, const QString& packageName, QByteArray* document,
                       QString* error) {
    PackageStore store;
    if (!store.Open(server, user, password, trusted, false, error))
        return false;
    return store.Load(packageName, QString(), document, nullptr, error);
}
