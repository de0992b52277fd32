// The demo package (examples/demo) run through pendrill-admin against the embedded server and
// PostgreSQL: its orders file comes from a data link of the warehouse, bad records are described
// in the merged exception file, the good ones are loaded.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "db/DbInterface.h"
#include "support/DataLinkWarehouse.h"

using testsupport::admin;

namespace {

const QByteArray kOrders =
    "order_id;customer;order_date;amount\n"
    "1;Alpha;2026-12-01;1.50\n"
    "2;Beta;2026-12-01\n"  // line 3: a field short
    "3;\"Gamma; quoted\";2026-12-02;2.00\n"
    "4;Delta;2026-12-02;abc\n"  // line 5: no number; only a typed server refuses it
    "5;Epsilon;2026-12-03;3.00\n";

class AdminBulkLoad : public WarehouseTest {
  protected:
    // Sets up the data link of the demo's orders file, stores the demo package and runs it as job
    // 7; returns the merged exception file.
    QString runDemo() {
        EXPECT_TRUE(testsupport::writeAll(dir.filePath("orders.csv"), kOrders));
        QStringList login = {"--trusted"},
                    runLogin = {"--set", "DestServerTrustedLogin=" +
                                             QString(wh->trusted ? "true" : "false")};
        if (!wh->trusted) {
            login = {"--user", wh->user, "--password", wh->password};
            runLogin << "--set"
                     << "DestServerLoginUserName=" + wh->user << "--set"
                     << "DestServerLoginPassword=" + wh->password;
        }
        const QString exceptionFile = dir.filePath("exceptions.log");
        const QStringList steps[] = {
            {"datalink", "add", "--model", "Demo", "--name", "Orders", "--type", "3",
             "--ds-directory", dir.path(), "--server", wh->server, "--database", wh->database},
            {"package", "import", PENDRILL_SOURCE_DIR "/examples/demo/Demo_Overall.xml", "--server",
             wh->server},
            QStringList{"package", "run", "Demo_Overall", "--server", wh->server, "--logdir",
                        dir.filePath("logs"), "--exception-file", exceptionFile, "--set", "JobID=7",
                        "--set", "DestinationServer=" + wh->server, "--set",
                        "DestServerDatabaseName=" + wh->database} +
                runLogin};
        for (const QStringList& args : steps) {
            const auto r = admin(args + login);
            EXPECT_EQ(r.exitCode, 0) << r.err.constData() << r.out.constData();
        }
        return QString::fromUtf8(testsupport::readAll(exceptionFile));
    }
    int count(const QString& sql) {
        std::unique_ptr<DbConnection> c = wh->Open();
        DbRecordset rs;
        return rs.Open(sql, *c) ? rs.Field(0).toInt() : -1;
    }
    QTemporaryDir dir;
};

}  // namespace

// A record short of a field is described and skipped on every server; a field that is no number
// only a typed server refuses, when the batch is sent, keeping the other rows of the batch.
TEST_P(AdminBulkLoad, DemoPackage) {
    const QString log = runDemo();
    EXPECT_TRUE(log.contains("line 3: expected 4 fields, found 3")) << log.toStdString();
    const bool typed = GetParam() != Backend::Embedded;
    if (typed) {
        EXPECT_TRUE(log.contains("line 5: ")) << log.toStdString();
        EXPECT_TRUE(log.contains("abc")) << log.toStdString();
    } else {
        EXPECT_TRUE(log.contains("Step 'Load orders' succeeded")) << log.toStdString();
        EXPECT_EQ(count("SELECT count(*) FROM load_runs WHERE outcome = 'ok'"), 1);
    }
    EXPECT_EQ(count("SELECT count(*) FROM stage_orders"), typed ? 3 : 4);
    EXPECT_EQ(count("SELECT count(*) FROM fact_orders WHERE job_id = '7'"), typed ? 3 : 4);
}

PENDRILL_ON_EMBEDDED_AND_POSTGRES(AdminBulkLoad);
