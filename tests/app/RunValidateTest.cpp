// pendrill -configfile FILE -validate: one line per check, the exit status the run would end with,
// and nothing written anywhere.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <functional>

#include "RunJob.h"
#include "config/CRegSettings.h"

using runjob::Config;
using runjob::Job;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

// An ETL-model package whose data links are a directory of files (the configuration's section
// points it at `files`; the catalogue still names another place) and a database on the same
// server.
struct Scene {
    testsupport::IsolatedHome home;
    Job job{home};
    QString files = home.file("files/");
    QString local = home.dataHome() + "/pendrill/servers/local/";

    Scene() {
        QDir().mkpath(files);
        QDir().mkpath(local);
        EXPECT_TRUE(writeAll(local + "Source.db", ""));
        EXPECT_TRUE(job.InitWarehouse());
        EXPECT_TRUE(
            job.AddDataLink("Sales", "Files", {"--type", "3", "--ds-directory", "/old/place/"}));
        EXPECT_TRUE(job.AddDataLink("Sales", "Source",
                                    {"--type", "1", "--ds-server", "(local)", "--ds-database",
                                     "Source", "--ds-trusted-login", "true"}));
        EXPECT_TRUE(job.StorePackage(runjob::PackageXml("Sales_Overall", "")));
    }
    Config config() const {
        Config c;
        c.package = "Sales_Overall";
        c.logFile = home.file("run.log");
        c.logDir = home.file("logs");
        c.extra = Job::FlatFileSection("Sales", "Files", files);
        return c;
    }
};

}  // namespace

TEST(Validate, GoodConfigurationCanRunAndNothingIsWritten) {
    Scene scene;
    const Job& job = scene.job;
    const QString& files = scene.files;
    const testsupport::IsolatedHome& home = scene.home;
    const QString status = home.file("status");
    const auto r =
        job.Pendrill({"-configfile", job.WriteConfig("good.etl", scene.config()), "-validate",
                      "-statusfile", status, "-logfile", home.file("copy")});
    EXPECT_EQ(r.exitCode, 0) << r.out.constData() << r.err.constData();
    const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 11) << r.out.constData();
    for (const QString& line : lines.mid(0, 10))
        EXPECT_TRUE(line.endsWith(": OK")) << line.toStdString();
    EXPECT_TRUE(lines.contains("data link Files (directory " + files + "): OK"))
        << "checked with the configuration's section applied";
    EXPECT_TRUE(lines.contains("data link Source (server (local), database Source): OK"));
    EXPECT_EQ(lines.last(), "The run can start.");

    EXPECT_FALSE(QFile::exists(status));
    EXPECT_FALSE(QFile::exists(home.file("run.log")));
    EXPECT_FALSE(QFile::exists(home.file("copy")));
    EXPECT_TRUE(job.History().isEmpty());
    EXPECT_EQ(job.DataLinks("Sales").at(0).toObject().value("strDSDirectory").toString(),
              "/old/place/")
        << "the catalogue is not changed";
}

TEST(Validate, BrokenConfigurationsNameTheCheckAndTheRunsExitStatus) {
    // Each case breaks a fresh scene and returns the configuration file to validate.
    struct Case {
        const char* name;
        std::function<QString(Scene&, Config&)> breakIt;
        int exit;
        QString line;  // a line of the output; %1 is the scene's files directory
    };
    const auto write = [](Scene& s, Config& c) { return s.job.WriteConfig("case.etl", c); };
    const Case cases[] = {
        {"configuration missing", [](Scene&, Config&) { return QString("/no/such.etl"); }, 2,
         "configuration file /no/such.etl: Can't find Config File /no/such.etl"},
        {"no package",
         [&](Scene& s, Config& c) {
             c.package.clear();
             return write(s, c);
         },
         4, "required settings: DTS Package not filled"},
        {"no log file",
         [&](Scene& s, Config& c) {
             c.logFile.clear();
             return write(s, c);
         },
         4, "required settings: DTS Error file not filled"},
        {"package that does not load",
         [&](Scene& s, Config& c) {
             EXPECT_TRUE(s.job.Exec("UPDATE sysdtspackages SET packagedata = 'x'", "msdb"));
             return write(s, c);
         },
         2, ""},
        {"package lacking a global variable",
         [&](Scene& s, Config& c) {
             EXPECT_TRUE(s.job.StorePackage(runjob::PackageXml("Sales_Overall", "", {"JobID"})));
             return write(s, c);
         },
         1, "global variables of the run: missing in the package: JobID"},
        {"warehouse server unknown",
         [&](Scene& s, Config& c) {
             c.dwServer = "nosuchserver";
             return write(s, c);
         },
         3, ""},
        {"no dwm_data_link",
         [&](Scene& s, Config& c) {
             EXPECT_TRUE(s.job.Exec("DROP TABLE dwm_data_link"));
             return write(s, c);
         },
         2, "dwm_data_link: dwm_data_link table not found in specified data warehouse database."},
        {"data-link directory missing",
         [&](Scene& s, Config& c) {
             QDir(s.files).removeRecursively();
             return write(s, c);
         },
         1, "data link Files (directory %1): directory %1 does not exist"},
        {"data-link database missing",
         [&](Scene& s, Config& c) {
             QFile::remove(s.local + "Source.db");
             return write(s, c);
         },
         1, ""},
        {"repository unreachable",
         [&](Scene& s, Config& c) {
             WriteRegistryValue("Software\\Tessaly\\Rook\\Repository", "Location",
                                s.home.file("no dir/repo.db"));
             return write(s, c);
         },
         3, "Rook repository: Cannot connect to the Rook Repository."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene scene;
        Config cfg = scene.config();
        const QString file = c.breakIt(scene, cfg);
        const auto r = scene.job.Pendrill({"-configfile", file, "-validate"});
        EXPECT_EQ(r.exitCode, c.exit) << r.out.constData();
        const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
        if (!c.line.isEmpty()) {
            EXPECT_TRUE(lines.contains(QString(c.line).replace("%1", scene.files)))
                << r.out.constData();
        }
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(lines.last(),
                  QString("The run would end with \"failure\" (exit status %1).").arg(c.exit));
        EXPECT_TRUE(scene.job.History().isEmpty());
    }
}
