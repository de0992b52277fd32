// The demo package (examples/demo) run through pendrill-admin against the embedded server and
// PostgreSQL: its orders file comes from a data link of the warehouse, bad records are described
// in the merged exception file, the good ones are loaded.

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "config/CRegSettings.h"
#include "db/DbInterface.h"
#include "db/ServerResolver.h"
#include "support/TestPostgres.h"
#include "support/TestSupport.h"

using testsupport::runProgram;

namespace {

const QByteArray kOrders =
    "order_id;customer;order_date;amount\n"
    "1;Alpha;2026-12-01;1.50\n"
    "2;Beta;2026-12-01\n"  // line 3: a field short
    "3;\"Gamma; quoted\";2026-12-02;2.00\n"
    "4;Delta;2026-12-02;abc\n"  // line 5: no number; only a typed server refuses it
    "5;Epsilon;2026-12-03;3.00\n";

struct Warehouse {
    QString server, database;
    QStringList login;     // pendrill-admin login options
    QStringList runLogin;  // the same as --set values for the run
};

int countRows(const Warehouse& w, const QString& user, const QString& password,
              const QString& sql) {
    DbConnection c;
    c.Provider = "sqloledb";
    c.SetProperty("Data Source", w.server);
    c.SetProperty("Initial Catalog", w.database);
    if (user.isEmpty()) {
        c.SetProperty("Integrated Security", "SSPI");
    } else {
        c.SetProperty("User ID", user);
        c.SetProperty("Password", password);
    }
    if (!c.Open())
        return -1;
    DbRecordset rs;
    if (!rs.Open(sql, c))
        return -1;
    return rs.Field(0).toInt();
}

// Sets up the warehouse and its data link, stores the demo package and runs it as job 7.
QString runDemo(const Warehouse& w, const QString& dataDir, const QString& logDir) {
    const auto admin = [](const QStringList& a) { return runProgram("pendrill-admin", a); };
    auto r = admin(QStringList{"datalink", "init", "--server", w.server, "--database", w.database} +
                   w.login);
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    r = admin(QStringList{"datalink", "add", "--server", w.server, "--database", w.database,
                          "--model", "Demo", "--name", "Orders", "--type", "3", "--ds-directory",
                          dataDir} +
              w.login);
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    r = admin(QStringList{"package", "import",
                          QStringLiteral(PENDRILL_SOURCE_DIR) + "/examples/demo/Demo_Overall.xml",
                          "--server", w.server} +
              w.login);
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    const QString exceptionFile = logDir + "/../exceptions.log";
    r = admin(QStringList{"package", "run", "Demo_Overall", "--server", w.server, "--logdir",
                          logDir, "--exception-file", exceptionFile, "--set", "JobID=7", "--set",
                          "DestinationServer=" + w.server, "--set",
                          "DestServerDatabaseName=" + w.database} +
              w.login + w.runLogin);
    EXPECT_EQ(r.exitCode, 0) << r.err.constData() << r.out.constData();
    return QString::fromUtf8(testsupport::readAll(exceptionFile));
}

}  // namespace

TEST(AdminBulkLoad, DemoPackageOnTheEmbeddedServer) {
    testsupport::IsolatedHome home;
    QTemporaryDir dir;
    ASSERT_TRUE(testsupport::writeAll(dir.filePath("orders.csv"), kOrders));
    QDir(dir.path()).mkdir("logs");
    const Warehouse w{"(local)", "DemoDW", {"--trusted"}, {"--set", "DestServerTrustedLogin=true"}};
    const QString log = runDemo(w, dir.path(), dir.filePath("logs"));
    EXPECT_TRUE(log.contains("line 3: expected 4 fields, found 3")) << log.toStdString();
    EXPECT_TRUE(log.contains("Step 'Load orders' succeeded")) << log.toStdString();
    EXPECT_EQ(countRows(w, {}, {}, "SELECT count(*) FROM stage_orders"), 4);
    EXPECT_EQ(countRows(w, {}, {}, "SELECT count(*) FROM fact_orders WHERE job_id = '7'"), 4);
    EXPECT_EQ(countRows(w, {}, {}, "SELECT count(*) FROM load_runs WHERE outcome = 'ok'"), 1);
}

TEST(AdminBulkLoad, DemoPackageOnPostgres) {
    testsupport::IsolatedHome home;
    testsupport::TestPostgres pg;
    PENDRILL_START_POSTGRES(pg);
    ASSERT_TRUE(WriteRegistryValue(QString::fromLatin1(ServerAliasKey), "pgtest",
                                   QStringLiteral("postgresql://127.0.0.1:%1").arg(pg.port())));
    QTemporaryDir dir;
    ASSERT_TRUE(testsupport::writeAll(dir.filePath("orders.csv"), kOrders));
    QDir(dir.path()).mkdir("logs");
    const Warehouse w{"pgtest",
                      "demodw",
                      {"--user", pg.superuser(), "--password", pg.password()},
                      {"--set", "DestServerTrustedLogin=false", "--set",
                       "DestServerLoginUserName=" + pg.superuser(), "--set",
                       "DestServerLoginPassword=" + pg.password()}};
    const QString log = runDemo(w, dir.path(), dir.filePath("logs"));
    EXPECT_TRUE(log.contains("line 3: expected 4 fields, found 3")) << log.toStdString();
    // Refused by the server when the batch was sent; the other rows of the batch are kept.
    EXPECT_TRUE(log.contains("line 5: ")) << log.toStdString();
    EXPECT_TRUE(log.contains("abc")) << log.toStdString();
    EXPECT_EQ(countRows(w, pg.superuser(), pg.password(), "SELECT count(*) FROM stage_orders"), 3);
    EXPECT_EQ(countRows(w, pg.superuser(), pg.password(),
                        "SELECT count(*) FROM fact_orders WHERE job_id = '7'"),
              3);
}
