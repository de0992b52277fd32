// A run whose settings store names a PostgreSQL repository without a password: the password
// comes from the host's password file (PGPASSFILE), and the run records there. Many hosts
// creating one repository at once: history/JobHistoryReaderTest.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QUuid>

#include "RunJob.h"
#include "config/SettingsStore.h"
#include "history/Repository.h"
#include "support/TestPostgres.h"

TEST(Run, RecordsIntoAPostgresRepositoryWithThePasswordFile) {
    testsupport::TestPostgres* pg = nullptr;
    PENDRILL_SHARED_POSTGRES(pg);
    testsupport::IsolatedHome home;
    runjob::Job job(home);
    const QString etl = job.LoadJob("Sales", "Sales_Overall");
    const QString database = "shared_" + QUuid::createUuid().toString(QUuid::Id128).left(12);
    ASSERT_TRUE(WriteRegistryValue(Repository::RepositoryLocationKey,
                                   Repository::RepositoryLocationValue,
                                   QString("postgresql://%1@%2:%3/%4")
                                       .arg(pg->superuser(), pg->host())
                                       .arg(pg->port())
                                       .arg(database)));
    const QString pgpass = home.file("pgpass");
    ASSERT_TRUE(testsupport::writeAll(pgpass, QString("%1:%2:*:%3:%4\n")
                                                  .arg(pg->host())
                                                  .arg(pg->port())
                                                  .arg(pg->superuser(), pg->password())
                                                  .toUtf8()));
    ::chmod(QFile::encodeName(pgpass).constData(), 0600);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();  // this home's XDG dirs
    env.remove("PGPASSWORD");
    env.insert("PGPASSFILE", pgpass);

    const auto r = job.Pendrill({"-configfile", etl, "-job_id", "night-a"}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    qputenv("PGPASSFILE", pgpass.toUtf8());
    const QJsonArray records = job.History();
    qunsetenv("PGPASSFILE");
    ASSERT_EQ(records.size(), 1);
    const QJsonObject o = records.at(0).toObject();
    EXPECT_EQ(o.value("JobIdentifier").toString(), "night-a");
    EXPECT_EQ(o.value("Status").toInt(), 0);
    EXPECT_EQ(o.value("TargetDatabase").toString(), "DW");
    EXPECT_EQ(o.value("Arguments").toArray().at(1).toString(), "Sales_Overall");
}
