#include "support/TestPostgres.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVersionNumber>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>

#include "support/TestSupport.h"

namespace testsupport {

namespace {

const char kServerAccount[] = "postgres";

// Asks the kernel for a free port on the loopback address. Another process may take it before the
// server binds it; launch() reports that and start() tries again with a new port.
int pickFreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

QString SystemErrorText() {
    return QString::fromLocal8Bit(strerror(errno));
}

TestPostgres* sharedInstance = nullptr;

}  // namespace

QString TestPostgres::binDir(QString* why) {
    auto usable = [](const QString& dir) {
        return QFileInfo(dir + "/initdb").isExecutable() &&
               QFileInfo(dir + "/postgres").isExecutable();
    };
    const QString root = QStringLiteral("/usr/lib/postgresql");
    QStringList versions = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(), [](const QString& a, const QString& b) {
        return QVersionNumber::fromString(a) > QVersionNumber::fromString(b);
    });
    for (const QString& v : versions) {
        if (usable(root + "/" + v + "/bin"))
            return root + "/" + v + "/bin";
    }
    if (why)
        *why = "PostgreSQL server binaries not installed (no " + root +
               "/<version>/bin/initdb); install the Debian package postgresql";
    return {};
}

QString TestPostgres::logText() const {
    QFile f(dir_ + "/server.log");
    return !dir_.isEmpty() && f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll())
                                                          : QString();
}

bool TestPostgres::chownToServer(const QString& path, QString* error) const {
    if (!dropPrivileges_ ||
        ::chown(QFile::encodeName(path).constData(), serverUid_, serverGid_) == 0)
        return true;
    *error = QStringLiteral("cannot hand %1 to the %2 account: %3")
                 .arg(path, QLatin1String(kServerAccount), SystemErrorText());
    return false;
}

void TestPostgres::configureChild(QProcess& p) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"PGDATA", "PGHOST", "PGHOSTADDR", "PGPORT", "PGUSER", "PGPASSWORD",
                             "PGDATABASE", "PGOPTIONS", "PGSERVICE", "PGPASSFILE", "LC_MESSAGES"})
        env.remove(QLatin1String(name));
    env.insert("LC_ALL", "C");
    env.insert("LANG", "C");
    if (dropPrivileges_) {
        env.insert("HOME", dir_);
        env.insert("USER", kServerAccount);
        env.insert("LOGNAME", kServerAccount);
    }
    p.setProcessEnvironment(env);
    // The binaries look up their own location relative to the working directory, so it must be
    // one the server account can enter.
    p.setWorkingDirectory(dir_);
    const bool drop = dropPrivileges_;
    const uid_t uid = serverUid_;
    const gid_t gid = serverGid_;
    // Runs in the forked child just before exec: only async-signal-safe calls here.
    p.setChildProcessModifier([drop, uid, gid] {
        if (drop && (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(126);
        // A test program that dies without stop() must not leave a server behind. Set after the
        // identity change, which clears it.
        ::prctl(PR_SET_PDEATHSIG, SIGINT);
    });
}

bool TestPostgres::start(QString* error) {
    QString scratch;
    if (!error)
        error = &scratch;
    if (isRunning())
        return true;
    stop();
    const QString bin = binDir(error);
    if (bin.isEmpty())
        return false;

    dropPrivileges_ = ::geteuid() == 0;
    if (dropPrivileges_) {
        const passwd* pw = ::getpwnam(kServerAccount);
        if (!pw) {
            *error =
                "running as root, but there is no 'postgres' account to run the server as "
                "(PostgreSQL refuses to run as root)";
            return false;
        }
        serverUid_ = pw->pw_uid;
        serverGid_ = pw->pw_gid;
    }
    // Under /tmp when root: the server account must be able to reach the directory, and TMPDIR
    // may well be a private 0700 directory.
    const QString base = dropPrivileges_ ? QStringLiteral("/tmp") : QDir::tempPath();
    QByteArray templ = QFile::encodeName(base + "/pendrill-pg-XXXXXX");
    if (!::mkdtemp(templ.data())) {
        *error = "cannot create a temporary directory under " + base + ": " + SystemErrorText();
        return false;
    }
    dir_ = QFile::decodeName(templ);
    ::chmod(templ.constData(), 0755);
    QDir(dir_).mkdir("sock");
    password_ = QString::number(QRandomGenerator::global()->generate64(), 36) + "P" +
                QString::number(QRandomGenerator::global()->generate64(), 36);
    const QString pwfile = dir_ + "/pwfile";
    bool ok = chownToServer(dir_, error) && chownToServer(socketDir(), error) &&
              writeAll(pwfile, password_.toUtf8() + '\n') &&
              QFile::setPermissions(pwfile, QFile::ReadOwner | QFile::WriteOwner) &&
              chownToServer(pwfile, error);
    if (ok) {
        QProcess p;
        configureChild(p);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(bin + "/initdb",
                {"-D", dataDir(), "-U", superuser(), "--pwfile=" + pwfile, "-E", "UTF8",
                 "--locale=C", "--no-sync", "--auth-local=peer", "--auth-host=scram-sha-256"});
        ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit &&
             p.exitCode() == 0;
        if (!ok) {
            p.kill();
            p.waitForFinished();
            *error =
                "initdb failed: " + p.errorString() + "\n" + QString::fromLocal8Bit(p.readAll());
        }
    }
    QFile::remove(pwfile);
    // Unix socket: peer authentication. TCP: passwords only.
    const QString hba = dataDir() + "/pg_hba.conf";
    ok = ok && writeAll(hba, "local all all peer\nhost all all 127.0.0.1/32 scram-sha-256\n") &&
         chownToServer(hba, error);
    for (int attempt = 0; ok && attempt < 8; ++attempt) {
        bool portTaken = false;
        if (launch(bin, &portTaken, error))
            return true;
        ok = portTaken;
    }
    if (error->isEmpty())
        *error = "cannot write the files of the test server under " + dir_;
    stop();
    return false;
}

bool TestPostgres::launch(const QString& bin, bool* portTaken, QString* error) {
    port_ = pickFreePort();
    server_ = std::make_unique<QProcess>();
    configureChild(*server_);
    server_->setProcessChannelMode(QProcess::MergedChannels);
    server_->setStandardOutputFile(dir_ + "/server.log", QIODevice::Truncate);
    QStringList args = {"-D", dataDir(), "-p", QString::number(port_)};
    for (const char* s : {"listen_addresses=127.0.0.1", "unix_socket_permissions=0777", "fsync=off",
                          "synchronous_commit=off", "full_page_writes=off", "shared_buffers=16MB",
                          "max_connections=100", "lc_messages=C", "logging_collector=off",
                          "password_encryption=scram-sha-256"})
        args << "-c" << s;
    args << "-c"
         << "unix_socket_directories=" + socketDir();
    server_->start(bin + "/postgres", args);
    const bool started = server_->waitForStarted(10000);
    QElapsedTimer timer;
    timer.start();
    while (started && timer.elapsed() < 30000) {
        const QString text = logText();
        if (server_->state() == QProcess::NotRunning) {
            *portTaken = text.contains("Address already in use");
            break;
        }
        if (text.contains("ready to accept connections"))
            return true;
        server_->waitForFinished(50);
    }
    *error = QStringLiteral("postgres on port %1 did not come up (%2); server log:\n%3")
                 .arg(port_)
                 .arg(server_->errorString(), logText());
    server_.reset();  // kills a server that did not come up in time
    return false;
}

void TestPostgres::stop() {
    if (attached_) {
        attached_ = false;
        dir_.clear();
        port_ = 0;
        return;
    }
    if (isRunning()) {
        // SIGINT is PostgreSQL's fast shutdown: sessions are cut off, no waiting for clients.
        ::kill(pid_t(server_->processId()), SIGINT);
        server_->waitForFinished(30000);
    }
    server_.reset();  // kills a server that did not stop in time
    if (!dir_.isEmpty())
        QDir(dir_).removeRecursively();
    dir_.clear();
    port_ = 0;
}

bool TestPostgres::execute(const QString& database, const QString& sql, QString* error) {
    static std::atomic<int> counter{0};
    const QString name = QStringLiteral("pendrill_testpg_%1").arg(++counter);
    QString problem = QStringLiteral("the test PostgreSQL server is not running");
    bool ok = false;
    if (isRunning()) {
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", name);
        db.setHostName(host());
        db.setPort(port_);
        db.setUserName(superuser());
        db.setPassword(password_);
        db.setDatabaseName(database);
        db.setConnectOptions("connect_timeout=10");
        if (db.open()) {
            QSqlQuery q(db);
            ok = q.exec(sql);
            problem = q.lastError().text();
        } else {
            problem = db.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (!ok && error)
        *error = problem;
    return ok;
}

bool TestPostgres::createDatabase(const QString& name, QString* error) {
    return execute("postgres", "CREATE DATABASE \"" + QString(name).replace("\"", "\"\"") + "\"",
                   error);
}

QString TestPostgres::odbcConnectionText(const QString& database) const {
    return QStringLiteral("Driver={%1};Server=%2;Port=%3;Database=%4;Uid=%5;Pwd=%6;")
        .arg(odbcDriverName(), host())
        .arg(port_)
        .arg(database, superuser(), password_);
}

// Info file: one "key=value" line each for keeper, port, password, dir.
qint64 TestPostgres::keeperPid(const QString& infoFile) {
    QFile f(infoFile);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    qint64 pid = 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("keeper="))
            pid = line.mid(7).toLongLong();
    // Only a keeper that still runs, and is one: a pid may have been reused since.
    QFile cmd(QStringLiteral("/proc/%1/cmdline").arg(pid));
    return pid > 0 && cmd.open(QIODevice::ReadOnly) &&
                   cmd.readAll().contains("test_postgres_server")
               ? pid
               : 0;
}

bool TestPostgres::writeInfo(const QString& infoFile, qint64 keeperPid, QString* error) const {
    const QByteArray text = QStringLiteral("keeper=%1\nport=%2\npassword=%3\ndir=%4\n")
                                .arg(keeperPid)
                                .arg(port_)
                                .arg(password_, dir_)
                                .toUtf8();
    // Written before the fixture test ends, so before any test reads it.
    QFile f(infoFile);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner) && f.write(text) == text.size() &&
        f.flush())
        return true;
    *error = "cannot write " + infoFile + ": " + f.errorString();
    return false;
}

bool TestPostgres::attach(const QString& infoFile) {
    if (keeperPid(infoFile) == 0)
        return false;
    QFile f(infoFile);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    stop();
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QString value = QString::fromUtf8(line.mid(line.indexOf('=') + 1));
        if (line.startsWith("port="))
            port_ = value.toInt();
        else if (line.startsWith("password="))
            password_ = value;
        else if (line.startsWith("dir="))
            dir_ = value;
    }
    attached_ = port_ > 0 && !dir_.isEmpty();
    return attached_;
}

TestPostgres* TestPostgres::shared(QString* error) {
    if (!sharedInstance && QCoreApplication::instance()) {
        sharedInstance = new TestPostgres;
#ifdef PENDRILL_TEST_POSTGRES_INFO
        const QString info = QStringLiteral(PENDRILL_TEST_POSTGRES_INFO);
        // Taken once and kept until the process ends (the descriptor is never closed).
        const int lock = ::open(QFile::encodeName(info + ".lock").constData(),
                                O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (QFileInfo::exists(info) && lock >= 0 && ::flock(lock, LOCK_EX) == 0)
            sharedInstance->attach(info);
        else if (lock >= 0)
            ::close(lock);
#endif
        qAddPostRoutine([] {
            delete sharedInstance;
            sharedInstance = nullptr;
        });
    }
    if (!sharedInstance && error)
        *error = "TestPostgres::shared() needs a QCoreApplication";
    return sharedInstance && sharedInstance->start(error) ? sharedInstance : nullptr;
}

}  // namespace testsupport
