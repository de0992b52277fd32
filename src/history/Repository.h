#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <map>
#include <memory>

class DbBackend;

// The job-history repository: an SQLite database, by default
// $XDG_DATA_HOME/pendrill/repository.db, created with its tables on first use. Its location can be
// set in the settings store (RepositoryLocationKey / RepositoryLocationValue): another SQLite file,
// or a PostgreSQL URL (postgresql://[user[:password]@]host[:port]/database) through which many
// runner hosts share one job history; that database is created on first use.
namespace Repository {

inline constexpr const char* RepositoryLocationKey = "Software\\Tessaly\\Rook\\Repository";
inline constexpr const char* RepositoryLocationValue = "Location";

QString DefaultPath();

struct Location {
    QString path;             // the database file or URL; empty when the store names an empty one
    bool configured = false;  // taken from the settings store rather than the default
};
Location CurrentLocation();

// The location as it may be shown: a URL's password is left out.
QString DisplayLocation(const QString& location);

// An open connection to the repository; closes and removes itself on destruction.
class Connection {
  public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens (creating the file or database and the tables when missing, and the indexes an older
    // repository lacks) the repository at `path` (a file or a PostgreSQL URL) through the
    // database layer's backend of that location. The default location's directory is created; a
    // configured location's directory must exist. False with LastError() set.
    bool Open(const QString& path, bool createDirectory);
    // Opens the current location.
    bool Open();
    QSqlDatabase& Db() { return db_; }
    const QString& LastError() const { return error_; }

    // `sql` prepared once on this open connection and kept while it is open, so that a stream of
    // statements (a copy's record for each file) is not prepared anew each time. Null with
    // LastError() set when it cannot be prepared.
    QSqlQuery* Prepared(const QString& sql);

  private:
    QString name_;
    QSqlDatabase db_;
    QString error_;
    std::map<QString, std::unique_ptr<QSqlQuery>> prepared_;  // on db_
};

}  // namespace Repository
