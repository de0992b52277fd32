#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "config/PasswordScrambler.h"
#include "config/RunSettings.h"
#include "support/TestSupport.h"

using testsupport::modeOf;
using testsupport::readAll;
using testsupport::writeAll;

namespace {
// Both passwords scramble to a text ending in a blank at every second; they must come back whole.
RunSettings filled(const QString& file) {
    RunSettings s;
    s.PendrillConfigFile = file;
    s.DTSPackageName = "Sales_Overall";
    s.ExceptionLogFile = "/var/log/pendrill/sales errors.log";
    s.LogFileDir = "/var/log/pendrill/sales";
    s.UseDefaultLogFileDir = false;
    s.TruncateExceptionLogFile = s.WriteCompletionStatusToNT = s.DTSServerTrustedLogin = true;
    s.DTSServer = "(local)";
    s.DTSLoginPassword = "F";
    s.DWServer = "warehouse";
    s.DWServerLoginUserName = "etl";
    s.DWServerLoginPassword = "Summer2024w";
    s.DWDatabaseName = "DW";
    return s;
}
}  // namespace

TEST(RunSettings, NewFileLayoutAndRoundTrip) {
    QTemporaryDir dir;
    const QString file = dir.filePath("nightly sales.etl");
    RunSettings out = filled(file);
    ASSERT_TRUE(out.WriteConfigFile());

    const QByteArray text = readAll(file);
    QStringList keys;
    for (const QByteArray& l : text.split('\n')) {
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
    EXPECT_FALSE(text.contains("Summer2024")) << "passwords are stored scrambled";
    EXPECT_EQ(modeOf(file), 0600u) << "a new configuration is readable by its owner only";

    RunSettings in;
    in.PendrillConfigFile = file;
    ASSERT_TRUE(in.ReadConfigFile());
    EXPECT_EQ(in.DTSPackageName, out.DTSPackageName);
    EXPECT_EQ(in.ExceptionLogFile, out.ExceptionLogFile);
    EXPECT_EQ(in.LogFileDir, out.LogFileDir);
    EXPECT_TRUE(in.TruncateExceptionLogFile && in.WriteCompletionStatusToNT);
    EXPECT_TRUE(in.DTSServerTrustedLogin && !in.UseDefaultLogFileDir && !in.DWServerTrustedLogin);
    EXPECT_EQ(in.DTSLoginPassword, "F");
    EXPECT_EQ(in.DWServerLoginPassword, "Summer2024w");
    EXPECT_EQ(in.DWDatabaseName, "DW");
}

TEST(RunSettings, ReadingHandWrittenFiles) {
    QTemporaryDir dir;
    const QString file = dir.filePath("hand.etl");
    RunSettings s;
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
                         "; written by hand\r[package info]\r  package = Stock_LoadDW  \r"
                         "TruncLogFile=false\rWriteEvent=0\rUseDefaultLogFileDir=\r"
                         "[DTS Server Info]\rDTSNTAut=no\rDTSPwd=" +
                             EncryptPassword("pw", 12).toUtf8() +
                             "\r[Datawarehouse Server Info]\rDWNTAut=\"FALSE\"\r"));
    ASSERT_TRUE(s.ReadConfigFile());
    EXPECT_EQ(s.DTSPackageName, "Stock_LoadDW");
    EXPECT_FALSE(s.TruncateExceptionLogFile) << "false in any letter case";
    EXPECT_TRUE(s.WriteCompletionStatusToNT) << "only FALSE reads as false";
    EXPECT_TRUE(s.UseDefaultLogFileDir) << "an empty value reads as true";
    EXPECT_TRUE(s.DTSServerTrustedLogin);
    EXPECT_FALSE(s.DWServerTrustedLogin) << "quotes are removed before the test";
    EXPECT_EQ(s.DTSLoginPassword, "pw");
}

TEST(RunSettings, WritingKeepsTheRestOfAnExistingFile) {
    QTemporaryDir dir;
    const QString file = dir.filePath("existing.etl");
    ASSERT_TRUE(writeAll(file,
                         "; operator notes\n[Data Source::Old Feed]\nName=Old Feed\n\n"
                         "[Package Info]\npackage=Old_Overall\nCustom=kept\n"));
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    ASSERT_TRUE(filled(file).WriteConfigFile());
    const QByteArray after = readAll(file);
    EXPECT_TRUE(
        after.startsWith("; operator notes\n[Data Source::Old Feed]\nName=Old Feed\n\n"
                         "[Package Info]\npackage=Sales_Overall\n"))
        << after.constData();
    EXPECT_TRUE(after.contains("Custom=kept\n"));
    EXPECT_EQ(modeOf(file), 0600u) << "a file that receives a password is made private";

    EXPECT_FALSE(RunSettings().WriteConfigFile()) << "no file name";
    EXPECT_FALSE(filled(dir.filePath("no such dir/x.etl")).WriteConfigFile());
}

TEST(RunSettings, ScrambledKeys) {
    EXPECT_TRUE(RunSettings::IsScrambledKey("DTS Server Info", "dtspwd"));
    EXPECT_TRUE(RunSettings::IsScrambledKey("Datawarehouse Server Info", "DWPwd"));
    EXPECT_TRUE(RunSettings::IsScrambledKey("Data Source::Feed", "FTPPassword"));
    EXPECT_TRUE(RunSettings::IsScrambledKey("data source::Feed", "ConnectString"));
    EXPECT_FALSE(RunSettings::IsScrambledKey("Package Info", "Password"));
    EXPECT_FALSE(RunSettings::IsScrambledKey("Data Source::Feed", "User"));
}
