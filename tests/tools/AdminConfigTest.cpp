// pendrill-admin config: show, get and set of a run's configuration file. How the file itself is
// read and written is tested with the library (config/IniFilesTest).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "AdminRun.h"
#include "config/PasswordScrambler.h"
#include "support/TestSupport.h"

using testsupport::readAll;
using testsupport::writeAll;

namespace {

testsupport::ProcessResult config(const QStringList& args) {
    return testsupport::admin(QStringList{"config"} + args);
}
QString out(const testsupport::ProcessResult& r) {
    return QString::fromUtf8(r.out);
}

}  // namespace

TEST(AdminConfig, SetGetAndShowThroughScrambledKeys) {
    QTemporaryDir dir;
    const QString file = dir.filePath("night run.etl");
    ASSERT_TRUE(writeAll(file,
                         "; deployed by ansible\r\n[Datawarehouse Server Info]\r\n"
                         "DWServer = warehouse \r\ndwntaut=false\r\n"
                         "[Data Source::Orders Feed]\r\nName=Orders Feed\r\nType=3\r\n"
                         "FTPPassword=" +
                             EncryptPassword("ftp-pw", 5).toUtf8() + "\r\n[Unrelated]\r\nx=1\r\n"));
    const QString pw = "new pass; \"quoted\"";
    auto r = config({"set", file, "Datawarehouse Server Info", "DWPwd", pw});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_FALSE(readAll(file).contains("new pass")) << "stored scrambled";
    EXPECT_TRUE(
        readAll(file).startsWith("; deployed by ansible\r\n[Datawarehouse Server Info]\r\n"
                                 "DWServer = warehouse \r\ndwntaut=false\r\nDWPwd="));

    r = config({"get", file, "datawarehouse server info", "dwpwd"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(out(r), pw + "\n");
    EXPECT_EQ(out(config({"get", file, "Data Source::Orders Feed", "FTPPassword"})), "ftp-pw\n");
    r = config({"get", file, "Unrelated", "missing"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("missing"));

    r = config({"show", file});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QString shown = out(r);
    for (const char* part : {"[Package Info]\nPackage=\n",
                             "DWServer=warehouse\nDWNTAut=FALSE\nDWUser=\nDWPwd=********\n",
                             "[Data Source::Orders Feed]\nName=Orders Feed\nModelName=\nType=3\n",
                             "FTPPassword=********\n", "TrustedLogin=FALSE\n", "PollInterval=0\n"})
        EXPECT_TRUE(shown.contains(part)) << part << "\n" << shown.toStdString();
    EXPECT_FALSE(shown.contains("Unrelated"));
    EXPECT_FALSE(shown.contains("ftp-pw"));
    r = config({"show", file, "--show-passwords"});
    EXPECT_TRUE(out(r).contains("DWPwd=" + pw + "\n"));
    EXPECT_TRUE(out(r).contains("FTPPassword=ftp-pw\n"));
}

TEST(AdminConfig, NewFilesErrorsAndUsage) {
    QTemporaryDir dir;
    const QString file = dir.filePath("new.etl");
    const QByteArray created = "[Package Info]\r\nPackage=Sales_Overall\r\n";
    auto r = config({"set", file, "Package Info", "Package", "Sales_Overall"});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(readAll(file), created);

    r = config({"show", dir.filePath("absent.etl")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("absent.etl"));
    EXPECT_EQ(
        config({"set", dir.filePath("no dir/x.etl"), "Package Info", "LogFile", "c"}).exitCode, 1);
    // Refused values, keys and files: AdminRefusalTest. Accepted: booleans in any letter case,
    // any key with --force.
    const QStringList accepted[] = {
        {"set", "--force", file, "Pakage Info", "LogFil", "x"},
        {"set", file, "Package Info", "writeevent", "false"},
        {"set", file, "Package Info", "writeevent", "True"},
        {"set", file, "Data Source::Feed", "TrustedLogin", "FALSE", "--force"},
    };
    for (const QStringList& args : accepted)
        EXPECT_EQ(config(args).exitCode, 0) << args.join('|').toStdString();
    EXPECT_EQ(readAll(file), created +
                                 "writeevent=True\r\n[Pakage Info]\r\nLogFil=x\r\n"
                                 "[Data Source::Feed]\r\nTrustedLogin=FALSE\r\n");
    // As the value of set, "--help" is a value like any other (where options are taken:
    // AdminCommandLineTest).
    ASSERT_TRUE(writeAll(file, created));
    EXPECT_EQ(config({"set", file, "Package Info", "Package", "--help"}).exitCode, 0);
    EXPECT_EQ(readAll(file), "[Package Info]\r\nPackage=--help\r\n");
    EXPECT_TRUE(out(config({"show", "--show-passwords", file})).contains("Package=--help\n"));
}

TEST(AdminConfig, UnreadableFilesAndDirectoriesFailEveryCommand) {
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString locked = dir.filePath("locked.etl"), folder = dir.filePath("folder.etl");
    const QByteArray content = "[Package Info]\r\nPackage=Secret\r\n";
    ASSERT_TRUE(writeAll(locked, content));
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0600), 0);
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
// text ends in one and has to be written in quotes, in every key that holds a password. (Every
// such password through the file: config/IniFilesTest.)
TEST(AdminConfig, PasswordsEndingInABlankWhenScrambledReadBack) {
    QTemporaryDir dir;
    const QString file = dir.filePath("pw.etl");
    for (const QString& pw : {QString("Summer2024w"), QString("F")}) {
        for (const char* key : {"DTS Server Info|DTSPwd", "Datawarehouse Server Info|DWPwd",
                                "Data Source::Orders|Password", "Data Source::Orders|ConnectString",
                                "Data Source::Orders|FTPPassword"}) {
            const QStringList where = QString(key).split('|');
            SCOPED_TRACE((pw + " " + key).toStdString());
            auto r = config(QStringList{"set", file} + where + QStringList{pw});
            ASSERT_EQ(r.exitCode, 0) << r.err.constData();
            EXPECT_TRUE(readAll(file).contains((where[1] + "=\"").toUtf8())) << "stored in quotes";
            EXPECT_EQ(out(config(QStringList{"get", file} + where)), pw + "\n");
        }
        const QString shown = out(config({"show", file, "--show-passwords"}));
        EXPECT_TRUE(shown.contains("DTSPwd=" + pw + "\n"));
        EXPECT_TRUE(shown.contains("FTPPassword=" + pw + "\n"));
    }
}
