// Values and usage pendrill-admin refuses instead of storing them changed or guessing: exit
// status 2, one line on standard error with the reason, and nothing written.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "AdminRun.h"
#include "config/PasswordScrambler.h"
#include "support/TestSupport.h"

using testsupport::admin;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

const QByteArray kOriginal = "[Package Info]\r\nPackage=Sales_Overall\r\n";

QString repeated(int n, char c = 'a') {
    return QString(n, QLatin1Char(c));
}

}  // namespace

TEST(AdminRefusal, EveryRefusalIsOneLineAndWritesNothing) {
    testsupport::IsolatedHome home;
    const QString file = home.file("run.etl"), fifo = home.file("fifo.etl");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString local = home.dataHome() + "/pendrill/servers/local";
    const QStringList dw = {"--server", "(local)", "--database", "DW"};
    const QStringList link = dw + QStringList{"--model", "Sales", "--name", "Files"};
    const struct {
        QStringList args;
        const char* reason;  // a part of the one line
    } cases[] = {
        // Passwords the scrambler cannot keep, in every scrambled key.
        {{"config", "set", file, "Datawarehouse Server Info", "DWPwd", "abc\u00e9"}, "U+00E9"},
        {{"config", "set", file, "DTS Server Info", "DTSPwd",
          "\u043f\u0430\u0440\u043e\u043b\u044c"},
         "U+043F at position 1"},
        {{"config", "set", file, "Data Source::Feed", "Password", "pw\u20ac"}, "printable ASCII"},
        {{"config", "set", file, "data source::Feed", "connectstring", "Pwd=\u00fc"}, "scrambled"},
        {{"config", "set", file, "Data Source::Feed", "FTPPassword", "x\u00a0y"}, "U+00A0"},
        // Longer than a reader returns (two characters of a scrambled text are its stamp).
        {{"config", "set", file, "Package Info", "LogFile", repeated(2048)}, "at most 2047"},
        {{"config", "set", file, "DTS Server Info", "DTSPwd", repeated(2046)}, "at most 2045"},
        // Control characters in names and values; data-link numbers out of range.
        {{"config", "set", file, "Package Info", "Package", "Sales\u001b[2J"}, "U+001B"},
        {{"config", "set", file, "Data Source::Fe\u0007ed", "Name", "Feed"}, "section name"},
        {{"config", "set", file, "Data Source::", "Name", "Feed"}, "data-link name"},
        {{"config", "set", file, "Data Source::Feed", "PollInterval", "-1"}, "0 to 32767"},
        {{"config", "set", file, "Data Source::Feed", "PollDuration", "32768"}, "0 to 32767"},
        {{"config", "set", file, "Data Source::Feed", "TransferData", "one"}, "whole number"},
        {{"config", "set", file, "Package Info", "Bad\nKey", "v"}, "key name must not hold"},
        // Booleans that other readers would take differently; keys Pendrill never reads (set
        // --force stores them: AdminConfigTest); files that are no regular files.
        {{"config", "set", file, "Package Info", "WriteEvent", "no"},
         "WriteEvent takes TRUE or FALSE (in any letter case), not 'no'"},
        {{"config", "set", file, "Datawarehouse Server Info", "DWNTAut", "0"}, "not '0'"},
        {{"config", "set", file, "DTS Server Info", "DTSNTAut", "off"}, "not 'off'"},
        {{"config", "set", file, "Data Source::Feed", "TrustedLogin", " FALSE"}, "not ' FALSE'"},
        {{"config", "set", file, "Pakage Info", "LogFile", "x"},
         "Pendrill reads no section 'Pakage Info'; --force stores it all the same"},
        {{"config", "set", file, "Package Info", "LogFil", "x"},
         "no key 'LogFil' in section 'Package Info'"},
        {{"config", "set", file, "Data Source::Feed", "FTPUser2", "x"}, "no key 'FTPUser2'"},
        {{"config", "set", fifo, "Package Info", "LogFile", "x"}, "fifo.etl is not a regular file"},
        {{"config", "show", fifo}, "fifo.etl is not a regular file"},
        {{"config", "set", "/dev/zero", "Package Info", "LogFile", "x"}, "/dev/zero is not a"},
        {{"config", "show", "/dev/zero"}, "/dev/zero is not a regular file"},
        // Names of servers, databases, models, data links and packages.
        {QStringList{"datalink", "init", "--server", "(local)", "--database", "D\nW"},
         "--database: a database name must not hold control characters (U+000A at position 2)"},
        {QStringList{"datalink", "init", "--server", "(local)", "--database", ""}, "empty"},
        {QStringList{"datalink", "init", "--server", " ", "--database", "DW"}, "server name"},
        {QStringList{"datalink", "list", "--model", "Sa\tles"} + dw, "model name"},
        {QStringList{"datalink", "add", "--model", "Sales", "--name", "", "--type", "3"} + dw,
         "data-link name must not be empty"},
        {QStringList{"remote", "status", "--model", "Sales", "--name", "F\u001bx"} + dw, "U+001B"},
        {QStringList{"remote", "fetch", "--model", ""} + dw, "model name"},
        {QStringList{"package", "list", "--server", "(local)", "--model", "\r"}, "model name"},
        {QStringList{"package", "export", "Sales\n_Overall", "--server", "(local)"},
         "package name"},
        {QStringList{"package", "run", "", "--server", "(local)"}, "package name"},
        {{"server", "add", "", "sqlite:/tmp"}, "server name must not be empty"},
        {{"server", "add", "wh\u001b", "sqlite:/tmp"}, "U+001B"},
        {{"server", "remove", "a\nb"}, "server name"},
        {{"server", "databases", ""}, "server name"},
        // Numbers of a data link.
        {QStringList{"datalink", "add", "--type", "3", "--poll-interval", "-5"} + link,
         "--poll-interval needs a whole number from 0 to 32767, not '-5'"},
        {QStringList{"datalink", "set", "--poll-duration", "40000"} + link, "--poll-duration"},
        {QStringList{"datalink", "set", "--transfer-data", "-1"} + link, "--transfer-data"},
        {QStringList{"datalink", "add", "--type", "70000"} + link, "--type"},
        // Missing and conflicting options.
        {{"datalink", "list", "--server", "wh", "--model", "M"}, "datalink list needs --database"},
        {QStringList{"datalink", "add"} + link, "datalink add needs --type (or --null Type)"},
        {QStringList{"datalink", "list", "--trusted", "--user", "u", "--model", "M"} + dw,
         "--trusted cannot go with --user or --password"},
        {QStringList{"datalink", "set"} + link, "datalink set needs at least one field to change"},
        {QStringList{"datalink", "add", "--model", "", "--name", "n", "--type", "1"} + dw,
         "--model: a model name must not be empty"},
        {{"remote", "fetch", "--server", "wh"}, "remote fetch needs --database"},
        {QStringList{"remote", "check", "--model", "M"} + dw, "remote check needs --name"},
        {{"package", "import", file}, "package import needs --server"},
        {{"package", "run", "X", "--server", "(local)", "--set", "DTSServer=y"},
         "DTSServer cannot be set: the run gives it"},
        {{"package", "run", "X", "--server", "(local)", "--set", "novalue"},
         "--set needs NAME=VALUE, not 'novalue'"},
        {{"package", "frobnicate"}, "unknown package command 'frobnicate'"},
        {{"server", "add", "bad", "mysql://x"},
         "it must start with sqlite:, postgresql:// or odbc:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        ASSERT_TRUE(writeAll(file, kOriginal));
        const auto r = admin(c.args);
        EXPECT_EQ(r.exitCode, 2);
        const QString err = testsupport::err(r);
        EXPECT_TRUE(err.startsWith("pendrill-admin: ")) << err.toStdString();
        EXPECT_EQ(err.count('\n'), 1) << "one line: " << err.toStdString();
        EXPECT_TRUE(err.contains(QString::fromUtf8(c.reason))) << err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_EQ(readAll(file), kOriginal);
    }
    EXPECT_FALSE(QDir(local).exists()) << "no database file made from a refused name";
    EXPECT_FALSE(QFile::exists(home.configHome() + "/pendrill/registry.ini"));

    // An unknown command word: its group's usage on standard error (help: AdminCommandLineTest).
    for (const char* group : {"remote", "datalink", "config", "server"}) {
        const auto r = admin({group, "frob"});
        EXPECT_EQ(r.exitCode, 2) << group;
        EXPECT_TRUE(r.err.startsWith("Usage: pendrill-admin " + QByteArray(group))) << group;
    }
}

// The limits themselves are kept whole: every printable ASCII character in a password, the
// longest values a reader returns, the largest poll numbers.
TEST(AdminRefusal, ValuesAtTheLimitsReadBackUnchanged) {
    QTemporaryDir dir;
    const QString file = dir.filePath("limits.etl");
    QString ascii;
    for (char16_t c = 32; c <= 126; ++c)
        ascii += QChar(c);
    const struct {
        const char *section, *key;
        QString value;
    } cases[] = {
        {"DTS Server Info", "DTSPwd", ascii},
        {"Data Source::Feed", "FTPPassword", " " + ascii + " "},
        {"Package Info", "LogFile", repeated(2047, 'x')},
        {"Datawarehouse Server Info", "DWPwd", repeated(2045, 'p')},
        {"Data Source::Feed", "PollInterval", "32767"},
        {"Data Source::Feed", "PollDuration", "0"},
        {"Package Info", "Package", "caf\u00e9 \u043c\u043e\u0434\u0435\u043b\u044c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        auto r = admin({"config", "set", file, c.section, c.key, c.value});
        ASSERT_EQ(r.exitCode, 0) << r.err.constData();
        r = admin({"config", "get", file, c.section, c.key});
        EXPECT_EQ(QString::fromUtf8(r.out), c.value + "\n");
    }
}
