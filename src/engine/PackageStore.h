#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

#include "db/PackageStoreSchema.h"

class DbConnection;

// One stored version of a package (a row of sysdtspackages without the document).
struct StoredPackageVersion {
    QString name;
    QString id;         // {GUID}, the same for every version of a name
    QString versionId;  // {GUID} of this version
    QString description;
    QDateTime createDate;
    QString owner;
};

// The package store of a server: the table sysdtspackages in its database msdb. Package names
// are compared without regard to letter case, as on the SQL Server the store comes from; storing
// under another spelling of a known name adds a version of that package.
class PackageStore {
  public:
    PackageStore();
    ~PackageStore();
    PackageStore(const PackageStore&) = delete;
    PackageStore& operator=(const PackageStore&) = delete;

    // Connects to msdb on `server` (a trusted login ignores user and password). With `create`,
    // a PostgreSQL server without an msdb database gets one, and a missing table is created;
    // without it a store that does not exist is an error.
    bool Open(const QString& server, const QString& user, const QString& password, bool trusted,
              bool create, QString* error);

    // Stores `document` as a new version of `name`: a new version id, the package's id (a new
    // one for a name not stored yet), now as creation time (always later than every version of
    // the name already stored), the operating-system account as owner.
    bool Store(const QString& name, const QString& description, const QByteArray& document,
               StoredPackageVersion* stored, QString* error);
    // The newest version of `name`, or the version `versionId` ({GUID}, braces optional) when it
    // is not empty. False with `error` naming the package when there is none.
    bool Load(const QString& name, const QString& versionId, QByteArray* document,
              StoredPackageVersion* version, QString* error);
    // Every version of `name`, newest first (none: an empty list and true).
    bool Versions(const QString& name, QList<StoredPackageVersion>* versions, QString* error);
    // Every stored name once (the spelling of its newest version), sorted without regard to case.
    bool Names(QStringList* names, QString* error);
    // Removes every version of `name`; `removed` tells how many.
    bool Remove(const QString& name, int* removed, QString* error);

    DbConnection& Connection() { return *connection_; }

  private:
    bool NewestRow(const QString& name, StoredPackageVersion* version, QString* error);
    QVariant TimeValue(const QDateTime& time) const;
    QDateTime TimeFrom(const QVariant& value) const;

    std::unique_ptr<DbConnection> connection_;
};

// Loads the newest version of a package for the package engine. False with `error` set when the
// server cannot be reached or holds no package of that name.
bool LoadStoredPackage(const QString& server, const QString& user, const QString& password,
                       bool trusted, const QString& packageName, QByteArray* document,
                       QString* error);
