// The unattended run from the scheduler's command to the exit status, on the embedded server (and
// once on PostgreSQL): run log, status file, job-history record, rows loaded, data links saved.

#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QJsonObject>
#include <QLocale>

#include "RunJob.h"
#include "config/CRegSettings.h"
#include "platform/ServerResolver.h"
#include "support/TestPostgres.h"

using runjob::Config;
using runjob::Job;
using runjob::LogLines;
using testsupport::readAll;

namespace {

const QByteArray kRows = "1;alpha\n2;beta\n3;gamma\n";

QString RemoveBreaks(QString text) {
    return text.remove("\r\n");
}

struct RunFixture : ::testing::Test {
    testsupport::IsolatedHome home;
    Job job{home};
    QString files, wrongFiles, runLog, status, copy;

    void SetUp() override {
        files = home.file("files/");
        wrongFiles = home.file("old place/");
        QDir().mkpath(files);
        testsupport::writeAll(files + "rows.csv", kRows);
        runLog = home.file("run.log");
        status = home.file("status");
        copy = home.file("copy.log");
    }
    // A warehouse "DW" whose catalogue still points the data link "Files" of `model` elsewhere.
    void Warehouse(const QString& model) {
        ASSERT_TRUE(job.InitWarehouse());
        ASSERT_TRUE(job.AddDataLink(model, "Files", {"--type", "3", "--ds-directory", wrongFiles}));
    }
    Config config(const QString& package) const {
        Config c;
        c.package = package;
        c.logFile = runLog;
        c.logDir = home.file("logs");
        return c;
    }
    testsupport::ProcessResult run(const QString& cfg, const QStringList& more = {}) {
        return job.Pendrill(QStringList{"-configfile", cfg, "-statusfile", status, "-logfile", copy,
                                        "-job_id", "5"} +
                            more);
    }
};

}  // namespace

// Packages of an ETL model, whatever the letter case of the suffix: the data links come from the
// configuration's sections, reach dwm_data_link before the package reads them, and the file the
// section names is loaded.
TEST_F(RunFixture, EtlModelPackageGetsTheConfigurationsDataLinks) {
    for (const QString package : {"Sales_Overall", "Sales_upload"}) {
        SCOPED_TRACE(package.toStdString());
        Warehouse("Sales");
        ASSERT_TRUE(
            job.StorePackage(runjob::PackageXml(package, runjob::LoadFileSteps("rows.csv"))));
        Config c = config(package);
        c.extra = Job::FlatFileSection("Sales", "Files", files);
        const QString cfg = job.WriteConfig(package + ".etl", c);

        const auto r = run(cfg);
        EXPECT_EQ(r.exitCode, 0) << r.err.constData();
        EXPECT_EQ(readAll(status), "ok\r\n");
        EXPECT_EQ(job.Count("SELECT count(*) FROM loaded"), 3);
        const QJsonArray links = job.DataLinks("Sales");
        ASSERT_EQ(links.size(), 1);
        EXPECT_EQ(links.at(0).toObject().value("strDSDirectory").toString(), files);

        const QStringList log = LogLines(runLog);
        ASSERT_GE(log.size(), 8) << log.join('\n').toStdString();
        EXPECT_TRUE(log.at(0).startsWith("Pendrill ")) << "truncated: the log starts afresh";
        EXPECT_EQ(log.at(1),
                  "Run at : " +
                      QLocale(QLocale::English).toString(QDate::currentDate(), "dddd, MMM d yyyy"));
        EXPECT_EQ(log.mid(2, 6),
                  QStringList(
                      {"DTS Server info         : (local)", "DTS Package name        : " + package,
                       "Data Warehouse server   : (local)", "Data Warehouse database : DW",
                       "Pendrill Config file      : " + cfg, "Loaded DTS Package : " + package}));
        EXPECT_TRUE(log.contains("Executing DTS package : " + package));
        EXPECT_EQ(log.last(), "Executed successfully.") << "the step logs come before";
        EXPECT_EQ(readAll(copy), readAll(runLog));

        const QJsonObject rec = job.History().at(0).toObject();
        EXPECT_EQ(rec.value("Status").toInt(), 0);
        EXPECT_EQ(rec.value("Message").toString(), "");
        EXPECT_EQ(rec.value("JobIdentifier").toString(), "5");
        EXPECT_EQ(rec.value("SourceDatabase").toString(), "DTS Local Packages");
        EXPECT_EQ(rec.value("Arguments").toArray().at(1).toString(), package);
        QDir(home.dataHome() + "/pendrill/servers/local").remove("DW.db");
    }
}

// Packages outside the four ETL-model suffixes run without any data-link step: the warehouse
// here has no catalogue at all.
TEST_F(RunFixture, OtherPackagesRunWithoutDataLinks) {
    const QString package = "Sales_LoadDW";
    ASSERT_TRUE(job.StorePackage(runjob::PackageXml(
        package,
        "<Step name=\"Mark\"><ExecuteSql connection=\"Warehouse\"><Statement>CREATE "
        "TABLE marks (job TEXT)</Statement></ExecuteSql></Step>")));
    ASSERT_TRUE(testsupport::writeAll(home.dataHome() + "/pendrill/servers/local/DW.db", ""));
    const QString cfg = job.WriteConfig("other.etl", config(package));
    const auto r = run(cfg);
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(readAll(status), "ok\r\n");
    EXPECT_EQ(job.Count("SELECT count(*) FROM marks"), 0) << "the table exists";
    EXPECT_FALSE(job.Count("SELECT count(*) FROM dwm_data_link") >= 0);
}

// Every way a run fails before or during execution: exit status, run-log text, job history.
TEST_F(RunFixture, FailureTable) {
    const QString bad =
        "<Step name=\"Bad\"><ExecuteSql connection=\"Warehouse\"><Statement>"
        "SELECT * FROM no_such_table</Statement></ExecuteSql></Step>";
    const QString good = runjob::LoadFileSteps("rows.csv");
    enum Warehouse { WithCatalogue, WithoutCatalogue };
    struct Case {
        const char* name;
        QString package;  // configured
        QString stored;   // document stored (empty: none)
        Warehouse dw;
        int transfer;      // transfer_data of the data link "Files"
        QString database;  // of the configuration
        QString dwServer;  // of the configuration; empty: (local)
        bool corrupt;      // the stored document is damaged behind the store's back
        int exit;
        QString logText;  // a run-log line (lines joined by CR LF); empty: not checked
        int history;      // the record's status; -1: no record closed
        QString message;  // the record's message; empty: not checked
    };
    const QString failed = "Error: DTS package execute error\r\nBad in 'X_LoadDW' failed.";
    const QString noGlobal =
        "Error: DTS package execute error\r\nGlobal variable 'JobID' is missing in DTS package "
        "'X_LoadDW'.";
    const QString loadError =
        "Error: DTS package loading error\r\nCan not load DTS Package from SQL Server : X_LoadDW";
    const Case cases[] = {
        {"no package", "", "", WithCatalogue, 0, "DW", "", false, 4, "DTS Package not filled", -1,
         ""},
        {"no warehouse database", "X_LoadDW", runjob::PackageXml("X_LoadDW", bad), WithCatalogue, 0,
         "", "", false, 4, "Data warehouse database not filled", -1, ""},
        {"package not in the store", "X_LoadDW", "", WithCatalogue, 0, "DW", "", false, 4,
         "DTS Package not filled", -1, ""},
        // A name without any step suffix belongs to no model, so the package list never holds it.
        {"package without a step suffix", "Nightly", runjob::PackageXml("Nightly", bad),
         WithCatalogue, 0, "DW", "", false, 4, "DTS Package not filled", -1, ""},
        {"package does not load", "X_LoadDW", runjob::PackageXml("X_LoadDW", bad), WithoutCatalogue,
         0, "DW", "", true, 2, loadError, 2,
         "DTS Package loading error: Can not load DTS Package from SQL Server : X_LoadDW"},
        {"failing step", "X_LoadDW", runjob::PackageXml("X_LoadDW", bad), WithoutCatalogue, 0, "DW",
         "", false, 1, failed, 3, RemoveBreaks(failed)},
        {"missing global variable", "X_LoadDW", runjob::PackageXml("X_LoadDW", bad, {"JobID"}),
         WithoutCatalogue, 0, "DW", "", false, 1, noGlobal, 3, RemoveBreaks(noGlobal)},
        {"no dwm_data_link", "X_Overall", runjob::PackageXml("X_Overall", good), WithoutCatalogue,
         0, "DW", "", false, 2,
         "dwm_data_link table not found in specified data warehouse database.", 2,
         "Table dwm_data_link not found in specified data warehouse database."},
        {"warehouse server unknown", "X_Overall", runjob::PackageXml("X_Overall", good),
         WithCatalogue, 0, "DW", "nosuchserver", false, 3, "", 1, ""},
        {"remote data", "X_Overall", runjob::PackageXml("X_Overall", good), WithCatalogue, 1, "DW",
         "", false, 5, "", -1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::IsolatedHome caseHome;
        Job j(caseHome);
        if (!c.stored.isEmpty())
            ASSERT_TRUE(j.StorePackage(c.stored));
        else  // an empty package store
            ASSERT_TRUE(j.StorePackage(runjob::PackageXml("Y_LoadDW", bad)));
        const QString local = caseHome.dataHome() + "/pendrill/servers/local/";
        if (c.dw == WithCatalogue) {
            ASSERT_TRUE(j.InitWarehouse());
            ASSERT_TRUE(j.AddDataLink("X", "Files",
                                      {"--type", "3", "--ds-directory", files, "--transfer-data",
                                       QString::number(c.transfer), "--ftp-server", "ftp.example",
                                       "--remote-directory", "/out/"}));
        } else {
            ASSERT_TRUE(testsupport::writeAll(local + "DW.db", ""));  // an empty database
        }
        if (c.corrupt) {
            ASSERT_TRUE(j.Exec("UPDATE sysdtspackages SET packagedata = '<Package'", "msdb"));
        }
        Config cfg = config(c.package);
        cfg.database = c.database;
        cfg.dwServer = c.dwServer;
        const QString file = j.WriteConfig("case.etl", cfg);
        const auto r = j.Pendrill({"-configfile", file, "-statusfile", status, "-job_id", "9"});
        EXPECT_EQ(r.exitCode, c.exit) << r.err.constData();
        EXPECT_EQ(readAll(status), "failure\r\n");
        const QString log = QString::fromUtf8(readAll(runLog));
        if (!c.logText.isEmpty()) {
            EXPECT_TRUE(log.contains(c.logText + "\r\n")) << log.toStdString();
        }
        EXPECT_FALSE(r.err.isEmpty()) << "the scheduler's log says why";
        const QJsonArray history = j.History();
        if (c.history < 0) {
            EXPECT_EQ(history.size(), 0);
        } else {
            ASSERT_EQ(history.size(), 1);
            const QJsonObject rec = history.at(0).toObject();
            EXPECT_EQ(rec.value("Status").toInt(), c.history);
            if (!c.message.isEmpty()) {
                EXPECT_EQ(rec.value("Message").toString(), c.message);
            }
            EXPECT_EQ(rec.value("JobIdentifier").toString(), "9");
            EXPECT_EQ(rec.value("Arguments").toArray().at(0).toString(), "DTS");
            EXPECT_EQ(rec.value("Arguments").toArray().at(1).toString(), c.package);
        }
        QFile::remove(runLog);
        QFile::remove(status);
    }
}

// The same ETL-model run with the package store and the warehouse on a PostgreSQL server, reached
// through a server alias with a login of its own.
TEST(RunOnPostgres, EtlModelPackageLoadsThroughTheConfigurationsDataLink) {
    testsupport::IsolatedHome home;
    testsupport::TestPostgres* pg = nullptr;
    PENDRILL_SHARED_POSTGRES(pg);
    ASSERT_TRUE(
        WriteRegistryValue(QString::fromLatin1(ServerAliasKey), "pgrun",
                           QStringLiteral("postgresql://%1:%2").arg(pg->host()).arg(pg->port())));
    Job job(home, runjob::Server{"pgrun", false, pg->superuser(), pg->password()});
    const QString db = "runseq_dw";
    const QString files = home.file("files/");
    QDir().mkpath(files);
    testsupport::writeAll(files + "rows.csv", kRows);
    ASSERT_TRUE(job.InitWarehouse(db));
    ASSERT_TRUE(
        job.AddDataLink("PgSales", "Files", {"--type", "3", "--ds-directory", "/old/"}, db));
    ASSERT_TRUE(job.StorePackage(
        runjob::PackageXml("PgSales_Transformations", runjob::LoadFileSteps("rows.csv"))));
    Config c;
    c.package = "PgSales_Transformations";
    c.logFile = home.file("run.log");
    c.logDir = home.file("logs");
    c.database = db;
    c.extra = Job::FlatFileSection("PgSales", "Files", files);
    const QString status = home.file("status");
    const auto r = job.Pendrill(
        {"-configfile", job.WriteConfig("pg.etl", c), "-statusfile", status, "-job_id", "31"});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData() << readAll(c.logFile).constData();
    EXPECT_EQ(readAll(status), "ok\r\n");
    EXPECT_EQ(job.Count("SELECT count(*) FROM loaded", db), 3);
    EXPECT_EQ(job.DataLinks("PgSales", db).at(0).toObject().value("strDSDirectory").toString(),
              files);
    const QJsonObject rec = job.History().at(0).toObject();
    EXPECT_EQ(rec.value("Status").toInt(), 0);
    EXPECT_EQ(rec.value("SourceUser").toString(), pg->superuser());
    EXPECT_EQ(rec.value("TargetDatabase").toString(), db);
}
