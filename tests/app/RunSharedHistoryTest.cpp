// Two runner hosts (two private homes, each with its own embedded warehouse and job) whose
// settings store names one PostgreSQL repository: runs started at the same moment both record
// there, and either host lists both.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QUuid>
#include <memory>

#include "RunJob.h"
#include "config/SettingsStore.h"
#include "history/Repository.h"
#include "support/TestPostgres.h"

namespace {

struct Host {
    QString home, etl;
    QProcessEnvironment env;
};

// Sets up a host in the current private home: a load job and the repository location (password
// in the host's password file).
void setUpHost(testsupport::IsolatedHome& home, const testsupport::TestPostgres& pg,
               const QString& database, Host& host) {
    host.etl = runjob::Job(home).LoadJob("Sales", "Sales_Overall");
    ASSERT_TRUE(WriteRegistryValue(Repository::RepositoryLocationKey,
                                   Repository::RepositoryLocationValue,
                                   QString("postgresql://%1@%2:%3/%4")
                                       .arg(pg.superuser(), pg.host())
                                       .arg(pg.port())
                                       .arg(database)));
    const QString pgpass = home.file("pgpass");
    ASSERT_TRUE(testsupport::writeAll(pgpass, QString("%1:%2:*:%3:%4\n")
                                                  .arg(pg.host())
                                                  .arg(pg.port())
                                                  .arg(pg.superuser(), pg.password())
                                                  .toUtf8()));
    ::chmod(QFile::encodeName(pgpass).constData(), 0600);
    host.home = home.path();
    host.env = QProcessEnvironment::systemEnvironment();  // this home's XDG directories
    host.env.insert("PGPASSFILE", pgpass);
}

}  // namespace

TEST(Run, TwoHostsRecordIntoOneSharedRepository) {
    testsupport::TestPostgres* pg = nullptr;
    PENDRILL_SHARED_POSTGRES(pg);
    const QString database = "shared_" + QUuid::createUuid().toString(QUuid::Id128).left(12);
    Host hosts[2];
    testsupport::IsolatedHome homeA;
    ASSERT_NO_FATAL_FAILURE(setUpHost(homeA, *pg, database, hosts[0]));
    testsupport::IsolatedHome homeB;  // from here on the test's own environment is B's
    ASSERT_NO_FATAL_FAILURE(setUpHost(homeB, *pg, database, hosts[1]));

    std::unique_ptr<QProcess> runs[2];
    for (int i = 0; i < 2; ++i) {
        runs[i] = std::make_unique<QProcess>();
        runs[i]->setProcessEnvironment(hosts[i].env);
        runs[i]->setWorkingDirectory(hosts[i].home);
        runs[i]->start(QString(PENDRILL_BIN_DIR) + "/pendrill",
                       {"-configfile", hosts[i].etl, "-job_id", i == 0 ? "night-a" : "night-b"});
    }
    for (auto& run : runs) {
        ASSERT_TRUE(run->waitForFinished(120000));
        EXPECT_EQ(run->exitCode(), 0) << run->readAllStandardError().constData();
    }

    for (const Host& host : hosts) {
        QProcess list;
        list.setProcessEnvironment(host.env);
        list.start(QString(PENDRILL_BIN_DIR) + "/pendrill-admin", {"history", "--json"});
        ASSERT_TRUE(list.waitForFinished(60000));
        ASSERT_EQ(list.exitCode(), 0) << list.readAllStandardError().constData();
        const QJsonArray records = QJsonDocument::fromJson(list.readAllStandardOutput()).array();
        ASSERT_EQ(records.size(), 2);
        QStringList jobs;
        for (const QJsonValue& v : records) {
            const QJsonObject o = v.toObject();
            jobs << o.value("JobIdentifier").toString();
            EXPECT_EQ(o.value("Status").toInt(), 0);
            EXPECT_EQ(o.value("TargetDatabase").toString(), "DW");
            EXPECT_EQ(o.value("Arguments").toArray().at(1).toString(), "Sales_Overall");
        }
        jobs.sort();
        EXPECT_EQ(jobs, QStringList({"night-a", "night-b"}));
    }
}
