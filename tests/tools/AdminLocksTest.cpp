// pendrill-admin writing files at the same time as other writers, under any umask, and into
// files that others may read.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "config/IniFiles.h"
#include "support/TestSupport.h"
#include "util/FileLock.h"

using testsupport::readAll;
using testsupport::runProgram;
using testsupport::writeAll;

namespace {

const QString kAdmin = QString(PENDRILL_BIN_DIR) + "/pendrill-admin";

unsigned modeOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

// pendrill-admin under the given umask: exit code and standard error.
std::pair<int, QByteArray> adminUnder(mode_t mask, const QStringList& args) {
    QProcess p;
    p.start(
        "/bin/sh",
        QStringList{"-c", QString("umask %1; exec \"$0\" \"$@\"").arg(mask, 3, 8, QLatin1Char('0')),
                    kAdmin} +
            args);
    if (!p.waitForFinished(60000))
        return {-1, "timed out"};
    return {p.exitCode(), p.readAllStandardError()};
}

}  // namespace

// Writers of different keys of one file, all at once: every key they set is in the file.
TEST(AdminLocks, ConcurrentSetsLoseNoUpdate) {
    QTemporaryDir dir;
    const QString file = dir.filePath("shared.etl");
    ASSERT_TRUE(writeAll(file, "; kept\r\n[Package Info]\r\nPackage=P\r\n"));
    constexpr int kWriters = 4, kSets = 20;
    const auto sectionOf = [](int w) { return w == 0 ? "Data Source::Feed" : "Keys"; };
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int w = 0; w < kWriters; ++w) {
        auto p = std::make_unique<QProcess>();
        // Writer 0 sets passwords, so scrambling and tightening take part as well.
        p->start("/bin/sh",
                 {"-c",
                  "i=1; while [ $i -le $4 ]; do \"$0\" config set --force \"$1\" \"$2\" "
                  "\"$3$i\" \"value $3$i\" || exit 1; i=$((i+1)); done",
                  kAdmin, file, sectionOf(w), QString("w%1k").arg(w), QString::number(kSets)});
        writers.push_back(std::move(p));
    }
    for (auto& p : writers) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().constData();
    }
    for (int w = 0; w < kWriters; ++w)
        for (int i = 1; i <= kSets; ++i) {
            const QString key = QString("w%1k%2").arg(w).arg(i);
            EXPECT_EQ(ReadIniValue(sectionOf(w), key, "lost", file), "value " + key);
        }
    EXPECT_TRUE(readAll(file).startsWith("; kept\r\n[Package Info]\r\nPackage=P\r\n"));
}

// The files pendrill-admin creates are its owner's alone, whatever the umask: the settings store
// and its directory, an embedded server's directory and databases, the job-history repository, a
// configuration file.
TEST(AdminLocks, CreatedFilesArePrivateWhateverTheUmask) {
    for (const mode_t mask : {mode_t(000), mode_t(077)}) {
        SCOPED_TRACE(mask);
        testsupport::IsolatedHome home;
        const QString etl = home.file("new.etl");
        for (const QStringList& args :
             {QStringList{"server", "add", "Other", "sqlite:" + home.file("other")},
              QStringList{"datalink", "init", "--server", "(local)", "--database", "DW",
                          "--trusted"},
              QStringList{"history"},
              QStringList{"config", "set", etl, "DTS Server Info", "DTSPwd", "secret"}}) {
            const auto [code, err] = adminUnder(mask, args);
            EXPECT_EQ(code, 0) << args.join(' ').toStdString() << err.constData();
        }
        const QString config = home.configHome() + "/pendrill";
        const QString data = home.dataHome() + "/pendrill";
        EXPECT_EQ(modeOf(config), 0700u);
        EXPECT_EQ(modeOf(config + "/registry.ini"), 0600u);
        EXPECT_EQ(modeOf(data), 0700u);
        EXPECT_EQ(modeOf(data + "/servers/local"), 0700u);
        EXPECT_EQ(modeOf(etl), 0600u);
        EXPECT_TRUE(QFile::exists(data + "/servers/local/DW.db"));
        EXPECT_TRUE(QFile::exists(data + "/repository.db"));
        for (const QString& d : {data, data + "/servers/local"})
            for (const QString& name : QDir(d).entryList(QDir::Files))
                EXPECT_EQ(modeOf(d + "/" + name), 0600u) << name.toStdString();
    }
}

// A password written into a file others may read (a configuration, or the settings store through
// a server alias) makes it private and says so in one line; other values leave its mode alone.
TEST(AdminLocks, PasswordTightensAnOpenFile) {
    const struct {
        QStringList args;  // "FILE": the configuration file
        bool tightened;
    } cases[] = {
        {{"config", "set", "FILE", "DTS Server Info", "DTSPwd", "secret"}, true},
        {{"config", "set", "FILE", "Data Source::Feed", "FTPPassword", "ftp"}, true},
        {{"config", "set", "FILE", "DTS Server Info", "DTSPwd", ""}, false},
        {{"config", "set", "FILE", "DTS Server Info", "DTSServer", "srv"}, false},
        {{"server", "add", "legacy", "odbc:Driver={FreeTDS};Server=m;UID=u;PWD=secret;"}, true},
        {{"server", "add", "legacy", "sqlite:/srv/data"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        testsupport::IsolatedHome home;
        const bool config = c.args[0] == "config";
        const QString file =
            config ? home.file("open.etl") : home.configHome() + "/pendrill/registry.ini";
        ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()));
        ASSERT_TRUE(writeAll(file, config ? "[Package Info]\r\nPackage=P\r\n"
                                          : "[Software\\Tessaly\\Pendrill\\Pendrill]\r\nx=1\r\n"));
        ::chmod(QFile::encodeName(file).constData(), 0644);
        QStringList args = c.args;
        args.replaceInStrings(QRegularExpression("^FILE$"), file);
        const auto r = runProgram("pendrill-admin", args);
        ASSERT_EQ(r.exitCode, 0) << r.err.constData();
        EXPECT_EQ(modeOf(file), c.tightened ? 0600u : 0644u);
        const QString err = QString::fromLocal8Bit(r.err);
        EXPECT_EQ(err.count('\n'), c.tightened ? 1 : 0) << err.toStdString();
        if (c.tightened) {
            EXPECT_TRUE(err.startsWith("pendrill-admin: " + file + " could be read by other users"))
                << err.toStdString();
        }
    }
}

// An account that may write a configuration but not its directory (no lock file can be made
// there) still changes it, locking the file itself, which is then written in place.
TEST(AdminLocks, WritableFileInAClosedDirectory) {
    QTemporaryDir dir;
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    const QString closed = dir.filePath("closed");
    ASSERT_TRUE(QDir().mkdir(closed));
    const QString file = closed + "/job.etl";
    ASSERT_TRUE(writeAll(file, "[Package Info]\r\nPackage=P\r\n"));
    ::chmod(QFile::encodeName(file).constData(), 0666);
    ::chmod(QFile::encodeName(closed).constData(), 0555);
    const auto r = testsupport::runUnprivileged(
        kAdmin, {"config", "set", file, "Package Info", "Package", "Q"});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(ReadIniValue("Package Info", "Package", "", file), "Q");
    EXPECT_FALSE(QFile::exists(file + ".lock"));
    ::chmod(QFile::encodeName(closed).constData(), 0755);
}

// An exported package whose connection carries a password of its own is its owner's alone; one
// that only refers to the run's variables keeps the umask's mode.
TEST(AdminLocks, ExportedPackageWithPasswordIsPrivate) {
    testsupport::IsolatedHome home;
    const struct {
        QString name, password;
        unsigned mode;
    } cases[] = {{"Own_LoadDW", "pw", 0600}, {"Ref_LoadDW", "${DestServerLoginPassword}", 0666}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString xml = home.file(c.name + ".xml");
        ASSERT_TRUE(writeAll(
            xml, QString(R"(<Package name="%1"><GlobalVariables><GlobalVariable )"
                         R"(name="DestServerLoginPassword" type="text"/></GlobalVariables>)"
                         R"x(<Connections><Connection name="W" server="(local)" database="DW" )x"
                         R"(user="u" password="%2"/></Connections><Steps><Step name="A">)"
                         R"(<RunProgram program="true"/></Step></Steps></Package>)")
                     .arg(c.name, c.password)
                     .toUtf8()));
        auto [code, err] = adminUnder(0, {"package", "import", xml, "--server", "(local)"});
        ASSERT_EQ(code, 0) << err.constData();
        const QString out = home.file(c.name + "-out.xml");
        std::tie(code, err) =
            adminUnder(0, {"package", "export", c.name, "--server", "(local)", "-o", out});
        ASSERT_EQ(code, 0) << err.constData();
        EXPECT_EQ(modeOf(out), c.mode);
    }
}

// package run keeps off a log directory that a run holds: nothing in it is removed or run.
TEST(AdminLocks, PackageRunKeepsOffALockedLogDirectory) {
    testsupport::IsolatedHome home;
    const QString xml = home.file("p.xml");
    ASSERT_TRUE(writeAll(xml,
                         "<Package name=\"P_LoadDW\"><Steps><Step name=\"A\"><RunProgram "
                         "program=\"true\"/></Step></Steps></Package>"));
    auto [code, err] = adminUnder(022, {"package", "import", xml, "--server", "(local)"});
    ASSERT_EQ(code, 0) << err.constData();
    const QString logs = home.file("logs");
    ASSERT_TRUE(QDir().mkpath(logs));
    ASSERT_TRUE(writeAll(logs + "/earlier.log", "earlier run"));
    FileLock held;
    ASSERT_TRUE(held.LockDirectory(logs, 0));
    std::tie(code, err) =
        adminUnder(022, {"package", "run", "P_LoadDW", "--server", "(local)", "--logdir", logs});
    EXPECT_EQ(code, 1);
    EXPECT_EQ(QString::fromLocal8Bit(err),
              QString("pendrill-admin: Another run (process %1) is using %2\n")
                  .arg(::getpid())
                  .arg(logs));
    EXPECT_EQ(readAll(logs + "/earlier.log"), "earlier run");
}

// Root and a service account ("nobody") take turns on the account's configuration: the file
// stays the account's, the lock file root creates is given to it, and no change is lost.
TEST(AdminLocks, RootAndServiceAccountShareAFile) {
    QTemporaryDir dir;
    ::chmod(QFile::encodeName(dir.path()).constData(), 0777);
    const QString file = dir.filePath("job.etl");
    auto r =
        testsupport::runUnprivileged(kAdmin, {"config", "set", "--force", file, "S", "a", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    ASSERT_TRUE(QFile::remove(file + ".lock"));
    struct stat account {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &account), 0);

    r = runProgram("pendrill-admin", {"config", "set", "--force", file, "S", "b", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    r = testsupport::runUnprivileged(kAdmin, {"config", "set", "--force", file, "S", "c", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    for (const QString& f : {file, file + ".lock"}) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(f).constData(), &st), 0);
        EXPECT_EQ(st.st_uid, account.st_uid) << f.toStdString();
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f.toStdString();
    }
    EXPECT_EQ(ReadIniValue("S", "a", "", file) + ReadIniValue("S", "b", "", file) +
                  ReadIniValue("S", "c", "", file),
              "123");
}
