#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QProcess>

#include "RunJob.h"

using testsupport::readAll;

namespace {

// A program start with an empty repository location: the repository cannot be reached, and in
// interactive mode (`-config`) that is said in a modal message box when a display is there.
struct Ending : ::testing::Test {
    testsupport::IsolatedHome home;
    QProcess program;

    void SetUp() override {
        QDir().mkpath(home.configHome() + "/pendrill");
        testsupport::writeAll(home.configHome() + "/pendrill/registry.ini",
                              "[Software\\Tessaly\\Rook\\Repository]\r\nLocation=\r\n");
    }
    void TearDown() override {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished();
        }
    }
    void start(const QStringList& args, const QString& display) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        if (!display.isEmpty())
            env.insert("DISPLAY", display);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(PENDRILL_BIN_DIR "/pendrill"), args);
        ASSERT_TRUE(program.waitForStarted(10000));
        program.closeWriteChannel();
    }
    // True when the program ended within `ms`.
    bool endsWithin(int ms) { return program.waitForFinished(ms); }
};

}  // namespace

// With a display the program waits for the operator: in a modal message box (the repository
// cannot be reached) or in the window of job-configuration mode. SIGTERM and SIGINT end the wait
// and the program, which leaves "failure" behind; in the window SIGTERM is the Close command, so
// the job file says "canceled".
TEST_F(Ending, SignalEndsTheWaitForTheOperator) {
    const struct {
        bool box;
        int signal;
        const char* jobFile;  // nullptr: not checked
    } cases[] = {
        {true, SIGTERM, nullptr}, {true, SIGINT, nullptr}, {false, SIGTERM, "canceled\r\n"}};
    for (int i = 0; i < 3; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        if (!c.box)
            testsupport::writeAll(home.configHome() + "/pendrill/registry.ini", "");
        const QString status = home.file(QStringLiteral("status %1").arg(i));
        const QString job = home.file(QStringLiteral("job %1.cfg").arg(i));
        start({"-config", job, "-statusfile", status}, ":99");
        runjob::WaitUntil([&] { return !readAll(status).isEmpty(); }, 10000);
        EXPECT_EQ(readAll(status), "running\r\n");
        ASSERT_FALSE(endsWithin(1500)) << "the program should be waiting for the operator: "
                                       << program.readAllStandardError().constData();
        ::kill(static_cast<pid_t>(program.processId()), c.signal);
        ASSERT_TRUE(endsWithin(5000)) << "the signal did not end the wait";
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 6);
        EXPECT_EQ(readAll(status), "failure\r\n");
        if (c.jobFile != nullptr) {
            EXPECT_EQ(readAll(job), c.jobFile);
        }
    }
}

// A SIGTERM that comes while the program is still starting (here: sent at once, and held back
// only until the program takes its signals, as when a scheduler starts it with them blocked)
// stops the run like a later one: never the signal's default action and a stale "ok".
TEST_F(Ending, SigtermAtTheStartIsAStop) {
    const QString status = home.file("status");
    testsupport::writeAll(status, "ok\r\n");
    program.setChildProcessModifier([] {
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGTERM);
        sigprocmask(SIG_BLOCK, &blocked, nullptr);
    });
    start({"-configfile", home.file("missing.etl"), "-statusfile", status}, "");
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(endsWithin(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 6);
    EXPECT_EQ(readAll(status), "failure\r\n");
}
