// The unattended run from the scheduler's command to the exit status: run log, status file,
// job-history record, rows loaded, data links saved; stops and the window modes without display.

#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QLocale>
#include <QThread>

#include "RunJob.h"
#include "config/CRegSettings.h"
#include "db/ServerResolver.h"
#include "support/TestPostgres.h"

using runjob::Config;
using runjob::Job;
using runjob::LogLines;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

const QString kSelectOne =
    "<Step name=\"One\"><ExecuteSql connection=\"Warehouse\"><Statement>SELECT 1</Statement>"
    "</ExecuteSql></Step>";
const QString kBadStep =
    "<Step name=\"Bad\"><ExecuteSql connection=\"Warehouse\"><Statement>"
    "SELECT * FROM no_such_table</Statement></ExecuteSql></Step>";

// A job in a private home: the files of the data link "Files", and the warehouse "DW" either with
// its catalogue (the data link of `model` still pointing elsewhere) or without one.
struct Scene {
    testsupport::IsolatedHome home;
    Job job{home};
    QString files = home.file("files/"), runLog = home.file("run.log"),
            status = home.file("status"), copy = home.file("copy.log");

    explicit Scene(const QString& model = QString()) {
        QDir().mkpath(files);
        writeAll(files + "rows.csv", "1;alpha\n2;beta\n3;gamma\n");
        if (model.isEmpty())
            job.EmptyWarehouse();
        else
            EXPECT_TRUE(job.InitWarehouse() &&
                        job.AddDataLink(model, "Files",
                                        QStringList{"--type", "3", "--ds-directory", "/old/"}));
    }
    Config config(const QString& package) const { return job.Standard(package); }
};

QString Unbroken(QString text) {
    return text.remove("\r\n");
}

}  // namespace

// Runs that end "ok": ETL-model packages (any letter case of the suffix) get the configuration's
// data links into dwm_data_link before they read them; another package runs without any
// data-link step; the exception file is truncated or kept, and copied to -logfile unless that
// names the same file. Relative names on the command line keep meaning the start directory,
// although the log merge changes the current directory.
TEST(Run, SuccessfulRuns) {
    enum LogFileArg { Other, Same, NoneGiven };
    const struct {
        QString package;
        bool truncate;
        LogFileArg logFile;
    } cases[] = {
        {"Sales_Overall", true, Other},
        {"Sales_upload", false, NoneGiven},
        {"Sales_LoadDW", true, Same},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.package.toStdString());
        const bool etl = !c.package.endsWith("LoadDW");
        Scene s(etl ? "Sales" : "");
        ASSERT_TRUE(s.job.StorePackage(
            runjob::PackageXml(c.package, etl ? runjob::LoadFileSteps("rows.csv") : kSelectOne)));
        writeAll(s.runLog, "line of an earlier run\r\n");
        Config cfg = s.config(c.package);
        cfg.truncate = c.truncate;
        cfg.extra = runjob::FlatFileSection("Sales", "Files", s.files);
        const QString etlFile = s.job.WriteConfig("run.etl", cfg);
        QStringList args = {"-configfile", etlFile, "-statusfile", "status", "-job_id", "5"};
        if (c.logFile != NoneGiven)
            args << "-logfile" << (c.logFile == Same ? s.runLog : "copy.log");
        const auto r = s.job.Pendrill(args);
        EXPECT_EQ(r.exitCode, 0) << r.err.constData();
        EXPECT_EQ(readAll(s.status), "ok\r\n");
        if (etl) {
            EXPECT_EQ(s.job.Count("SELECT count(*) FROM loaded"), 3);
            EXPECT_EQ(s.job.DataLinkDirectory("Sales"), s.files);
        }

        QStringList log = LogLines(s.runLog);
        if (!c.truncate) {
            ASSERT_GE(log.size(), 2);
            EXPECT_EQ(log.takeFirst(), "line of an earlier run");
            EXPECT_EQ(log.takeFirst(), "Loading DTS Package : " + c.package);
        }
        ASSERT_GE(log.size(), 9);
        EXPECT_TRUE(log.at(0).startsWith("Pendrill "));
        EXPECT_EQ(
            log.mid(1, 8),
            QStringList(
                {"Run at : " +
                     QLocale(QLocale::English).toString(QDate::currentDate(), "dddd, MMM d yyyy"),
                 "DTS Server info         : (local)", "DTS Package name        : " + c.package,
                 "Data Warehouse server   : (local)", "Data Warehouse database : DW",
                 "Pendrill Config file      : " + etlFile, "Loaded DTS Package : " + c.package,
                 "Executing DTS package : " + c.package}));
        EXPECT_EQ(log.last(), "Executed successfully.") << "behind the merged step logs";
        EXPECT_EQ(QFile::exists(s.copy), c.logFile == Other);
        if (c.logFile == Other) {
            EXPECT_EQ(readAll(s.copy), readAll(s.runLog));
        }
        const QJsonObject rec = s.job.History().at(0).toObject();
        EXPECT_EQ(rec["Status"].toInt(), 0);
        EXPECT_EQ(rec["Message"].toString(), "");
        EXPECT_EQ(rec["JobIdentifier"].toString(), "5");
        EXPECT_EQ(rec["Arguments"].toArray().at(1).toString(), c.package);
    }
}

// Every way a run fails: exit status, run-log text, job-history record (or none). Remote data
// that is not obtained: RunRemoteDataTest.cpp.
TEST(Run, FailureTable) {
    const QString good = runjob::LoadFileSteps("rows.csv");
    const QString failed = "Error: DTS package execute error\r\nBad in 'X_LoadDW' failed.";
    const QString noGlobal =
        "Error: DTS package execute error\r\nGlobal variable 'JobID' is missing in DTS package "
        "'X_LoadDW'.";
    const QString notLoaded = "Can not load DTS Package from SQL Server : X_LoadDW";
    const QString noTable = "dwm_data_link table not found in specified data warehouse database.";
    const struct {
        const char* name;
        QString package, stored;  // configured; document stored (empty: another package)
        bool catalogue;           // DW has dwm_data_link
        QString dwServer;
        bool corrupt;  // the stored document damaged behind the store's back
        int exit;
        QString logText;  // lines of the run log, CR LF joined; empty: not checked
        int history;      // the record's status; -1: no record closed
        QString message;
        QString dtsServer = {};
    } cases[] = {
        {"package not in the store", "X_LoadDW", "", true, "", false, 4,
         "DTS Package not filled\r\nPackage X_LoadDW is not among the packages of DTS server "
         "(local)",
         -1, ""},
        // The reason the package list could not be read follows in the run log.
        {"DTS server unknown", "X_LoadDW", runjob::PackageXml("X_LoadDW", kBadStep), true, "",
         false, 4,
         "DTS Package not filled\r\nPackage X_LoadDW is not among the packages of DTS server "
         "nosuchserver: Server 'nosuchserver' not found: it is no server alias of this machine "
         "(pendrill-admin server list) and not (local), '.' or localhost.",
         -1, "", "nosuchserver"},
        // A name without any step suffix belongs to no model, so the package list never holds it
        // (the store takes such a package only when it uses no data link).
        {"no step suffix", "Nightly",
         runjob::PackageXml("Nightly", kBadStep)
             .remove(QStringLiteral("<Connection name=\"Files\" dataLink=\"Files\"/>")),
         true, "", false, 4, "DTS Package not filled", -1, ""},
        {"package does not load", "X_LoadDW", runjob::PackageXml("X_LoadDW", kBadStep), false, "",
         true, 2, "Error: DTS package loading error\r\n" + notLoaded, 2,
         "DTS Package loading error: " + notLoaded},
        {"failing step", "X_LoadDW", runjob::PackageXml("X_LoadDW", kBadStep), false, "", false, 1,
         failed, 3, Unbroken(failed)},
        {"missing global variable", "X_LoadDW", runjob::PackageXml("X_LoadDW", kBadStep, {"JobID"}),
         false, "", false, 1, noGlobal, 3, Unbroken(noGlobal)},
        {"no dwm_data_link", "X_Overall", runjob::PackageXml("X_Overall", good), false, "", false,
         2, noTable, 2, "Table dwm_data_link not found in specified data warehouse database."},
        {"warehouse server unknown", "X_Overall", runjob::PackageXml("X_Overall", good), true,
         "nosuchserver", false, 3, "Error while connecting to : nosuchserver", 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s(c.catalogue ? "X" : "");
        ASSERT_TRUE(
            s.job.StorePackage(c.stored.isEmpty() ? runjob::PackageXml("Y_LoadDW", "") : c.stored));
        if (c.corrupt) {
            ASSERT_TRUE(s.job.Exec("UPDATE sysdtspackages SET packagedata = '<Package'", "msdb"));
        }
        Config cfg = s.config(c.package);
        cfg.dwServer = c.dwServer;
        cfg.dtsServer = c.dtsServer;
        const auto r = s.job.Pendrill({"-configfile", s.job.WriteConfig("case.etl", cfg),
                                       "-statusfile", s.status, "-job_id", "9"});
        EXPECT_EQ(r.exitCode, c.exit) << r.err.constData();
        EXPECT_EQ(readAll(s.status), "failure\r\n");
        EXPECT_FALSE(r.err.isEmpty()) << "the scheduler's own log says why";
        const QString log = QString::fromUtf8(readAll(s.runLog));
        EXPECT_TRUE(log.contains(c.logText + "\r\n")) << log.toStdString();
        const QJsonArray history = s.job.History();
        ASSERT_EQ(history.size(), c.history < 0 ? 0 : 1);
        if (c.history >= 0) {
            const QJsonObject rec = history.at(0).toObject();
            EXPECT_EQ(rec["Status"].toInt(), c.history);
            EXPECT_TRUE(c.message.isEmpty() || rec["Message"].toString() == c.message)
                << rec["Message"].toString().toStdString();
            EXPECT_EQ(rec["JobIdentifier"].toString(), "9");
            EXPECT_EQ(rec["Arguments"].toArray().at(1).toString(), c.package);
        }
    }
}

// SIGTERM in the middle of a long bulk insert: the run ends stopped within a bounded time, the
// record closed, no status file left at "running", only whole batches loaded.
TEST(Run, TerminationSignalStopsALongBulkInsert) {
    Scene s("Big");
    QFile big(s.files + "big.csv");
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    QByteArray chunk;
    for (int i = 0; i < 100000; ++i)
        chunk += QByteArray::number(i) + ";row " + QByteArray::number(i) + "\n";
    for (int i = 0; i < 40; ++i)  // 4,000,000 rows
        big.write(chunk);
    big.close();
    ASSERT_TRUE(s.job.StorePackage(
        runjob::PackageXml("Big_Overall", runjob::LoadFileSteps("big.csv", 20000))));

    Config cfg = s.config("Big_Overall");
    cfg.extra = runjob::FlatFileSection("Big", "Files", s.files);
    QProcess p;
    ASSERT_TRUE(s.job.Start(p, {"-configfile", s.job.WriteConfig("big.etl", cfg), "-statusfile",
                                s.status, "-job_id", "12"}));
    runjob::WaitUntil(
        [&] {
            return readAll(s.home.file("logs/Big_Overall.log")).contains("Step 'Load' started.") ||
                   p.state() == QProcess::NotRunning;
        },
        30000);
    QThread::msleep(200);
    ASSERT_EQ(p.state(), QProcess::Running) << "the load ended before it could be stopped";
    EXPECT_EQ(readAll(s.status), "running\r\n");
    QElapsedTimer clock;
    clock.start();
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(p.exitCode(), 6) << p.readAllStandardError().constData();
    EXPECT_EQ(readAll(s.status), "failure\r\n");
    const QStringList log = LogLines(s.runLog);
    EXPECT_TRUE(log.contains("Waiting for end of execution"));
    EXPECT_EQ(log.last(), "Execution stopped by the user");
    const int loaded = s.job.Count("SELECT count(*) FROM loaded");
    EXPECT_LT(loaded, 4000000);
    EXPECT_EQ(loaded % 20000, 0);
    const QJsonObject rec = s.job.History().at(0).toObject();
    EXPECT_EQ(rec["Status"].toInt(), 3);
    EXPECT_EQ(rec["Message"].toString(), "Execution stopped by the user");
}

// An ETL-model run with the package store and the warehouse on PostgreSQL, logged in by name.
TEST(Run, EtlModelPackageOnPostgres) {
    testsupport::IsolatedHome home;
    testsupport::TestPostgres* pg = nullptr;
    PENDRILL_SHARED_POSTGRES(pg);
    ASSERT_TRUE(WriteRegistryValue(ServerAliasKey, "pgrun",
                                   QString("postgresql://%1:%2").arg(pg->host()).arg(pg->port())));
    Job job(home, runjob::Server{"pgrun", false, pg->superuser(), pg->password()});
    const QString db = "runseq_dw";
    const auto r = job.Pendrill(
        {"-configfile", job.LoadJob("PgSales", "PgSales_Transformations", db), "-job_id", "31"});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData() << readAll(home.file("run.log")).constData();
    EXPECT_EQ(job.Count("SELECT count(*) FROM loaded", db), 3);
    EXPECT_EQ(job.DataLinkDirectory("PgSales", db), home.file("files/"));
    const QJsonObject rec = job.History().at(0).toObject();
    EXPECT_EQ(rec["Status"].toInt(), 0);
    EXPECT_EQ(rec["SourceUser"].toString(), pg->superuser());
}
