// pendrill-admin remote fetch stopped by a signal while it waits for a site to get ready (every
// other remote command: cases/4NN-remote-*.case).
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

#include "AdminRun.h"
#include "support/DataLinkWarehouse.h"

TEST(AdminRemote, SignalStopsTheWait) {
    testsupport::IsolatedHome home;
    QString skip, error;
    const auto wh = CreateDataLinkWarehouse(Backend::Embedded, home, &skip, &error);
    ASSERT_TRUE(wh) << error.toStdString();
    ASSERT_TRUE(QDir().mkpath(home.file("site")));
    ASSERT_TRUE(testsupport::writeAll(home.file("site/status"), "running\r\n"));
    const QStringList where = {"--server", wh->server, "--database", wh->database, "--model", "M"};
    ASSERT_EQ(
        testsupport::admin(QStringList{"datalink", "add", "--name", "Never", "--type", "3",
                                       "--transfer-data", "2", "--remote-directory",
                                       home.file("site"), "--ds-directory", home.file("local"),
                                       "--poll-interval", "5", "--poll-duration", "60"} +
                           where)
            .exitCode,
        0);
    QProcess p;
    p.start(QStringLiteral(PENDRILL_BIN_DIR "/pendrill-admin"),
            QStringList{"remote", "fetch"} + where);
    ASSERT_TRUE(p.waitForStarted());
    // Wait until it polls (its first line), then stop it.
    ASSERT_TRUE(p.waitForReadyRead(20000));
    QElapsedTimer timer;
    timer.start();
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_LT(timer.elapsed(), 3000) << "a stop is noticed at the next 100 ms tick";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 5);
}
