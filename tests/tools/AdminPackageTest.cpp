// pendrill-admin package: documents imported into the package store of the embedded server and of
// PostgreSQL, run the way a run of Pendrill runs them.

#include <gtest/gtest.h>

#include <QFile>
#include <algorithm>

#include "config/CRegSettings.h"
#include "db/DbInterface.h"
#include "db/ServerResolver.h"
#include "support/TestPostgres.h"
#include "support/TestSupport.h"
#include "support/Warehouse.h"

using testsupport::admin;
using testsupport::err;
using testsupport::runProgram;

namespace {

// Every line of standard error names the program.
bool EveryLinePrefixed(const testsupport::ProcessResult& r) {
    const QStringList lines = err(r).split('\n', Qt::SkipEmptyParts);
    return !lines.isEmpty() && std::all_of(lines.begin(), lines.end(), [](const QString& line) {
        return line.startsWith("pendrill-admin: ");
    });
}

struct Values {
    QString logDir;  // ExceptionFilePath
    bool trusted = true;
    QString user, password;
    QString tag = "v1";
    bool withJobId = true;
};

// A package of docs/packages.md: the run's global variables holding `v`, a precedence graph
// with failures in two places, and a step leaving a dozen logs beside the package log.
QByteArray Package(const Values& v) {
    const QString t = v.trusted ? "true" : "false";
    QString globals =
        QStringLiteral(
            "<GlobalVariable name=\"ExceptionFilePath\">%1</GlobalVariable>"
            "<GlobalVariable name=\"DTSServer\">srv</GlobalVariable>"
            "<GlobalVariable name=\"DTSServerTrustedLogin\" type=\"boolean\">%2"
            "</GlobalVariable>"
            "<GlobalVariable name=\"DTSServerLoginUserName\">%3</GlobalVariable>"
            "<GlobalVariable name=\"DTSServerLoginPassword\">%4</GlobalVariable>"
            "<GlobalVariable name=\"DestinationServer\">srv</GlobalVariable>"
            "<GlobalVariable name=\"DestServerTrustedLogin\" type=\"boolean\">%2"
            "</GlobalVariable>"
            "<GlobalVariable name=\"DestServerLoginUserName\">%3</GlobalVariable>"
            "<GlobalVariable name=\"DestServerLoginPassword\">%4</GlobalVariable>"
            "<GlobalVariable name=\"DestServerDatabaseName\">pkg_dw</GlobalVariable>"
            "<GlobalVariable name=\"WriteCompletionStatusToNT\" type=\"boolean\">false"
            "</GlobalVariable>"
            "<GlobalVariable name=\"OverwriteGlobalSettings\" type=\"boolean\"/>"
            "<GlobalVariable name=\"Retries\" type=\"integer\">3</GlobalVariable>")
            .arg(v.logDir, t, v.user, v.password);
    if (v.withJobId)
        globals += "<GlobalVariable name=\"JobID\">0</GlobalVariable>";
    return QStringLiteral(
               "<?xml version=\"1.0\"?>\n<Package name=\"Sales_LoadDW\" description=\"%2\">\n"
               "<GlobalVariables>%1</GlobalVariables>\n<Connections>"
               "<Connection name=\"DW\" server=\"${DestinationServer}\" "
               "database=\"${DestServerDatabaseName}\" user=\"${DestServerLoginUserName}\" "
               "password=\"${DestServerLoginPassword}\" trusted=\"${DestServerTrustedLogin}\"/>"
               "</Connections>\n<Steps>\n"
               "<Step name=\"Record\"><ExecuteSql connection=\"DW\"><Statement "
               "parameters=\"%3OverwriteGlobalSettings\">INSERT INTO runs VALUES (%4?, '%2')"
               "</Statement></ExecuteSql></Step>\n"
               "<Step name=\"Fail early\"><ExecuteSql connection=\"DW\"><Statement>INSERT INTO "
               "nowhere VALUES (1)</Statement></ExecuteSql></Step>\n"
               "<Step name=\"Never\"><ExecuteSql connection=\"DW\"><Statement>DELETE FROM runs"
               "</Statement></ExecuteSql><Precedence step=\"Fail early\"/></Step>\n"
               "<Step name=\"Handle\"><ExecuteSql connection=\"DW\"><Statement>SELECT x FROM "
               "nowhere</Statement></ExecuteSql><Precedence step=\"Fail early\" on=\"failure\"/>"
               "</Step>\n"
               "<Step name=\"Last\"><ExecuteSql connection=\"DW\"><Statement>INSERT INTO runs "
               "VALUES ('last', NULL, 'last')</Statement></ExecuteSql>"
               "<Precedence step=\"Handle\" on=\"completion\"/></Step>\n"
               "<Step name=\"Files\"><RunProgram program=\"sh\"><Argument>-c</Argument>"
               "<Argument>for i in 1 2 3 4 5 6 7 8 9 10 11 12; do echo \"file $i\" &gt; "
               "\"$0f$i.log\"; done</Argument><Argument>${ExceptionFilePath}</Argument>"
               "</RunProgram></Step>\n"
               "</Steps></Package>\n")
        .arg(globals, v.tag, v.withJobId ? "JobID," : "", v.withJobId ? "?, " : "'none', ")
        .toUtf8();
}

TEST(AdminPackage, MalformedDocumentsAreRefusedWithTheirLines) {
    testsupport::IsolatedHome home;
    ASSERT_EQ(admin({"server", "add", "srv", "sqlite:" + home.file("srv")}).exitCode, 0);
    testsupport::writeAll(
        home.file("bad.xml"),
        Package({}).replace("step=\"Fail early\" on=\"failure\"", "step=\"Nope\""));
    const auto r = admin({"package", "import", home.file("bad.xml"), "--server", "srv"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(err(r).contains("line 9: ")) << err(r).toStdString();
    EXPECT_TRUE(err(r).contains("was not stored"));
    EXPECT_TRUE(EveryLinePrefixed(r)) << err(r).toStdString();

    // A data link is read from the rows of the package's model, which its name must give.
    const QByteArray withLink =
        Package({}).replace("</Connections>",
                            "<Connection name=\"Files\" dataLink=\"Orders\"/>"
                            "</Connections>");
    for (const char* name : {"Orders", "_LoadDW", "Sales-LoadDW"}) {
        testsupport::writeAll(home.file("link.xml"),
                              QByteArray(withLink).replace("Sales_LoadDW", name));
        const auto refused = admin({"package", "import", home.file("link.xml"), "--server", "srv"});
        EXPECT_EQ(refused.exitCode, 1) << name;
        EXPECT_TRUE(err(refused).contains(QStringLiteral("package %1 uses the data-link connection "
                                                         "'Files', but its name gives no model")
                                              .arg(name)))
            << err(refused).toStdString();
        EXPECT_TRUE(err(refused).contains("_Overall, _ProcessTransformations, _Upload"));
        EXPECT_TRUE(EveryLinePrefixed(refused)) << err(refused).toStdString();
    }
    EXPECT_EQ(admin({"package", "list", "--server", "srv"}).out, "");
    testsupport::writeAll(home.file("link.xml"), withLink);
    EXPECT_EQ(admin({"package", "import", home.file("link.xml"), "--server", "srv"}).exitCode, 0);

    const QStringList usage[] = {{"import", home.file("bad.xml")},  // no --server
                                 {"run", "X", "--server", "srv", "--set", "DTSServer=y"},
                                 {"run", "X", "--server", "srv", "--set", "novalue"},
                                 {"frobnicate"}};
    for (const QStringList& args : usage)
        EXPECT_EQ(admin(QStringList{"package"} + args).exitCode, 2) << args.join(' ').toStdString();
    EXPECT_EQ(admin({"package", "import", home.file("missing.xml"), "--server", "srv"}).exitCode,
              1);
    EXPECT_EQ(admin({"package", "--help"}).exitCode, 0);
}

class AdminPackageRun : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        QString alias = "sqlite:" + home.file("srv");
        if (GetParam() == Backend::PostgreSQL) {
            testsupport::TestPostgres* pg = nullptr;
            PENDRILL_SHARED_POSTGRES(pg);
            QString why;
            ASSERT_TRUE(pg->createDatabase("pkg_dw", &why)) << why.toStdString();
            alias = pg->aliasText();
            values.trusted = false;
            values.user = pg->superuser();
            values.password = pg->password();
            login = {"--user", values.user, "--password", values.password};
        }
        ASSERT_TRUE(WriteRegistryValue(QString::fromLatin1(ServerAliasKey), "srv", alias));
        dw.Provider = "sqloledb";
        dw.CreateMissingDatabase = true;
        dw.SetProperty("Data Source", "srv");
        dw.SetProperty("Initial Catalog", "pkg_dw");
        if (values.trusted) {
            dw.SetProperty("Integrated Security", "SSPI");
        } else {
            dw.SetProperty("User ID", values.user);
            dw.SetProperty("Password", values.password);
        }
        ASSERT_TRUE(dw.Open()) << dw.ErrorText().toStdString();
        ASSERT_TRUE(dw.Execute("CREATE TABLE runs (job TEXT, overwrite TEXT, tag TEXT)"));
        values.logDir = home.file("logs") + "/";
    }

    testsupport::ProcessResult package(const QString& verb, const QStringList& more) {
        return admin(QStringList{"package", verb} + more + QStringList{"--server", "srv"} + login);
    }
    testsupport::ProcessResult import(const Values& v) {
        testsupport::writeAll(home.file("p.xml"), Package(v));
        return package("import", {home.file("p.xml")});
    }
    // The runs recorded, oldest first, with the overwrite flag as 0/1.
    QStringList Runs() {
        DbRecordset rs;
        EXPECT_TRUE(rs.Open("SELECT job, overwrite, tag FROM runs", dw));
        QStringList rows;
        for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
            QString flag = rs.Field(1).toString();
            flag = flag == "true" ? "1" : flag == "false" ? "0" : flag;
            rows << rs.Field(0).toString() + "|" + flag + "|" + rs.Field(2).toString();
        }
        dw.Execute("DELETE FROM runs");
        return rows;
    }

    testsupport::IsolatedHome home;
    Values values;
    QStringList login;
    DbConnection dw;
};

TEST_P(AdminPackageRun, ImportRunVersionsAndDelete) {
    ASSERT_EQ(import(values).exitCode, 0);
    Values second = values;
    second.tag = "v2";
    const auto stored = import(second);
    ASSERT_EQ(stored.exitCode, 0) << err(stored).toStdString();

    // The newest version runs, named in another letter case. Its global variables already hold
    // the run's values: nothing is overwritten. Two steps fail, the step waiting for a success
    // never runs. The package log, written under the package's own name, is merged first.
    const QStringList run = {"sales_LOADDW", "--logdir", home.file("logs"), "--exception-file",
                             home.file("exceptions.txt")};
    auto r = package("run", run + QStringList{"--set", "JobID=77"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(err(r),
              "pendrill-admin: Fail early in 'Sales_LoadDW' failed.\n"
              "pendrill-admin: Handle in 'Sales_LoadDW' failed.\n");
    EXPECT_EQ(Runs(), QStringList({"77|0|v2", "last||last"}));
    const QString merged = QString::fromUtf8(testsupport::readAll(home.file("exceptions.txt")));
    EXPECT_TRUE(merged.section("\r\n", 0, 0).endsWith("Step 'Record' started."))
        << merged.toStdString();
    EXPECT_TRUE(merged.contains("Step 'Fail early' failed."));
    EXPECT_FALSE(merged.contains("Step 'Never'"));
    EXPECT_TRUE(merged.contains("file 12\n"));

    // A value that differs from the package's own is written and flagged; without an exception
    // file the merged log is printed.
    r = package("run", {"Sales_LoadDW", "--set", "DestServerDatabaseName=pkg_dw", "--logdir",
                        home.file("other")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(
        r.out.contains("Package 'Sales_LoadDW' completed with failures: 3 steps "
                       "succeeded, 2 failed, 1 not run."))
        << r.out.constData();
    EXPECT_EQ(Runs(), QStringList({"0|1|v2", "last||last"}));

    // Versions: newest first; an older one can be exported.
    const auto versions = package("list-versions", {"sales_loaddw"});
    ASSERT_EQ(versions.exitCode, 0);
    const QStringList lines = QString::fromUtf8(versions.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith("\tv2"));
    const QString oldest = lines[1].section('\t', 0, 0);
    ASSERT_EQ(package("export", {"Sales_LoadDW", "--version", oldest, "-o", home.file("old.xml")})
                  .exitCode,
              0);
    EXPECT_EQ(testsupport::readAll(home.file("old.xml")), Package(values));

    // A --set naming no variable of the package, or giving an integer something else, is wrong
    // usage, refused before the log directory is emptied or anything runs.
    testsupport::writeAll(home.file("logs/earlier.log"), "earlier run");
    for (const char* set : {"NoSuchVariable=1", "Retries=three", "retries=", "Retries=5x"}) {
        r = package("run", {"Sales_LoadDW", "--logdir", home.file("logs"), "--set", "JobID=5",
                            "--set", set});
        EXPECT_EQ(r.exitCode, 2) << set;
        EXPECT_TRUE(err(r).contains(QString(set).section('=', 0, 0))) << err(r).toStdString();
        EXPECT_EQ(testsupport::readAll(home.file("logs/earlier.log")), "earlier run") << set;
        EXPECT_TRUE(Runs().isEmpty()) << set;
    }
    r = package("run", {"Sales_LoadDW", "--logdir", home.file("logs"), "--set", "retries=12"});
    EXPECT_EQ(r.exitCode, 1) << err(r).toStdString();
    EXPECT_FALSE(QFile::exists(home.file("logs/earlier.log")));
    EXPECT_EQ(Runs(), QStringList({"0|0|v2", "last||last"}));

    // A package that lacks a run variable is not executed.
    Values noJob = values;
    noJob.withJobId = false;
    ASSERT_EQ(import(noJob).exitCode, 0);
    r = package("run", {"Sales_LoadDW"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(err(r).contains("Global variable 'JobID' is missing in DTS package 'Sales_LoadDW'"))
        << err(r).toStdString();
    EXPECT_TRUE(Runs().isEmpty());

    // Deleting removes every version; the package can then no longer be loaded.
    r = package("delete", {"SALES_LOADDW"});
    EXPECT_EQ(r.exitCode, 0) << err(r).toStdString();
    EXPECT_EQ(r.out, "deleted package SALES_LOADDW (3 versions)\n");
    r = package("run", {"Sales_LoadDW"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(err(r).startsWith(
        "pendrill-admin: Can not load DTS Package from SQL Server : Sales_LoadDW\n"));
}

PENDRILL_ON_EMBEDDED_AND_POSTGRES(AdminPackageRun);

}  // namespace
