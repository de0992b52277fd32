// pendrill-admin package: import, run, export and delete from the command line.

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <algorithm>

#include "db/DbInterface.h"
#include "support/TestSupport.h"

using testsupport::admin;
using testsupport::err;

namespace {

// Every line of standard error names the program.
bool EveryLinePrefixed(const testsupport::ProcessResult& r) {
    const QStringList lines = err(r).split('\n', Qt::SkipEmptyParts);
    return !lines.isEmpty() && std::all_of(lines.begin(), lines.end(), [](const QString& line) {
        return line.startsWith("pendrill-admin: ");
    });
}

// A package of docs/packages.md whose run variables already hold the values of a run from
// `logDir` (ExceptionFilePath): a precedence graph with failures in two places, and a step leaving
// a dozen logs beside the package log.
QByteArray Package(const QString& logDir, const QString& tag = "v1") {
    QString globals;
    for (const QString& v : QStringList{
             "ExceptionFilePath=" + logDir, "DTSServer=srv", "DTSServerTrustedLogin=true",
             "DTSServerLoginUserName=", "DTSServerLoginPassword=", "DestinationServer=srv",
             "DestServerTrustedLogin=true", "DestServerLoginUserName=", "DestServerLoginPassword=",
             "DestServerDatabaseName=pkg_dw", "WriteCompletionStatusToNT=false",
             "OverwriteGlobalSettings=", "Retries=3", "JobID=0"}) {
        const QString name = v.section('=', 0, 0);
        const char* type = name == "Retries" ? " type=\"integer\""
                           : name.contains(QRegularExpression("TrustedLogin|^Write|^Overwrite"))
                               ? " type=\"boolean\""
                               : "";
        globals += QStringLiteral("<GlobalVariable name=\"%1\"%2>%3</GlobalVariable>")
                       .arg(name, type, v.section('=', 1));
    }
    return QStringLiteral(
               R"(<?xml version="1.0"?>
<Package name="Sales_LoadDW" description="%2">
<GlobalVariables>%1</GlobalVariables>
<Connections><Connection name="DW" server="${DestinationServer}" )"
               R"(database="${DestServerDatabaseName}" trusted="${DestServerTrustedLogin}"/>)"
               R"(</Connections>
<Steps>
<Step name="Record"><ExecuteSql connection="DW"><Statement )"
               R"(parameters="JobID,OverwriteGlobalSettings">INSERT INTO runs VALUES (?, ?, '%2'))"
               R"(</Statement></ExecuteSql></Step>
<Step name="Fail early"><ExecuteSql connection="DW"><Statement>INSERT INTO nowhere VALUES (1))"
               R"(</Statement></ExecuteSql></Step>
<Step name="Never"><ExecuteSql connection="DW"><Statement>DELETE FROM runs</Statement>)"
               R"(</ExecuteSql><Precedence step="Fail early"/></Step>
<Step name="Handle"><ExecuteSql connection="DW"><Statement>SELECT x FROM nowhere</Statement>)"
               R"(</ExecuteSql><Precedence step="Fail early" on="failure"/></Step>
<Step name="Last"><ExecuteSql connection="DW"><Statement>INSERT INTO runs VALUES ('last', )"
               R"(NULL, 'last')</Statement></ExecuteSql><Precedence step="Handle" )"
               R"(on="completion"/></Step>
<Step name="Files"><RunProgram program="sh"><Argument>-c</Argument><Argument>for i in 1 2 3 4 )"
               R"(5 6 7 8 9 10 11 12; do echo "file $i" &gt; "$0f$i.log"; done</Argument>)"
               R"(<Argument>${ExceptionFilePath}</Argument></RunProgram></Step>
</Steps></Package>
)")
        .arg(globals, tag)
        .toUtf8();
}

TEST(AdminPackage, MalformedDocumentsAreRefusedWithTheirLines) {
    testsupport::IsolatedHome home;
    ASSERT_EQ(admin({"server", "add", "srv", "sqlite:" + home.file("srv")}).exitCode, 0);
    testsupport::writeAll(
        home.file("bad.xml"),
        Package("").replace("step=\"Fail early\" on=\"failure\"", "step=\"Nope\""));
    const auto r = admin({"package", "import", home.file("bad.xml"), "--server", "srv"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(err(r).contains("line 9: ")) << err(r).toStdString();
    EXPECT_TRUE(err(r).contains("was not stored"));
    EXPECT_TRUE(EveryLinePrefixed(r)) << err(r).toStdString();

    // A data link is read from the rows of the package's model, which its name must give.
    const QByteArray withLink =
        Package("").replace("</Connections>",
                            "<Connection name=\"Files\" dataLink=\"Orders\"/>"
                            "</Connections>");
    // Which names give a model: datasources/ConversionsAndModelsTest.
    for (const char* name : {"Orders", "Sales-LoadDW"}) {
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

    EXPECT_EQ(admin({"package", "import", home.file("missing.xml"), "--server", "srv"}).exitCode,
              1);
}

// The command line's own part of a run: its options, exit codes and output. What the store and
// the run do with a package on each kind of server is tested with the library
// (engine/PackageStoreTest, dts/PackageRunTest).
class AdminPackageRun : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(admin({"server", "add", "srv", "sqlite:" + home.file("srv")}).exitCode, 0);
        dw.Provider = "sqloledb";
        dw.CreateMissingDatabase = true;
        dw.SetProperty("Data Source", "srv");
        dw.SetProperty("Initial Catalog", "pkg_dw");
        ASSERT_TRUE(dw.Open()) << dw.ErrorText().toStdString();
        ASSERT_TRUE(dw.Execute("CREATE TABLE runs (job TEXT, overwrite TEXT, tag TEXT)"));
    }

    testsupport::ProcessResult package(const QString& verb, const QStringList& more) {
        return admin(QStringList{"package", verb} + more + QStringList{"--server", "srv"});
    }
    testsupport::ProcessResult import(const QString& tag) {
        testsupport::writeAll(home.file("p.xml"), Package(logDir, tag));
        return package("import", {home.file("p.xml")});
    }
    // The runs recorded, oldest first; emptied for the next run.
    QStringList Runs() {
        DbRecordset rs;
        EXPECT_TRUE(rs.Open("SELECT job, overwrite, tag FROM runs", dw));
        QStringList rows;
        for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext())
            rows << rs.Field(0).toString() + "|" + rs.Field(1).toString() + "|" +
                        rs.Field(2).toString();
        dw.Execute("DELETE FROM runs");
        return rows;
    }

    testsupport::IsolatedHome home;
    const QString logDir = home.file("logs") + "/";
    DbConnection dw;
};

TEST_F(AdminPackageRun, ImportRunExportAndDelete) {
    ASSERT_EQ(import("v1").exitCode, 0);
    const auto stored = import("v2");
    ASSERT_EQ(stored.exitCode, 0) << err(stored).toStdString();

    // The newest version runs, named in another letter case; its failed steps are the lines of
    // standard error, the merged log goes to the exception file.
    const QStringList run = {"sales_LOADDW", "--logdir", home.file("logs"), "--exception-file",
                             home.file("exceptions.txt")};
    auto r = package("run", run + QStringList{"--set", "JobID=77"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(err(r),
              "pendrill-admin: Fail early in 'Sales_LoadDW' failed.\n"
              "pendrill-admin: Handle in 'Sales_LoadDW' failed.\n");
    EXPECT_EQ(Runs(), QStringList({"77|0|v2", "last||last"}));
    const QString merged = QString::fromUtf8(testsupport::readAll(home.file("exceptions.txt")));
    EXPECT_TRUE(merged.contains("Step 'Fail early' failed.")) << merged.toStdString();

    // A --set value that differs from the package's own is written and flagged; without an
    // exception file the summary is printed.
    r = package("run", {"Sales_LoadDW", "--set", "DestServerDatabaseName=pkg_dw", "--logdir",
                        home.file("other")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(
        r.out.contains("Package 'Sales_LoadDW' completed with failures: 3 steps "
                       "succeeded, 2 failed, 1 not run."))
        << r.out.constData();
    EXPECT_EQ(Runs(), QStringList({"0|1|v2", "last||last"}));

    // Versions are listed with their descriptions; an older one can be exported.
    const auto versions = package("list-versions", {"sales_loaddw"});
    ASSERT_EQ(versions.exitCode, 0);
    const QStringList lines = QString::fromUtf8(versions.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith("\tv2"));
    const QString oldest = lines[1].section('\t', 0, 0);
    ASSERT_EQ(package("export", {"Sales_LoadDW", "--version", oldest, "-o", home.file("old.xml")})
                  .exitCode,
              0);
    EXPECT_EQ(testsupport::readAll(home.file("old.xml")), Package(logDir, "v1"));

    // A --set naming no variable of the package, or giving an integer something else, is wrong
    // usage, refused before the log directory is emptied or anything runs.
    const QString earlier = home.file("logs/Sales_LoadDW_Earlier_output.log");
    testsupport::writeAll(earlier, "earlier run");
    for (const char* set : {"NoSuchVariable=1", "Retries=three", "retries=", "Retries=5x"}) {
        r = package("run", {"Sales_LoadDW", "--logdir", home.file("logs"), "--set", "JobID=5",
                            "--set", set});
        EXPECT_EQ(r.exitCode, 2) << set;
        EXPECT_TRUE(err(r).contains(QString(set).section('=', 0, 0))) << err(r).toStdString();
        EXPECT_EQ(testsupport::readAll(earlier), "earlier run") << set;
        EXPECT_TRUE(Runs().isEmpty()) << set;
    }
    r = package("run", {"Sales_LoadDW", "--logdir", home.file("logs"), "--set", "retries=12"});
    EXPECT_EQ(r.exitCode, 1) << err(r).toStdString();
    EXPECT_FALSE(QFile::exists(earlier));
    EXPECT_EQ(Runs(), QStringList({"0|0|v2", "last||last"}));

    r = package("delete", {"SALES_LOADDW"});
    EXPECT_EQ(r.exitCode, 0) << err(r).toStdString();
    EXPECT_EQ(r.out, "deleted package SALES_LOADDW (2 versions)\n");
    const auto none = package("list", {});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_TRUE(none.out.isEmpty()) << "an empty store lists nothing";
}

}  // namespace
