#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

#include "config/SettingsStore.h"
#include "history/JobRecord.h"
#include "remote/FtpConnection.h"
#include "remote/FtpTransfer.h"
#include "remote/RemoteTestSupport.h"
#include "remote/StatusPolling.h"
#include "support/TestFtp.h"

using remotetest::InstalledOperator;
using remotetest::JobRecords;
using testsupport::FtpServerOptions;
using testsupport::readAll;
using testsupport::TestFtp;
using testsupport::writeAll;

namespace {

const QString kLoginFailed = "Login failed! FTP site doesn't exist or the password is incorrect!";

// A site directory served by a fresh FTP server, a local directory and a run log, in an isolated
// home whose settings store sets short time-outs so that no test waits long.
class Ftp : public remotetest::RemoteTest {
  protected:
    void SetUp() override {
        if (!TestFtp::available())
            GTEST_SKIP() << "python3-pyftpdlib is not installed";
        RemoteTest::SetUp();
        testsupport::setFtpTimeouts(20, 3);
        QDir().mkpath(site + "/in");
    }
    void serve(const FtpServerOptions& options = {}) {
        ASSERT_TRUE(ftp.start(site, options)) << ftp.error().toStdString();
    }
    QStringList localNames() { return fileNames(local); }
    qint16 readStatus(QString dir, QString& failure, const QString& user = "pendrill") {
        return FtpReadStatus(ftp.server(), dir, user, "secret", notes, &failure);
    }
    bool copy(QString dir, const QString& user = "pendrill", QString* error = nullptr) {
        JobRecord record;
        QString localDir = local;
        return FtpCopyRemoteData(ftp.server(), dir, localDir, record, user, "secret", notes, error);
    }
    FtpConnection connection(const QString& server) {
        return FtpConnection(server, QString("pendrill"), QString("secret"), ReadFtpSettings());
    }

    TestFtp ftp;
    QString site = home.file("site"), local = home.file("local");
};

TEST(FtpTexts, RemoteSeparatorAndTextUpToNul) {
    const struct {
        QString in, out;
    } cases[] = {{"", ""},
                 {"in", "in/"},
                 {"/data/in", "/data/in/"},
                 {"data\\in", "data\\in\\"},
                 {"a\\b/c", "a\\b/c/"},
                 {"in/", "in/"},
                 {"in\\", "in\\"}};
    for (const auto& c : cases) {
        QString path = c.in;
        EXPECT_EQ(AddRemoteSeparator(path), c.out) << c.in.toStdString();
        EXPECT_EQ(path, c.out);
    }
    EXPECT_EQ(StripAfterNul(QString("abc") + QChar(0) + "def"), "abc");
    EXPECT_EQ(StripAfterNul(QString(QChar(0))), "");
}

TEST(FtpTexts, ServerAddressAndSettings) {
    const struct {
        QString text, host;
        int port;
        bool tls;
    } cases[] = {{"ftp.example.com", "ftp.example.com", 21, false},
                 {"ftp.example.com:2121", "ftp.example.com", 2121, false},
                 {"ftps://ftp.example.com", "ftp.example.com", 21, true},
                 {"ftps://ftp.example.com:990/", "ftp.example.com", 990, true},
                 {"[::1]:2121", "::1", 2121, false},
                 {"::1", "::1", 21, false},
                 {"host:notaport", "host", 21, false}};
    for (const auto& c : cases) {
        const FtpServerAddress a = ParseFtpServer(c.text);
        EXPECT_EQ(a.host, c.host) << c.text.toStdString();
        EXPECT_EQ(a.port, c.port) << c.text.toStdString();
        EXPECT_EQ(a.explicitTls, c.tls) << c.text.toStdString();
    }
    testsupport::IsolatedHome home;
    WriteRegistryValue(kFtpSettingsKey, "PassiveMode", "1");
    WriteRegistryValue(kFtpSettingsKey, "ConnectTimeout", "5");
    WriteRegistryValue(kFtpSettingsKey, "DataTimeout", "0");  // not positive: the default
    const FtpSettings s = ReadFtpSettings();
    EXPECT_TRUE(s.passive);
    EXPECT_EQ(s.connectTimeoutSeconds, 5);
    EXPECT_EQ(s.dataTimeoutSeconds, 60);
}

TEST_F(Ftp, ReadAndWriteStatus) {
    serve();
    const struct {
        const char* name;
        std::optional<QByteArray> content;  // nullopt: no status file
        qint16 code;
    } cases[] = {{"missing", std::nullopt, 1},  // which words mean what: StatusPollTest
                 {"ready", "ready\r\n", 2},
                 {"empty", "", 1},
                 {"long line", "ready" + QByteArray(400, 'x'), 2}};
    for (const auto& c : cases) {
        QFile::remove(site + "/in/status");
        if (c.content)
            writeAll(site + "/in/status", *c.content);
        QFile::remove(logPath);
        QString dir = "in", failure;
        EXPECT_EQ(FtpReadStatus(ftp.server(), dir, "pendrill", "secret", notes, &failure), c.code)
            << c.name;
        EXPECT_EQ(dir, "in/") << c.name;
        EXPECT_EQ(failure, "") << c.name;
        EXPECT_EQ(log(), c.content ? "" : "FTP: Status file not found yet. Polling...\r\n")
            << c.name;
    }
    writeAll(site + "/status", "ready\r\n");
    QString failure;
    EXPECT_EQ(readStatus("", failure), 2) << "the empty directory is the login directory";
    QFile::remove(logPath);
    for (const char* w : {"idle", "ready"}) {
        QString dir = "in", word = w;
        EXPECT_TRUE(FtpWriteStatus(ftp.server(), "pendrill", "secret", dir, word));
        EXPECT_EQ(word, QString(w) + "\r\n");
        EXPECT_EQ(readAll(site + "/in/status"), QByteArray(w) + "\r\n");
    }
    EXPECT_EQ(log(), "");
}

TEST_F(Ftp, LoginFailures) {
    testsupport::setFtpTimeouts(1, 2);
    const struct {
        const char* name;
        FtpServerOptions options;
        QString user;
    } cases[] = {
        {"refused login", {.refuseLogin = true}, "pendrill"},
        {"wrong password", {}, "intruder"},
        {"no greeting", {.silent = true}, "pendrill"},
    };
    for (const auto& c : cases) {
        serve(c.options);
        QFile::remove(logPath);
        QElapsedTimer timer;
        timer.start();
        QString failure;
        EXPECT_EQ(readStatus("in", failure, c.user), 0) << c.name;
        EXPECT_EQ(failure, kLoginFailed) << c.name;
        QString word = "idle", dir = "in", why;
        EXPECT_FALSE(FtpWriteStatus(ftp.server(), c.user, "secret", dir, word, &why)) << c.name;
        EXPECT_EQ(why, kLoginFailed) << c.name;
        EXPECT_FALSE(copy("in", c.user)) << c.name;
        EXPECT_EQ(log(), kLoginFailed + "\r\n") << c.name << ": the copy notes its failure";
        EXPECT_LT(timer.elapsed(), 10000) << c.name << ": each attempt gives up within 2 s";
    }
    EXPECT_TRUE(JobRecords().isEmpty()) << "a failed login leaves no record";

    serve({.refuseLogin = true});
    FtpConnection refused = connection(ftp.server());
    EXPECT_FALSE(refused.Login());
    EXPECT_EQ(refused.LastError(), 12014) << "USER accepted, PASS refused";
    EXPECT_TRUE(refused.LastReply().startsWith("530")) << refused.LastReply().toStdString();
    const QString closedPort = ftp.server();
    ftp.stop();  // nobody listens on the port any more
    FtpConnection closed = connection(closedPort);
    EXPECT_FALSE(closed.Login());
    EXPECT_EQ(closed.LastError(), 12029);
}

TEST_F(Ftp, CopyEveryPlainFile) {
    serve();
    writeAll(site + "/in/a.csv", "1;2\n3;4\n");
    writeAll(site + "/in/name with blanks.csv", QByteArray(70000, 'x'));
    writeAll(site + "/in/status", "ready\r\n");
    QDir().mkpath(site + "/in/sub");
    writeAll(site + "/in/sub/inner.csv", "not copied");
    writeAll(local + "/a.csv", "old content");  // replaced
    // A symbolic link planted under the temporary name is replaced, not written through.
    writeAll(home.file("victim"), "keep");
    QFile::link(home.file("victim"), local + "/.a.csv.pendrill-part");
    JobRecord record;
    record.setSourcePath("in/");
    QString dir = "in", localDir = local;
    ASSERT_TRUE(FtpCopyRemoteData(ftp.server(), dir, localDir, record, "pendrill", "secret", notes))
        << log().toStdString();
    EXPECT_EQ(readAll(home.file("victim")), "keep");
    EXPECT_EQ(localNames(), (QStringList{"a.csv", "name with blanks.csv", "status"}));
    EXPECT_EQ(readAll(local + "/name with blanks.csv"), QByteArray(70000, 'x'));
    EXPECT_EQ(readAll(local + "/a.csv"), "1;2\n3;4\n");  // ASCII type: lines end the local way
    EXPECT_EQ(log(), "");
    remotetest::ExpectCopyRecords({{"a.csv", 8}, {"name with blanks.csv", 70000}, {"status", 7}},
                                  "bytes FTP'ed", "Pendrill FTP", "in/");
}

TEST_F(Ftp, FileNamesThatAreNoUtf8KeepTheirBytes) {
    serve();
    const QByteArray name =
        "Bestell\xfc"
        "bersicht.csv";  // Latin-1, as the site has it
    const int fd =
        ::open((QFile::encodeName(site) + "/in/" + name).constData(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "1;2\n", 4), 4);
    ::close(fd);
    JobRecord record;
    QString dir = "in", localDir = local;
    ASSERT_TRUE(FtpCopyRemoteData(ftp.server(), dir, localDir, record, "pendrill", "secret", notes))
        << log().toStdString();
    struct stat st {};
    EXPECT_EQ(::stat((QFile::encodeName(local) + "/" + name).constData(), &st), 0);
    EXPECT_EQ(st.st_size, 4);
}

TEST_F(Ftp, CancelBetweenFilesInTheLoginDirectoryInPassiveMode) {
    WriteRegistryValue(kFtpSettingsKey, "PassiveMode", "1");
    serve();
    writeAll(site + "/a.csv", "a");
    writeAll(site + "/b.csv", "b");
    InstalledOperator op;
    op.cancelAfterLabels = 1;
    EXPECT_FALSE(copy("")) << "the empty directory is the login directory";
    EXPECT_EQ(localNames(), QStringList{"a.csv"}) << "the file before the Cancel stays";
    ASSERT_EQ(JobRecords().size(), 1) << "no record for the cancelled file";
    EXPECT_EQ(JobRecords()[0]["ObjectName"].toString(), "a.csv");
    EXPECT_EQ(log(), "");
}

// Explicit TLS with a certificate of our own: the login works when the settings store trusts the
// certificate, and fails without it. (The test server's TLS data connections do not work with the
// python3-openssl of Debian 12, so transfers over TLS are not tried here.)
TEST_F(Ftp, ExplicitTlsVerifiesTheCertificate) {
    if (!TestFtp::availableWithTls())
        GTEST_SKIP() << "python3-openssl is not installed";
    const QString key = home.file("key.pem"), cert = home.file("cert.pem");
    QProcess openssl;
    openssl.start(
        "openssl",
        {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=localhost",
         "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout", key, "-out", cert});
    ASSERT_TRUE(openssl.waitForFinished(30000) && openssl.exitCode() == 0)
        << openssl.readAllStandardError().toStdString();
    writeAll(home.file("server.pem"), readAll(key) + readAll(cert));
    serve({.tlsCertificate = home.file("server.pem")});
    const QString server = "ftps://" + ftp.server();

    QString dir = "in", failure;
    EXPECT_EQ(FtpReadStatus(server, dir, "pendrill", "secret", notes, &failure), 0);
    EXPECT_EQ(failure, kLoginFailed) << "an unknown certificate is refused";
    FtpConnection untrusted = connection(server);
    EXPECT_FALSE(untrusted.Login());
    EXPECT_EQ(untrusted.LastError(), 12029);

    WriteRegistryValue(kFtpSettingsKey, "CAFile", cert);
    FtpConnection trusted = connection(server);
    EXPECT_TRUE(trusted.Login()) << trusted.LastError();
    EXPECT_FALSE(connection(ftp.server()).Login()) << "the server takes no login without TLS";
}

// Listings that give no file to copy. Names from the site are not trusted: one that would leave
// the local directory fails the whole copy before any file comes, although the site (here:
// in/../x) serves it.
TEST_F(Ftp, ListingsThatGiveNoFile) {
    QDir().mkpath(site + "/subs/one");
    QDir().mkpath(site + "/empty");
    writeAll(site + "/x", "xx");
    writeAll(site + "/in/a.csv", "a");
    const QString gone = "Error occurred! Remote directory not found on FTP Server";
    const QString empty = "Remote directory is empty!";
    const struct {
        const char* dir;
        FtpServerOptions options;
        bool result;
        QString logged;
        int status;  // of the failure record, whose message is the text logged; -1: none
    } cases[] = {
        {"subs", {}, true, "", -1},
        {"empty", {}, false, empty, -1},
        {"gone", {}, false, gone, 1},
        {"empty", {.refuseEmptyList = true}, false, empty, -1},
        // A listing that comes but cannot be read is not an empty directory.
        {"empty",
         {.listLines = {"this is no listing line"}},
         false,
         "Error: the listing of the remote directory could not be read",
         2},
        {"in",
         {.listLines = {"../x", "../../../any/dir/x", "/abs/path/x"}},
         false,
         "Error: the remote directory lists names that are not plain file names, nothing was "
         "copied: \"../x\", \"../../../any/dir/x\", \"/abs/path/x\"",
         2},
    };
    for (const auto& c : cases) {
        serve(c.options);
        QFile::remove(logPath);
        const qsizetype before = JobRecords().size();
        QString error;
        EXPECT_EQ(copy(c.dir, "pendrill", &error), c.result) << c.dir;
        EXPECT_EQ(log(), c.logged.isEmpty() ? "" : c.logged + "\r\n") << c.dir;
        EXPECT_EQ(error, QString(c.logged).remove("Error: ")) << c.dir;
        EXPECT_TRUE(localNames().isEmpty()) << c.dir;
        EXPECT_TRUE(QFileInfo(local).isDir()) << "the local directory is made first";
        const QList<QJsonObject> records = JobRecords().mid(before);
        ASSERT_EQ(records.size(), c.status < 0 ? 0 : 1) << c.dir;
        if (c.status >= 0) {
            EXPECT_EQ(records[0]["Status"].toInt(), c.status);
            EXPECT_EQ(records[0]["Message"].toString(), error);
        }
    }
    EXPECT_FALSE(QFile::exists(home.file("x")));
}

// A local file that cannot be written (here: beyond the file size limit) says why.
TEST_F(Ftp, LocalWriteFailureSaysWhy) {
    serve();
    writeAll(site + "/in/big.csv", QByteArray(2 * 1024 * 1024, 'b'));
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 1024 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool copied = copy("in");
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, SIG_DFL);
    EXPECT_FALSE(copied);
    EXPECT_EQ(log(), "Error: cannot write big.csv: File too large\r\n");
    EXPECT_TRUE(localNames().isEmpty());
}

// A download that fails: the earlier file stays, nothing appears under the failed file's name,
// no temporary file is left, and the record says why. A stalled status read keeps polling.
TEST_F(Ftp, FailedDownloads) {
    const struct {
        const char* name;
        FtpServerOptions options;
        const char* failing;  // the file whose download fails
        const char* error;    // its record's message; nullptr: the connection was lost
    } cases[] = {
        {"550", {.failDownload = {"b.csv"}}, "b.csv", "550 Injected failure for b.csv."},
        {"dropped", {.dropDownload = "b.csv", .dropAfterBytes = 100000}, "b.csv", nullptr},
        {"stalled", {.stall = {"RETR"}}, "a.csv", "The request has timed out."},
    };
    writeAll(site + "/in/a.csv", "a");
    writeAll(site + "/in/b.csv", QByteArray(2 * 1024 * 1024, 'b'));
    for (const auto& c : cases) {
        QDir(local).removeRecursively();
        QFile::remove(logPath);
        serve(c.options);
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(copy("in")) << c.name;
        EXPECT_LT(timer.elapsed(), 15000) << c.name;
        const QStringList names = localNames();
        EXPECT_FALSE(names.contains(c.failing)) << c.name;
        EXPECT_EQ(names.contains("a.csv"), QString(c.failing) != "a.csv") << c.name;
        EXPECT_TRUE(names.filter("pendrill-part").isEmpty()) << c.name;
        const QJsonObject last = JobRecords().value(JobRecords().size() - 1);
        EXPECT_EQ(last["Status"].toInt(), 2) << c.name;
        EXPECT_EQ(last["ObjectName"].toString(), c.failing) << c.name;
        const QString message = last["Message"].toString();
        const QStringList lost = {WinInetErrorText(12030), WinInetErrorText(12031)};
        EXPECT_TRUE(c.error ? message == c.error : lost.contains(message))
            << c.name << ": " << message.toStdString();
        EXPECT_EQ(log(), "Error: " + message + "\r\n") << c.name;
    }
    writeAll(site + "/in/status", "ready\r\n");
    QString failure;
    EXPECT_EQ(readStatus("in", failure), 1) << "a file that cannot be opened is not there yet";
}

// The Test button of the flat-file panel: its box for each kind of site.
TEST_F(Ftp, CheckAccess) {
    writeAll(site + "/in/status", "idle\r\n");
    const QString noStatus =
        "Error occurred! The user doesn't have read rights or file 'status' doesn't exist!";
    const struct {
        const char* name;
        FtpServerOptions options;
        std::optional<QString> user, password;
        const char* file;
        QString box;  // empty: success
    } cases[] = {
        {"full rights", {}, QString("pendrill"), QString("secret"), "status", ""},
        {"anonymous", {.anonymous = true}, std::nullopt, std::nullopt, "status", ""},
        {"no status file", {}, QString("pendrill"), QString("secret"), "nothing", noStatus},
        {"read-only user",
         {.readOnlyUser = "reader:pw"},
         QString("reader"),
         QString("pw"),
         "status",
         "Error occurred! The user doesn't have write rights!"},
        {"refused login",
         {.refuseLogin = true},
         QString("pendrill"),
         QString("secret"),
         "status",
         kLoginFailed},
    };
    for (const auto& c : cases) {
        serve(c.options);
        InstalledOperator op;
        QString error;
        EXPECT_EQ(FtpCheckAccess(ftp.server(), c.file, "in", c.user, c.password, &error),
                  c.box.isEmpty())
            << c.name;
        EXPECT_EQ(op.boxes, c.box.isEmpty() ? QStringList() : QStringList{"48|FTP check|" + c.box})
            << c.name;
        EXPECT_EQ(error, c.box) << c.name;
        EXPECT_FALSE(QFile::exists(site + "/in/statustest")) << c.name;
    }
}

// The fetch over FTP (the poll loop is tested over a share, StatusPollTest; whole runs that fetch
// remote data: app/runs/005, 109): the records name the FTP source, and a failed download offers
// the data again ("ready").
TEST_F(Ftp, FetchRecordsTheSourceAndAFailureOffersTheDataAgain) {
    remotetest::CountingClock clock;
    serve();
    writeAll(site + "/in/orders.csv", "1;2\n");
    writeAll(site + "/in/status", "ready\r\n");
    QString remote = "in", localDir = local;
    EXPECT_TRUE(FetchRemoteData(remote, localDir, 1, 3, ftp.server(), "pendrill", "secret",
                                clock.context(notes)));
    EXPECT_EQ(readAll(site + "/in/status"), "idle\r\n");
    const QList<QJsonObject> records = JobRecords();
    ASSERT_EQ(records.size(), 2);  // orders.csv, status
    for (const QJsonObject& r : records) {
        EXPECT_EQ(r["SourceServer"].toString(), ftp.server());
        EXPECT_EQ(r["SourceUser"].toString(), "pendrill");
        EXPECT_EQ(r["SourcePath"].toString(), "in");
    }

    QDir(local).removeRecursively();
    writeAll(site + "/in/status", "ready\r\n");
    serve({.failDownload = {"orders.csv"}});
    remote = "in";
    EXPECT_FALSE(FetchRemoteData(remote, localDir, 1, 3, ftp.server(), "pendrill", "secret",
                                 clock.context(notes)));
    EXPECT_EQ(readAll(site + "/in/status"), "ready\r\n");
    EXPECT_FALSE(localNames().contains("orders.csv")) << "no file under its real name";
}

}  // namespace
