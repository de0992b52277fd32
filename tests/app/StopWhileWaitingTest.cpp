// SIGTERM or SIGINT (the flag their handler raises) ends a connection attempt to a server that
// accepts the connection and then says nothing, without waiting for the time-out; and (through
// the stop cutter the handler wakes) a statement that waits for a lock or for a server process
// that stopped answering.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <chrono>
#include <functional>
#include <thread>

#include "config/SettingsStore.h"
#include "db/DbInterface.h"
#include "db/ServerResolver.h"
#include "remote/FtpConnection.h"
#include "remote/FtpTransfer.h"
#include "support/TestSupport.h"
#include "support/Warehouse.h"
#include "util/StopCutter.h"
#include "util/StopFlags.h"

namespace {

// A loopback port whose connections the kernel completes but nobody ever reads or answers.
class SilentServer {
  public:
    SilentServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), size) == 0 && ::listen(fd_, 8) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~SilentServer() { ::close(fd_); }
    int port() const { return port_; }

  private:
    int fd_ = -1;
    int port_ = 0;
};

// Runs `attempt` while another thread does what the signal handler does after 300 ms; its
// duration in ms.
qint64 stoppedAfter300ms(const std::function<void()>& attempt) {
    std::thread signaller([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        StopFlags::TerminationSignalled = true;
        StopFlags::StopRequested = true;
        StopFlags::RemoteStopRequested = true;
        StopCutter::Wake();
    });
    QElapsedTimer clock;
    clock.start();
    attempt();
    const qint64 elapsed = clock.elapsed();
    signaller.join();
    StopFlags::TerminationSignalled = false;
    StopFlags::StopRequested = false;
    StopFlags::RemoteStopRequested = false;
    return elapsed;
}

}  // namespace

TEST(StopWhileConnecting, PostgresServerThatNeverAnswers) {
    testsupport::IsolatedHome home;
    SilentServer silent;
    ASSERT_GT(silent.port(), 0);
    ASSERT_TRUE(WriteRegistryValue(QString::fromLatin1(ServerAliasKey), "silent",
                                   QString("postgresql://etl@127.0.0.1:%1").arg(silent.port())));
    DbConnection c;
    c.ConnectionTimeout = 60;
    c.Describe("silent", "dw", false, "etl", "secret");
    bool opened = true;
    const qint64 ms = stoppedAfter300ms([&] { opened = c.Open(); });
    EXPECT_FALSE(opened);
    EXPECT_LT(ms, 1800) << "the connect waited for its time-out";
    EXPECT_TRUE(c.Errors().join(' ').contains("stop request"))
        << c.Errors().join(' ').toStdString();

    // Without a stop the time-out ends the attempt.
    DbConnection timed;
    timed.ConnectionTimeout = 1;
    timed.Describe("silent", "dw", false, "etl", "secret");
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(timed.Open());
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(timed.Errors().join(' ').contains("timeout expired"))
        << timed.Errors().join(' ').toStdString();
}

TEST(StopWhileConnecting, FtpServerThatNeverGreets) {
    SilentServer silent;
    ASSERT_GT(silent.port(), 0);
    FtpSettings settings;
    settings.connectTimeoutSeconds = 60;
    settings.dataTimeoutSeconds = 60;
    FtpConnection c(QString("127.0.0.1:%1").arg(silent.port()), QString("etl"), QString("pw"),
                    settings);
    bool loggedIn = true;
    const qint64 ms = stoppedAfter300ms([&] { loggedIn = c.Login(); });
    EXPECT_FALSE(loggedIn);
    EXPECT_LT(ms, 1800) << "the login waited for its time-out";
    EXPECT_EQ(c.LastError(), 12017) << "ended by the program, not by the server";
}

// A statement waiting for a lock is cancelled; one whose server process no longer answers (here
// stopped with SIGSTOP) has its connection cut. Either way the wait ends within a second of the
// signal.
TEST(StopWhileWaiting, PostgresStatementsThatWouldWaitForever) {
    testsupport::IsolatedHome home;
    QString skip, error;
    const std::unique_ptr<Warehouse> w =
        Warehouse::Create(Backend::PostgreSQL, home, &skip, &error);
    if (!skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    ASSERT_TRUE(w) << error.toStdString();
    ASSERT_TRUE(w->Exec("CREATE TABLE t (x INTEGER)"));
    StopCutter::Start();

    {
        const std::unique_ptr<DbConnection> holder = w->Open();
        ASSERT_TRUE(holder->Execute("BEGIN") && holder->Execute("LOCK TABLE t"))
            << holder->ErrorText().toStdString();
        const std::unique_ptr<DbConnection> waiter = w->Open();
        // Without the cutter the insert would wait until the lock goes, after 3 s.
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::seconds(3));
            holder->Execute("ROLLBACK");
        });
        bool inserted = true;
        const qint64 ms =
            stoppedAfter300ms([&] { inserted = waiter->Execute("INSERT INTO t VALUES (1)"); });
        release.join();
        EXPECT_FALSE(inserted);
        EXPECT_LT(ms, 1300) << "the statement waited for the lock";
        EXPECT_TRUE(waiter->ErrorText().contains("cancel")) << waiter->ErrorText().toStdString();
    }

    const std::unique_ptr<DbConnection> stalled = w->Open();
    DbRecordset backend;
    ASSERT_TRUE(backend.Open("SELECT pg_backend_pid()", *stalled));
    const pid_t pid = backend.Field(0).toInt();
    if (::kill(pid, SIGSTOP) != 0)
        GTEST_SKIP() << "the server process cannot be stopped by this user";
    std::thread resume([pid] {  // without the cutter the statement would wait for this
        std::this_thread::sleep_for(std::chrono::seconds(3));
        ::kill(pid, SIGCONT);
    });
    bool selected = true;
    const qint64 ms = stoppedAfter300ms([&] { selected = stalled->Execute("SELECT 1"); });
    resume.join();
    EXPECT_FALSE(selected);
    EXPECT_LT(ms, 1300) << "the statement waited for the stopped server process";
    EXPECT_TRUE(w->Exec("SELECT count(*) FROM t")) << "a new connection works after the stop";
}

// A long statement on the embedded server is interrupted the same way.
TEST(StopWhileWaiting, EmbeddedStatementThatRunsLong) {
    testsupport::IsolatedHome home;
    QString skip, error;
    const std::unique_ptr<Warehouse> w = Warehouse::Create(Backend::Embedded, home, &skip, &error);
    ASSERT_TRUE(w) << error.toStdString();
    StopCutter::Start();
    const std::unique_ptr<DbConnection> c = w->Open();
    bool ran = true;
    const qint64 ms = stoppedAfter300ms([&] {
        ran = c->Execute(
            "CREATE TABLE spin AS WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n "
            "WHERE x < 300000000) SELECT count(*) FROM n");
    });
    EXPECT_FALSE(ran);
    EXPECT_LT(ms, 1300) << "the statement ran to its end";
    EXPECT_TRUE(c->ErrorText().contains("interrupt")) << c->ErrorText().toStdString();
}
