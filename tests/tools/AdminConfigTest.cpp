#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
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
                   {"config", "set", dir.filePath("no dir/x.etl"), "Package Info", "LogFile", "c"});
    EXPECT_EQ(r.exitCode, 1);
    // Values that would read differently, keys Pendrill never reads (unless --force), files that
    // are no regular files: exit status 2, nothing written.
    const QString fifo = dir.filePath("fifo.etl");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QStringList refused[] = {
        {file, "Package Info", "WriteEvent", "no"},
        {file, "Datawarehouse Server Info", "DWNTAut", "0"},
        {file, "DTS Server Info", "DTSNTAut", "off"},
        {file, "Data Source::Feed", "TrustedLogin", " FALSE"},
        {file, "Pakage Info", "LogFile", "x"},
        {file, "Package Info", "LogFil", "x"},
        {file, "Data Source::Feed", "FTPUser2", "x"},
        {fifo, "Package Info", "LogFile", "x"},
        {"/dev/zero", "Package Info", "LogFile", "x"},
    };
    for (const QStringList& args : refused) {
        SCOPED_TRACE(args.join('|').toStdString());
        r = runProgram("pendrill-admin", QStringList{"config", "set"} + args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_FALSE(r.err.isEmpty());
    }
    EXPECT_EQ(readAll(file), "[Package Info]\r\nPackage=Sales_Overall\r\n") << "nothing written";
    for (const QString& special : {fifo, QStringLiteral("/dev/zero")}) {
        r = runProgram("pendrill-admin", {"config", "show", special});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.err.contains("not a regular file")) << r.err.constData();
    }
    r = runProgram("pendrill-admin",
                   {"config", "set", "--force", file, "Pakage Info", "LogFil", "x"});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    for (const char* value : {"false", "True"}) {
        r = runProgram("pendrill-admin",
                       {"config", "set", file, "Package Info", "writeevent", value});
        EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    }
    r = runProgram("pendrill-admin", {"config", "set", file, "Data Source::Feed", "TrustedLogin",
                                      "FALSE", "--force"});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(readAll(file),
              "[Package Info]\r\nPackage=Sales_Overall\r\nwriteevent=True\r\n"
              "[Pakage Info]\r\nLogFil=x\r\n[Data Source::Feed]\r\nTrustedLogin=FALSE\r\n");
    ASSERT_TRUE(writeAll(file, "[Package Info]\r\nPackage=Sales_Overall\r\n"));
    r = runProgram("pendrill-admin", {"config", "frobnicate"});
    EXPECT_EQ(r.exitCode, 2);
    for (const QStringList& args :
         {QStringList{"config", "--help"}, QStringList{"config", "show", "--help"},
          QStringList{"config", "get", "--help"}, QStringList{"config", "set", "--help"},
          QStringList{"config", "show", "x.etl", "--help"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        r = runProgram("pendrill-admin", args);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(r.out.startsWith("Usage: pendrill-admin config show")) << r.out.constData();
        EXPECT_TRUE(r.out.contains("show-passwords"));
        EXPECT_TRUE(r.err.isEmpty());
    }
    // As the value of set, "--help" is a value like any other.
    r = runProgram("pendrill-admin", {"config", "set", file, "Package Info", "Package", "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(readAll(file), "[Package Info]\r\nPackage=--help\r\n");
    r = runProgram("pendrill-admin", {"config", "show", "--show-passwords", file});
    EXPECT_TRUE(out(r).contains("Package=--help\n"));
}

TEST(AdminConfig, UnreadableFilesAndDirectoriesFailEveryCommand) {
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString locked = dir.filePath("locked.etl");
    const QByteArray content = "[Package Info]\r\nPackage=Secret\r\n";
    ASSERT_TRUE(writeAll(locked, content));
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0600), 0);
    const QString folder = dir.filePath("folder.etl");
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.etl"));

    const struct {
        QString file, reason;
    } targets[] = {{locked, "Permission denied"}, {folder, "is a directory"}};
    for (const auto& t : targets) {
        for (const QStringList& command :
             {QStringList{"show", t.file}, QStringList{"get", t.file, "Package Info", "Package"},
              QStringList{"set", t.file, "Package Info", "Package", "x"}}) {
            SCOPED_TRACE((command.join(' ')).toStdString());
            const auto r = testsupport::runUnprivileged(PENDRILL_BIN_DIR "/pendrill-admin",
                                                        QStringList{"config"} + command);
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_TRUE(r.out.isEmpty()) << r.out.constData();
            const QString err = QString::fromUtf8(r.err);
            EXPECT_TRUE(err.startsWith("pendrill-admin: cannot read " + t.file + ": "))
                << err.toStdString();
            EXPECT_TRUE(err.contains(t.reason)) << err.toStdString();
            EXPECT_FALSE(err.contains("no such file")) << err.toStdString();
        }
    }
    EXPECT_EQ(readAll(locked), content);
}

// The last character of these passwords scrambles to a blank, whatever the second, so the stored
// text ends in one and has to be written in quotes.
TEST(AdminConfig, PasswordsEndingInABlankWhenScrambledReadBack) {
    QTemporaryDir dir;
    const QString file = dir.filePath("pw.etl");
    QStringList passwords = {"Summer2024w", "F"};
    for (char16_t c = 32; c <= 126; ++c) {
        const QString pw = QStringLiteral("Pa55-") + QChar(c);
        if (EncryptPassword(pw, 0).endsWith(' '))
            passwords << pw;
    }
    ASSERT_EQ(passwords.size(), 3);
    const struct {
        const char* section;
        const char* key;
    } keys[] = {{"DTS Server Info", "DTSPwd"},
                {"Datawarehouse Server Info", "DWPwd"},
                {"Data Source::Orders", "Password"},
                {"Data Source::Orders", "ConnectString"},
                {"Data Source::Orders", "FTPPassword"}};
    for (const QString& pw : passwords) {
        for (const auto& k : keys) {
            SCOPED_TRACE((pw + " " + k.key).toStdString());
            auto r = runProgram("pendrill-admin", {"config", "set", file, k.section, k.key, pw});
            ASSERT_EQ(r.exitCode, 0) << r.err.constData();
            EXPECT_TRUE(readAll(file).contains(QByteArray(k.key) + "=\"")) << "stored in quotes";
            r = runProgram("pendrill-admin", {"config", "get", file, k.section, k.key});
            EXPECT_EQ(out(r), pw + "\n");
        }
        const auto r = runProgram("pendrill-admin", {"config", "show", file, "--show-passwords"});
        EXPECT_TRUE(out(r).contains("DTSPwd=" + pw + "\n"));
        EXPECT_TRUE(out(r).contains("FTPPassword=" + pw + "\n"));
    }
}

TEST(AdminConfig, ShowsManyDataSourceSections) {
    QTemporaryDir dir;
    const QString file = dir.filePath("big.etl");
    QByteArray content = "[Package Info]\r\nPackage=Big\r\n";
    for (int i = 0; i < 1000; ++i) {
        const QByteArray n = QByteArray::number(i);
        content += "[Data Source::Feed " + n + "]\r\nName=Feed " + n + "\r\nType=" + n +
                   "\r\nServer=srv" + n + "\r\nPassword=" + EncryptPassword("pw" + n, i).toUtf8() +
                   "\r\n";
    }
    ASSERT_TRUE(writeAll(file, content));
    const auto r = runProgram("pendrill-admin", {"config", "show", file, "--show-passwords"});
    ASSERT_EQ(r.exitCode, 0);
    const QString shown = out(r);
    EXPECT_EQ(shown.count("[Data Source::"), 1000);
    for (int i : {0, 499, 999}) {
        const QString n = QString::number(i);
        EXPECT_TRUE(shown.contains(
            "[Data Source::Feed " + n + "]\nName=Feed " + n + "\nModelName=\nType=" + n +
            "\nServer=srv" + n + "\nDatabase=\nTrustedLogin=FALSE\nUser=\nPassword=pw" + n + "\n"))
            << n.toStdString();
    }
}
