#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "config/modCypher.h"
#include "support/TestSupport.h"

using testsupport::readAll;
using testsupport::runProgram;
using testsupport::writeAll;

namespace {
QString out(const testsupport::ProcessResult& r) {
    return QString::fromUtf8(r.out);
}
}  // namespace

TEST(AdminConfig, SetGetAndShowThroughScrambledKeys) {
    QTemporaryDir dir;
    const QString file = dir.filePath("night run.etl");
    ASSERT_TRUE(writeAll(file,
                         "; deployed by ansible\r\n"
                         "[Datawarehouse Server Info]\r\n"
                         "DWServer = warehouse \r\n"
                         "dwntaut=false\r\n"
                         "[Data Source::Orders Feed]\r\n"
                         "Name=Orders Feed\r\n"
                         "Type=3\r\n"
                         "FTPPassword=" +
                             EncryptPassword("ftp-pw", 5).toUtf8() +
                             "\r\n"
                             "[Unrelated]\r\nx=1\r\n"));
    auto r = runProgram("pendrill-admin", {"config", "set", file, "Datawarehouse Server Info",
                                           "DWPwd", "new pass; \"quoted\""});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_FALSE(readAll(file).contains("new pass")) << "stored scrambled";
    EXPECT_TRUE(
        readAll(file).startsWith("; deployed by ansible\r\n[Datawarehouse Server Info]\r\n"
                                 "DWServer = warehouse \r\ndwntaut=false\r\nDWPwd="));

    r = runProgram("pendrill-admin", {"config", "get", file, "datawarehouse server info", "dwpwd"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(out(r), "new pass; \"quoted\"\n");
    r = runProgram("pendrill-admin",
                   {"config", "get", file, "Data Source::Orders Feed", "FTPPassword"});
    EXPECT_EQ(out(r), "ftp-pw\n");
    r = runProgram("pendrill-admin", {"config", "get", file, "Unrelated", "missing"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("missing"));

    r = runProgram("pendrill-admin", {"config", "show", file});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QString shown = out(r);
    EXPECT_TRUE(shown.contains("[Package Info]\nPackage=\n")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("DWServer=warehouse\nDWNTAut=FALSE\nDWUser=\nDWPwd=********\n"));
    EXPECT_TRUE(
        shown.contains("[Data Source::Orders Feed]\nName=Orders Feed\nModelName=\nType=3\n"));
    EXPECT_TRUE(shown.contains("FTPPassword=********\n"));
    EXPECT_TRUE(shown.contains("TrustedLogin=FALSE\n"));
    EXPECT_TRUE(shown.contains("PollInterval=0\n"));
    EXPECT_FALSE(shown.contains("Unrelated"));
    EXPECT_FALSE(shown.contains("ftp-pw"));

    r = runProgram("pendrill-admin", {"config", "show", file, "--show-passwords"});
    EXPECT_TRUE(out(r).contains("DWPwd=new pass; \"quoted\"\n"));
    EXPECT_TRUE(out(r).contains("FTPPassword=ftp-pw\n"));
}

TEST(AdminConfig, NewFilesErrorsAndUsage) {
    QTemporaryDir dir;
    const QString file = dir.filePath("new.etl");
    auto r = runProgram("pendrill-admin",
                        {"config", "set", file, "Package Info", "Package", "Sales_Overall"});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(readAll(file), "[Package Info]\r\nPackage=Sales_Overall\r\n");

    r = runProgram("pendrill-admin", {"config", "show", dir.filePath("absent.etl")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("absent.etl"));
    r = runProgram("pendrill-admin", {"config", "set", file, "Package Info", "Bad\nKey", "v"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(readAll(file), "[Package Info]\r\nPackage=Sales_Overall\r\n") << "nothing lost";
    r = runProgram("pendrill-admin",
                   {"config", "set", dir.filePath("no dir/x.etl"), "A", "b", "c"});
    EXPECT_EQ(r.exitCode, 1);
    r = runProgram("pendrill-admin", {"config", "frobnicate"});
    EXPECT_EQ(r.exitCode, 2);
    r = runProgram("pendrill-admin", {"config", "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("show-passwords"));
}
