#pragma once

#include <QString>
#include <memory>

class DataLink;
class DataLinks;
class DbConnection;

// The data-warehouse connection of a window or a run, and the data links of the ETL model loaded
// over it. The window's model and each run own one (a run may borrow the window's, so that the
// data links the operator edited are the ones saved and used); each admin command owns its own.
class WarehouseSession {
  public:
    WarehouseSession();
    ~WarehouseSession();
    WarehouseSession(const WarehouseSession&) = delete;
    WarehouseSession& operator=(const WarehouseSession&) = delete;

    // Opens the connection (made on the first call, closed and opened again by every later one)
    // on `database` of `server`: with `trustedLogin` the operating-system account, otherwise
    // `user` and `password`. On failure `*error` is ConnectErrorPrefix (WarehouseConnection.h)
    // and the server, followed by one line (CR LF) per error of the connection.
    bool Connect(const QString& server, bool trustedLogin, const QString& user,
                 const QString& password, const QString& database, int timeout,
                 QString* error = nullptr);
    // The connection; nullptr before the first Connect. It may be closed.
    DbConnection* Connection() const { return connection_.get(); }
    // Whether the connection is open.
    bool Connected() const;

    // The loaded data links, or nullptr when none are loaded.
    DataLinks* Links() const { return links_.get(); }
    // Drops the loaded data links and puts an empty collection in their place.
    DataLinks& NewLinks();
    // Puts a collection in place of the loaded one (nullptr drops it).
    void SetLinks(std::unique_ptr<DataLinks> links);
    // The loaded data link of that name (letter case counts), or nullptr.
    DataLink* Find(const QString& name) const;
    // Saves every loaded data link to its catalogue row over the connection, in order, stopping
    // at the first that fails (false, with `error`). True when nothing is loaded.
    bool SaveAll(QString* error = nullptr);
    // Drops the loaded data links.
    void ReleaseLinks();
    // Drops the data links and closes and drops the connection.
    void Release();

  private:
    std::unique_ptr<DbConnection> connection_;
    std::unique_ptr<DataLinks> links_;
};
