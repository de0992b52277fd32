#include "support/TestPostgres.h"

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
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

namespace testsupport {

namespace {

constexpr int kReadyTimeoutMs = 30000;
constexpr int kInitdbTimeoutMs = 120000;
constexpr int kPortAttempts = 8;
const char kServerAccount[] = "postgres";

// Asks the kernel for a free port on the loopback address. Another process may take it before the
// server binds it; launch() reports that and start() tries again with a new port.
int pickFreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    int port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

QString quoteIdentifier(QString name) {
    name.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + name + QLatin1Char('"');
}

QString randomPassword() {
    static const char alphabet[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    QString s;
    for (int i = 0; i < 24; ++i)
        s += QLatin1Char(alphabet[QRandomGenerator::global()->bounded(int(sizeof alphabet) - 1)]);
    return s;
}

QString connectionName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("pendrill_testpg_%1_%2")
        .arg(QCoreApplication::applicationPid())
        .arg(++counter);
}

TestPostgres* sharedInstance = nullptr;

void stopShared() {
    delete sharedInstance;
    sharedInstance = nullptr;
}

}  // namespace

TestPostgres::TestPostgres() = default;

TestPostgres::~TestPostgres() {
    stop();
}

QString TestPostgres::binDir(QString* why) {
    auto usable = [](const QString& dir) {
        return QFileInfo(dir + QLatin1String("/initdb")).isExecutable() &&
               QFileInfo(dir + QLatin1String("/postgres")).isExecutable();
    };
    const QString forced = qEnvironmentVariable("PENDRILL_PG_BINDIR");
    if (!forced.isEmpty()) {
        if (usable(forced))
            return forced;
        if (why)
            *why = QStringLiteral("PENDRILL_PG_BINDIR=%1 holds no initdb/postgres").arg(forced);
        return {};
    }
    const QString root = QStringLiteral("/usr/lib/postgresql");
    QStringList versions = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(), [](const QString& a, const QString& b) {
        return QVersionNumber::fromString(a) > QVersionNumber::fromString(b);
    });
    for (const QString& v : versions) {
        const QString dir = root + QLatin1Char('/') + v + QLatin1String("/bin");
        if (usable(dir))
            return dir;
    }
    if (why)
        *why = QStringLiteral(
                   "PostgreSQL server binaries not installed (no %1/<version>/bin/"
                   "initdb); install the Debian package postgresql")
                   .arg(root);
    return {};
}

QString TestPostgres::socketDir() const {
    return dir_.isEmpty() ? QString() : dir_ + QLatin1String("/sock");
}

QString TestPostgres::dataDir() const {
    return dir_.isEmpty() ? QString() : dir_ + QLatin1String("/data");
}

QString TestPostgres::logText() const {
    if (dir_.isEmpty())
        return {};
    QFile f(dir_ + QLatin1String("/server.log"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(f.readAll());
}

bool TestPostgres::isRunning() const {
    return server_ && server_->state() != QProcess::NotRunning;
}

bool TestPostgres::chownToServer(const QString& path, QString* error) const {
    if (!dropPrivileges_)
        return true;
    if (::chown(QFile::encodeName(path).constData(), serverUid_, serverGid_) == 0)
        return true;
    *error = QStringLiteral("cannot hand %1 to the %2 account: %3")
                 .arg(path, QLatin1String(kServerAccount), QString::fromLocal8Bit(strerror(errno)));
    return false;
}

void TestPostgres::configureChild(QProcess& p) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"PGDATA", "PGHOST", "PGHOSTADDR", "PGPORT", "PGUSER", "PGPASSWORD",
                             "PGDATABASE", "PGOPTIONS", "PGSERVICE", "PGPASSFILE", "LC_MESSAGES"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    if (dropPrivileges_) {
        env.insert(QStringLiteral("HOME"), dir_);
        env.insert(QStringLiteral("USER"), QLatin1String(kServerAccount));
        env.insert(QStringLiteral("LOGNAME"), QLatin1String(kServerAccount));
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
            *error = QStringLiteral(
                         "running as root, but there is no '%1' account to run the "
                         "server as (PostgreSQL refuses to run as root)")
                         .arg(QLatin1String(kServerAccount));
            return false;
        }
        serverUid_ = pw->pw_uid;
        serverGid_ = pw->pw_gid;
    }
    // Under /tmp when root: the server account must be able to reach the directory, and TMPDIR
    // may well be a private 0700 directory.
    const QString base = dropPrivileges_ ? QStringLiteral("/tmp") : QDir::tempPath();
    QByteArray templ = QFile::encodeName(base + QLatin1String("/pendrill-pg-XXXXXX"));
    if (!::mkdtemp(templ.data())) {
        *error = QStringLiteral("cannot create a temporary directory under %1: %2")
                     .arg(base, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    dir_ = QFile::decodeName(templ);
    ::chmod(templ.constData(), 0755);
    QDir(dir_).mkdir(QStringLiteral("sock"));
    password_ = randomPassword();

    bool ok = chownToServer(dir_, error) && chownToServer(socketDir(), error) &&
              runInitdb(bin, error) && writeAuthFiles(error);
    if (ok) {
        ok = false;
        for (int attempt = 0; attempt < kPortAttempts && !ok; ++attempt) {
            bool portTaken = false;
            ok = launch(bin, &portTaken, error);
            if (!ok && !portTaken)
                break;
        }
    }
    if (!ok)
        stop();
    return ok;
}

bool TestPostgres::runInitdb(const QString& bin, QString* error) {
    const QString pwfile = dir_ + QLatin1String("/pwfile");
    {
        QFile f(pwfile);
        if (!f.open(QIODevice::WriteOnly) || f.write(password_.toUtf8() + '\n') < 0) {
            *error = QStringLiteral("cannot write %1").arg(pwfile);
            return false;
        }
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    if (!chownToServer(pwfile, error))
        return false;

    QProcess p;
    configureChild(p);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(bin + QLatin1String("/initdb"),
            {QStringLiteral("-D"), dataDir(), QStringLiteral("-U"), superuser(),
             QStringLiteral("--pwfile=") + pwfile, QStringLiteral("-E"), QStringLiteral("UTF8"),
             QStringLiteral("--locale=C"), QStringLiteral("--no-sync"),
             QStringLiteral("--auth-local=peer"), QStringLiteral("--auth-host=scram-sha-256")});
    const bool finished = p.waitForFinished(kInitdbTimeoutMs);
    QFile::remove(pwfile);
    if (!finished || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (!finished) {
            p.kill();
            p.waitForFinished();
        }
        *error =
            QStringLiteral("initdb failed (%1):\n%2")
                .arg(finished ? QStringLiteral("exit code %1").arg(p.exitCode())
                              : QStringLiteral("timed out"),
                     p.error() == QProcess::FailedToStart ? p.errorString()
                                                          : QString::fromLocal8Bit(p.readAll()));
        return false;
    }
    return true;
}

bool TestPostgres::writeAuthFiles(QString* error) {
    // Unix socket: peer authentication. TCP: passwords only.
    const QByteArray hba =
        "local all all peer\n"
        "host all all 127.0.0.1/32 scram-sha-256\n";
    const QString path = dataDir() + QLatin1String("/pg_hba.conf");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(hba) != hba.size()) {
        *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    f.close();
    return chownToServer(path, error);
}

bool TestPostgres::launch(const QString& bin, bool* portTaken, QString* error) {
    *portTaken = false;
    port_ = pickFreePort();
    if (port_ == 0) {
        *error = QStringLiteral("cannot find a free port on 127.0.0.1: %1")
                     .arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const QString log = dir_ + QLatin1String("/server.log");
    server_ = std::make_unique<QProcess>();
    configureChild(*server_);
    server_->setProcessChannelMode(QProcess::MergedChannels);
    server_->setStandardOutputFile(log, QIODevice::Truncate);
    const QStringList settings = {
        QStringLiteral("listen_addresses=127.0.0.1"),
        QStringLiteral("unix_socket_directories=") + socketDir(),
        QStringLiteral("unix_socket_permissions=0777"),
        QStringLiteral("fsync=off"),
        QStringLiteral("synchronous_commit=off"),
        QStringLiteral("full_page_writes=off"),
        QStringLiteral("shared_buffers=16MB"),
        QStringLiteral("max_connections=50"),
        QStringLiteral("lc_messages=C"),
        QStringLiteral("logging_collector=off"),
        QStringLiteral("password_encryption=scram-sha-256"),
    };
    QStringList args = {QStringLiteral("-D"), dataDir(), QStringLiteral("-p"),
                        QString::number(port_)};
    for (const QString& s : settings)
        args << QStringLiteral("-c") << s;
    server_->start(bin + QLatin1String("/postgres"), args);
    if (!server_->waitForStarted(10000)) {
        *error = QStringLiteral("cannot run %1/postgres: %2").arg(bin, server_->errorString());
        server_.reset();
        return false;
    }

    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kReadyTimeoutMs) {
        const QString text = logText();
        if (server_->state() == QProcess::NotRunning) {
            *portTaken = text.contains(QLatin1String("Address already in use"));
            *error = QStringLiteral(
                         "postgres on port %1 exited (code %2) before accepting "
                         "connections; server log:\n%3")
                         .arg(port_)
                         .arg(server_->exitCode())
                         .arg(text);
            server_.reset();
            return false;
        }
        if (text.contains(QLatin1String("ready to accept connections")))
            return true;
        server_->waitForFinished(50);
    }
    *error = QStringLiteral(
                 "postgres on port %1 did not accept connections within %2 s; server "
                 "log:\n%3")
                 .arg(port_)
                 .arg(kReadyTimeoutMs / 1000)
                 .arg(logText());
    return false;  // stop() takes the process down
}

void TestPostgres::stop() {
    if (server_ && server_->state() != QProcess::NotRunning) {
        // SIGINT is PostgreSQL's fast shutdown: sessions are cut off, no waiting for clients.
        ::kill(pid_t(server_->processId()), SIGINT);
        if (!server_->waitForFinished(30000)) {
            ::kill(pid_t(server_->processId()), SIGQUIT);
            if (!server_->waitForFinished(5000)) {
                server_->kill();
                server_->waitForFinished(5000);
            }
        }
    }
    server_.reset();
    if (!dir_.isEmpty())
        QDir(dir_).removeRecursively();
    dir_.clear();
    port_ = 0;
}

bool TestPostgres::execute(const QString& database, const QString& sql, QString* error) {
    if (!isRunning()) {
        if (error)
            *error = QStringLiteral("the test PostgreSQL server is not running");
        return false;
    }
    const QString name = connectionName();
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(host());
        db.setPort(port_);
        db.setUserName(superuser());
        db.setPassword(password_);
        db.setDatabaseName(database);
        db.setConnectOptions(QStringLiteral("connect_timeout=10"));
        if (!db.open()) {
            if (error)
                *error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            ok = q.exec(sql);
            if (!ok && error)
                *error = q.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool TestPostgres::createDatabase(const QString& name, QString* error) {
    return execute(QStringLiteral("postgres"),
                   QStringLiteral("CREATE DATABASE %1").arg(quoteIdentifier(name)), error);
}

QString TestPostgres::odbcConnectionText(const QString& database) const {
    return QStringLiteral("Driver={%1};Server=%2;Port=%3;Database=%4;Uid=%5;Pwd=%6;")
        .arg(odbcDriverName(), host())
        .arg(port_)
        .arg(database, superuser(), password_);
}

TestPostgres* TestPostgres::shared(QString* error) {
    if (sharedInstance && sharedInstance->isRunning())
        return sharedInstance;
    if (!QCoreApplication::instance()) {
        if (error)
            *error = QStringLiteral("TestPostgres::shared() needs a QCoreApplication");
        return nullptr;
    }
    if (!sharedInstance) {
        sharedInstance = new TestPostgres;
        qAddPostRoutine(stopShared);
    }
    if (!sharedInstance->start(error))
        return nullptr;
    return sharedInstance;
}

}  // namespace testsupport
