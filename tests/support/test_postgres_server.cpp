// The PostgreSQL server of a test run (the CTest fixture postgres_server):
//   test_postgres_server start INFO   starts a keeper process that runs the server, and returns
//                                     once INFO says where it listens (support/TestPostgres.h)
//   test_postgres_server stop INFO    stops the keeper named in INFO, which stops the server
// The keeper also stops when the process that ran `start` (ctest) is gone, so an interrupted run
// leaves no server behind. Without the PostgreSQL binaries `start` writes no INFO and succeeds:
// the tests then skip what needs the server.
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "support/TestPostgres.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

// Runs in the forked keeper: starts the server, reports on `report`, then waits.
int keep(const QString& info, pid_t watched, int report) {
    int argc = 1;
    char name[] = "test_postgres_server";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::signal(SIGTERM, [](int) { stopRequested = 1; });
    std::signal(SIGINT, [](int) { stopRequested = 1; });
    testsupport::TestPostgres pg;
    QString error;
    const bool ok = pg.start(&error) && pg.writeInfo(info, ::getpid(), &error);
    const QByteArray message = ok ? QByteArray("ok\n") : error.toUtf8() + '\n';
    (void)!::write(report, message.constData(), message.size());
    ::close(report);
    if (!ok)
        return 1;
    while (!stopRequested && pg.isRunning() && ::kill(watched, 0) == 0)
        ::usleep(200 * 1000);
    QFile::remove(info);
    pg.stop();
    return 0;
}

int start(const QString& info) {
    QString why;
    if (!testsupport::TestPostgres::available(&why)) {
        std::printf("no PostgreSQL server for this run: %s\n", qPrintable(why));
        return 0;
    }
    if (testsupport::TestPostgres::keeperPid(info) != 0) {
        std::printf("the run's PostgreSQL server is already running (%s)\n", qPrintable(info));
        return 0;
    }
    QFile::remove(info);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        std::perror("pipe");
        return 1;
    }
    const pid_t watched = ::getppid();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0) {
        ::close(fds[0]);
        // Off ctest's output pipes and out of its process group: ctest waits for neither.
        ::setsid();
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd : {0, 1, 2})
            ::dup2(null, fd);
        ::_exit(keep(info, watched, fds[1]));
    }
    ::close(fds[1]);
    QByteArray reply;
    char buffer[512];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            reply.append(buffer, n);
        else if (errno != EINTR)
            break;
    }
    ::close(fds[0]);
    if (reply != "ok\n") {
        std::fprintf(stderr, "cannot start the run's PostgreSQL server: %s\n",
                     reply.isEmpty() ? "the keeper ended" : reply.constData());
        return 1;
    }
    std::printf("PostgreSQL for this run: %s\n", qPrintable(info));
    return 0;
}

int stop(const QString& info) {
    const qint64 pid = testsupport::TestPostgres::keeperPid(info);
    if (pid == 0)
        return 0;
    ::kill(pid_t(pid), SIGTERM);
    for (int i = 0; i < 600 && ::kill(pid_t(pid), 0) == 0; ++i)
        ::usleep(100 * 1000);
    return ::kill(pid_t(pid), 0) == 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: test_postgres_server start|stop INFO\n");
        return 2;
    }
    const QString command = QString::fromLocal8Bit(argv[1]);
    const QString info = QFile::decodeName(argv[2]);
    if (command == "start")
        return start(info);
    if (command == "stop")
        return stop(info);
    std::fprintf(stderr, "usage: test_postgres_server start|stop INFO\n");
    return 2;
}
