#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>

#include "config/ExecDTSPackage.h"
#include "config/modCypher.h"
#include "support/TestSupport.h"

using testsupport::readAll;
using testsupport::writeAll;

namespace {
ExecDTSPackage filled(const QString& file) {
    ExecDTSPackage s;
    s.PendrillConfigFile = file;
    s.DTSPackageName = "Sales_Overall";
    s.ExceptionLogFile = "/var/log/pendrill/sales errors.log";
    s.LogFileDir = "/var/log/pendrill/sales";
    s.UseDefaultLogFileDir = false;
    s.TruncateExceptionLogFile = true;
    s.WriteCompletionStatusToNT = true;
    s.DTSServer = "(local)";
    s.DTSServerTrustedLogin = true;
    s.DTSLoginUserName = "";
    s.DTSLoginPassword = "";
    s.DWServer = "warehouse";
    s.DWServerTrustedLogin = false;
    s.DWServerLoginUserName = "etl";
    s.DWServerLoginPassword = "s3cret pass!";
    s.DWDatabaseName = "DW";
    return s;
}
}  // namespace

TEST(RunSettings, NewFileLayoutAndRoundTrip) {
    QTemporaryDir dir;
    const QString file = dir.filePath("nightly sales.etl");
    ExecDTSPackage out = filled(file);
    ASSERT_TRUE(out.WriteConfigFile());

    const QByteArray text = readAll(file);
    const QList<QByteArray> lines = text.split('\n');
    QStringList keys;
    for (const QByteArray& l : lines) {
        ASSERT_TRUE(l.isEmpty() || l.endsWith('\r')) << "CR LF line ends";
        const QByteArray t = l.trimmed();
        if (!t.isEmpty())
            keys << QString::fromUtf8(t.startsWith('[') ? t : t.left(t.indexOf('=')));
    }
    EXPECT_EQ(keys, QStringList({"[Package Info]", "Package", "LogFile", "LogFileDir",
                                 "UseDefaultLogFileDir", "TruncLogFile", "WriteEvent",
                                 "[DTS Server Info]", "DTSServer", "DTSNTAut", "DTSUser", "DTSPwd",
                                 "[Datawarehouse Server Info]", "DWServer", "DWNTAut", "DWUser",
                                 "DWPwd", "DWDB"}));
    EXPECT_TRUE(text.contains("TruncLogFile=TRUE\r\n"));
    EXPECT_TRUE(text.contains("UseDefaultLogFileDir=FALSE\r\n"));
    EXPECT_FALSE(text.contains("s3cret")) << "passwords are stored scrambled";

    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a new configuration is readable by its owner only";

    ExecDTSPackage in;
    in.PendrillConfigFile = file;
    ASSERT_TRUE(in.ReadConfigFile());
    EXPECT_EQ(in.DTSPackageName, out.DTSPackageName);
    EXPECT_EQ(in.ExceptionLogFile, out.ExceptionLogFile);
    EXPECT_EQ(in.LogFileDir, out.LogFileDir);
    EXPECT_EQ(in.TruncateExceptionLogFile, true);
    EXPECT_EQ(in.WriteCompletionStatusToNT, true);
    EXPECT_EQ(in.UseDefaultLogFileDir, false);
    EXPECT_EQ(in.DTSServerTrustedLogin, true);
    EXPECT_EQ(in.DWServerLoginPassword, "s3cret pass!");
    EXPECT_EQ(in.DWDatabaseName, "DW");
}

// For each length, one last character scrambles to a blank ("F", "Summer2024w"), whatever the
// second; such a value must still come back whole.
TEST(RunSettings, EveryPasswordReadsBack) {
    QTemporaryDir dir;
    const QString file = dir.filePath("pw.etl");
    for (char16_t c = 32; c <= 126; ++c) {
        ExecDTSPackage out = filled(file);
        out.DTSLoginPassword = QString(QChar(c));
        out.DWServerLoginPassword = QStringLiteral("Summer2024") + QChar(c);
        ASSERT_TRUE(out.WriteConfigFile());
        ExecDTSPackage in;
        in.PendrillConfigFile = file;
        ASSERT_TRUE(in.ReadConfigFile());
        ASSERT_EQ(in.DTSLoginPassword, out.DTSLoginPassword);
        ASSERT_EQ(in.DWServerLoginPassword, out.DWServerLoginPassword);
    }
}

TEST(RunSettings, ReadingHandWrittenFiles) {
    QTemporaryDir dir;
    const QString file = dir.filePath("hand.etl");
    ExecDTSPackage s;
    s.PendrillConfigFile = dir.filePath("missing.etl");
    s.DTSPackageName = "keep";
    EXPECT_FALSE(s.ReadConfigFile());
    EXPECT_EQ(s.DTSPackageName, "keep") << "nothing changes when the file is missing";

    ASSERT_TRUE(writeAll(file, ""));
    s.PendrillConfigFile = file;
    s.DWServerTrustedLogin = true;
    ASSERT_TRUE(s.ReadConfigFile());
    EXPECT_EQ(s.DTSPackageName, "");
    EXPECT_FALSE(s.DWServerTrustedLogin) << "an absent boolean reads as false";

    ASSERT_TRUE(writeAll(file,
                         "; written by hand\r"
                         "[package info]\r"
                         "  package = Stock_LoadDW  \r"
                         "TruncLogFile=false\r"
                         "WriteEvent=0\r"
                         "UseDefaultLogFileDir=\r"
                         "[DTS Server Info]\r"
                         "DTSNTAut=no\r"
                         "DTSPwd=" +
                             EncryptPassword("pw", 12).toUtf8() +
                             "\r"
                             "[Datawarehouse Server Info]\r"
                             "DWNTAut=\"FALSE\"\r"
                             "DWServer=first\r"
                             "DWServer=second\r"));
    ASSERT_TRUE(s.ReadConfigFile());
    EXPECT_EQ(s.DTSPackageName, "Stock_LoadDW");
    EXPECT_FALSE(s.TruncateExceptionLogFile) << "false in any letter case";
    EXPECT_TRUE(s.WriteCompletionStatusToNT) << "only FALSE reads as false";
    EXPECT_TRUE(s.UseDefaultLogFileDir) << "an empty value reads as true";
    EXPECT_TRUE(s.DTSServerTrustedLogin);
    EXPECT_FALSE(s.DWServerTrustedLogin) << "quotes are removed before the test";
    EXPECT_EQ(s.DTSLoginPassword, "pw");
    EXPECT_EQ(s.DWServer, "first");
}

TEST(RunSettings, WritingKeepsTheRestOfAnExistingFile) {
    QTemporaryDir dir;
    const QString file = dir.filePath("existing.etl");
    const QByteArray before =
        "; operator notes\n"
        "[Data Source::Old Feed]\n"
        "Name=Old Feed\n"
        "\n"
        "[Package Info]\n"
        "package=Old_Overall\n"
        "Custom=kept\n";
    ASSERT_TRUE(writeAll(file, before));
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    ExecDTSPackage s = filled(file);
    ASSERT_TRUE(s.WriteConfigFile());
    const QByteArray after = readAll(file);
    EXPECT_TRUE(
        after.startsWith("; operator notes\n[Data Source::Old Feed]\nName=Old Feed\n\n"
                         "[Package Info]\npackage=Sales_Overall\n"))
        << after.constData();
    EXPECT_TRUE(after.contains("Custom=kept\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a file that receives a password is made private";

    ExecDTSPackage none;
    EXPECT_FALSE(none.WriteConfigFile()) << "no file name";
    ExecDTSPackage unwritable = filled(dir.filePath("no such dir/x.etl"));
    EXPECT_FALSE(unwritable.WriteConfigFile());
}

TEST(RunSettings, ScrambledKeys) {
    EXPECT_TRUE(ExecDTSPackage::IsScrambledKey("DTS Server Info", "dtspwd"));
    EXPECT_TRUE(ExecDTSPackage::IsScrambledKey("Datawarehouse Server Info", "DWPwd"));
    EXPECT_TRUE(ExecDTSPackage::IsScrambledKey("Data Source::Feed", "FTPPassword"));
    EXPECT_TRUE(ExecDTSPackage::IsScrambledKey("data source::Feed", "ConnectString"));
    EXPECT_FALSE(ExecDTSPackage::IsScrambledKey("Package Info", "Password"));
    EXPECT_FALSE(ExecDTSPackage::IsScrambledKey("Data Source::Feed", "User"));
}
