#pragma once

#include <QSqlDatabase>
#include <QString>

// The job-history repository: an SQLite database, by default
// $XDG_DATA_HOME/pendrill/repository.db, created with its tables on first use. Its location can be
// set in the settings store (RepositoryLocationKey / RepositoryLocationValue).
namespace RookRepository {

inline constexpr const char* RepositoryLocationKey = "Software\\Tessaly\\Rook\\Repository";
inline constexpr const char* RepositoryLocationValue = "Location";

QString DefaultPath();

struct Location {
    QString path;             // the database file; empty when the store names an empty location
    bool configured = false;  // taken from the settings store rather than the default
};
Location CurrentLocation();

// An open connection to the repository; closes and removes itself on destruction.
class Connection {
  public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens (creating the file and tables when missing) the repository at `path`. The default
    // location's directory is created; a configured location's directory must exist.
    bool Open(const QString& path, bool createDirectory);
    // Opens the current location.
    bool Open();
    QSqlDatabase& Db() { return db_; }
    const QString& LastError() const { return error_; }

  private:
    QString name_;
    QSqlDatabase db_;
    QString error_;
};

}  // namespace RookRepository
