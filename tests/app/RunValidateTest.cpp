// pendrill -configfile FILE -validate: one line per check, the exit status the run would end with,
// and nothing written anywhere.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <functional>

#include "RunJob.h"

using runjob::Config;
using runjob::Job;
using testsupport::readAll;

namespace {

// An ETL-model package whose data links are a directory of files (the configuration's section
// points it at `files`, the catalogue still elsewhere) and a database on the same server.
struct Scene {
    testsupport::IsolatedHome home;
    Job job{home};
    QString files = home.file("files/"), local = home.dataHome() + "/pendrill/servers/local/";
    Config config = job.Standard("Sales_Overall", runjob::FlatFileSection("Sales", "Files", files));
    Scene() {
        QDir().mkpath(files);
        QDir().mkpath(local);
        testsupport::writeAll(local + "Source.db", "");
        EXPECT_TRUE(job.InitWarehouse() &&
                    job.AddDataLink("Sales", "Files", {"--type", "3", "--ds-directory", "/old/"}) &&
                    job.AddDataLink("Sales", "Source",
                                    {"--type", "1", "--ds-server", "(local)", "--ds-database",
                                     "Source", "--ds-trusted-login", "true"}) &&
                    job.StorePackage(runjob::PackageXml("Sales_Overall", "")));
    }
    QStringList Validate(int* exit, const QString& file = QString()) {
        const auto r = job.Pendrill(
            {"-configfile", file.isEmpty() ? job.WriteConfig("v.etl", config) : file, "-validate",
             "-statusfile", home.file("status"), "-logfile", home.file("copy")});
        *exit = r.exitCode;
        return QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
    }
};

}  // namespace

// A good configuration passes every check, with the configuration's data-link section applied; a
// broken one names the check and the exit status the run would end with.
TEST(Validate, ChecksAndTheRunsExitStatus) {
    const struct {
        const char* name;
        std::function<QString(Scene&)> breakIt;  // may return the configuration file to use
        int exit;
        QString line;  // a line of the output; %1 stands for the scene's files directory
    } cases[] = {
        {"good", [](Scene&) { return QString(); }, 0, "data link Files (directory %1): OK"},
        {"configuration missing", [](Scene&) { return QString("/no/such.etl"); }, 2,
         "configuration file /no/such.etl: Can't find Config File /no/such.etl"},
        {"no package",
         [](Scene& s) {
             s.config.package.clear();
             return QString();
         },
         4, "required settings: DTS Package not filled"},
        {"package lacking a global variable",
         [](Scene& s) {
             s.job.StorePackage(runjob::PackageXml("Sales_Overall", "", {"JobID"}));
             return QString();
         },
         1, "global variables of the run: missing in the package: JobID"},
        {"warehouse server unknown",
         [](Scene& s) {
             s.config.dwServer = "nosuch";
             return QString();
         },
         3, ""},
        {"no dwm_data_link",
         [](Scene& s) {
             s.job.Exec("DROP TABLE dwm_data_link");
             return QString();
         },
         2, "dwm_data_link: dwm_data_link table not found in specified data warehouse database."},
        {"data-link directory missing",
         [](Scene& s) {
             QDir(s.files).removeRecursively();
             return QString();
         },
         1, "data link Files (directory %1): directory %1 does not exist"},
        {"data-link database missing",
         [](Scene& s) {
             QFile::remove(s.local + "Source.db");
             return QString();
         },
         1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        const QString file = c.breakIt(s);
        int exit = -1;
        const QStringList lines = s.Validate(&exit, file);
        EXPECT_EQ(exit, c.exit) << lines.join('\n').toStdString();
        EXPECT_TRUE(c.line.isEmpty() || lines.contains(QString(c.line).replace("%1", s.files)))
            << lines.join('\n').toStdString();
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(
            lines.last(),
            c.exit == 0
                ? QString("The run can start.")
                : QString("The run would end with \"failure\" (exit status %1).").arg(c.exit));
        for (const char* file : {"status", "run.log", "copy"})
            EXPECT_FALSE(QFile::exists(s.home.file(file))) << file;
        EXPECT_TRUE(s.job.History().isEmpty());
        if (c.exit == 0) {
            ASSERT_EQ(lines.size(), 11) << lines.join('\n').toStdString();
            for (const QString& line : lines.mid(0, 10))
                EXPECT_TRUE(line.endsWith(": OK")) << line.toStdString();
            EXPECT_TRUE(lines.contains("data link Source (server (local), database Source): OK"));
            EXPECT_EQ(s.job.DataLinkDirectory("Sales"), "/old/") << "the catalogue is left alone";
        }
    }
}
