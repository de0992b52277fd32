#pragma once

#include <sys/types.h>

#include <QProcess>
#include <QString>
#include <memory>

namespace testsupport {

// A private PostgreSQL server: its own cluster in a fresh temporary directory, listening on
// 127.0.0.1 on a free port and on a unix socket inside that directory. The superuser() logs in
// with password() over TCP (SCRAM). When the tests run as root the server runs as the "postgres"
// account (PostgreSQL refuses to run as root).
//
// Under ctest one server serves the whole run: the fixture test postgres_server starts it
// (support/test_postgres_server.cpp) and writes where it listens to a file; shared() then attaches
// to it instead of starting one of its own.
class TestPostgres {
  public:
    TestPostgres() = default;
    ~TestPostgres() { stop(); }
    TestPostgres(const TestPostgres&) = delete;
    TestPostgres& operator=(const TestPostgres&) = delete;

    // Directory holding initdb and postgres (highest installed version), or empty when the
    // PostgreSQL server binaries are not installed; *why then says what is missing.
    static QString binDir(QString* why = nullptr);
    static bool available(QString* why = nullptr) { return !binDir(why).isEmpty(); }

    // Creates the cluster and starts the server; returns once it accepts connections. On failure
    // *error holds the reason together with the server's log.
    bool start(QString* error);
    // Fast shutdown, then removes the temporary directory. Safe to call twice.
    void stop();
    bool isRunning() const {
        return attached_ || (server_ && server_->state() != QProcess::NotRunning);
    }

    QString host() const { return QStringLiteral("127.0.0.1"); }
    int port() const { return port_; }
    QString superuser() const { return QStringLiteral("pendrill_admin"); }
    QString password() const { return password_; }
    QString socketDir() const { return dir_.isEmpty() ? QString() : dir_ + "/sock"; }
    QString dataDir() const { return dir_.isEmpty() ? QString() : dir_ + "/data"; }
    QString logText() const;

    // Over QtSql (QPSQL, superuser over TCP), each on a connection of its own.
    bool createDatabase(const QString& name, QString* error);
    bool execute(const QString& database, const QString& sql, QString* error);

    // DSN-less connection text for the PostgreSQL ODBC driver (odbc-postgresql), superuser login.
    QString odbcConnectionText(const QString& database) const;
    static QString odbcDriverName() { return QStringLiteral("PostgreSQL Unicode"); }

    // One server shared by every test of the process: the run's server when the fixture started
    // one, else one started on first use and stopped when the QCoreApplication goes away. Returns
    // nullptr with *error set when it cannot be started. While attached to the run's server the
    // process holds the run's PostgreSQL lock until it ends, so that tests of other programs
    // (which use fixed names such as msdb) never work on the server at the same time.
    static TestPostgres* shared(QString* error);

    // The server described by an info file that writeInfo() wrote, if its keeper still runs.
    bool attach(const QString& infoFile);
    bool writeInfo(const QString& infoFile, qint64 keeperPid, QString* error) const;
    // The pid of the keeper named in `infoFile`, or 0 when it names none that still runs.
    static qint64 keeperPid(const QString& infoFile);

  private:
    bool launch(const QString& bin, bool* portTaken, QString* error);
    void configureChild(QProcess& p) const;
    bool chownToServer(const QString& path, QString* error) const;

    QString dir_, password_;
    int port_ = 0;
    bool dropPrivileges_ = false;
    bool attached_ = false;  // to the run's server: stop() leaves it alone
    uid_t serverUid_ = 0;
    gid_t serverGid_ = 0;
    std::unique_ptr<QProcess> server_;
};

// Points `pointer` at the server shared by the test program (started on first use); skips only
// when the binaries are missing. For use in a test body or a fixture's SetUp.
#define PENDRILL_SHARED_POSTGRES(pointer)                                 \
    do {                                                                  \
        QString pendrillPgWhy_;                                           \
        if (!::testsupport::TestPostgres::available(&pendrillPgWhy_))     \
            GTEST_SKIP() << pendrillPgWhy_.toStdString();                 \
        (pointer) = ::testsupport::TestPostgres::shared(&pendrillPgWhy_); \
        ASSERT_NE((pointer), nullptr) << pendrillPgWhy_.toStdString();    \
    } while (0)

}  // namespace testsupport
