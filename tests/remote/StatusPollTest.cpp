#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <map>
#include <optional>

#include "remote/RemoteTestSupport.h"
#include "remote/StatusPolling.h"
#include "support/TestSupport.h"
#include "util/StopFlags.h"

using remotetest::CountingClock;
using remotetest::JobRecords;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

constexpr qint64 kMinute = 60 * 1000;
const char* const kNotFound = "Copy: status file not found yet. Polling...";
const char* const kTimedOut = "Polling for remote data timed out.";

TEST(StatusCodeOf, FirstLineBeginningDecides) {
    const struct {
        const char* text;
        short code;
    } cases[] = {
        {"ready", 2},          {"ready\r\n", 2},    {"readyness", 2}, {"ready for you", 2},
        {"Ready", 1},          {"READY", 1},        {" ready", 1},    {"running", 1},
        {"exchange_ready", 1}, {"idle\r\n\r\n", 1}, {"", 1},          {"anything", 1},
        {"error", 0},          {"error: disk", 0},  {"stop", 0},      {"stopped", 0},
        {"Stop", 1},           {"rea", 1},          {"erro", 1},      {"\xef\xbb\xbfready", 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StatusCodeOf(QString::fromUtf8(c.text)), c.code) << c.text;
}

// The remote side as time passes: from each minute on (keys), the status file holds the text, or
// is missing (nullopt).
using Script = std::map<qint64, std::optional<QByteArray>>;

class PollLoop : public remotetest::RemoteTest {
  protected:
    void SetUp() override {
        RemoteTest::SetUp();
        QDir().mkpath(remote);
        writeAll(remote + "/data.txt", "1;2;3\r\n");
    }
    void TearDown() override {
        RemoteTest::TearDown();
        StopFlags::RemoteStopRequested = false;
    }
    void apply(const Script& script, qint64 t) {
        const auto it = script.find(t / kMinute);
        if (t % kMinute != 0 || it == script.end())
            return;
        QFile::remove(remote + "/status");
        if (it->second)
            writeAll(remote + "/status", *it->second);
    }
    bool fetch(short interval, short duration, const Script& script) {
        apply(script, 0);
        clock.onSleep = [this, script](qint64 t) { apply(script, t); };
        QString r = remote, l = local;
        const bool ok = FetchRemoteData(r, l, interval, duration, {}, {}, {}, clock.context(notes));
        EXPECT_TRUE(duration <= 0 || r == remote + "/") << "the separator stays appended";
        return ok;
    }

    CountingClock clock;
    QString remote = home.file("remote"), local = home.file("local");
};

TEST_F(PollLoop, StatusSequences) {
    const std::nullopt_t missing = std::nullopt;
    const struct {
        const char* name;
        short interval, duration;
        Script script;
        bool result;
        int reads;            // status reads that found no file
        qint64 elapsedMs;     // time spent waiting
        const char* message;  // of the failure record; nullptr when the fetch succeeded
        QByteArray statusAfter;
    } cases[] = {
        {"missing, running, ready", 1, 10,
         Script{{0, missing}, {2, "running\r\n"}, {4, "ready\r\n"}}, true, 2, 4 * kMinute, nullptr,
         "idle\r\n\r\n"},
        {"ready at once: no wait", 5, 60, Script{{0, "ready"}}, true, 0, 0, nullptr,
         "idle\r\n\r\n"},
        {"running until the end", 1, 3, Script{{0, "running"}}, false, 0, 3 * kMinute, kTimedOut,
         "running"},
        {"never there: 12 reads in an hour", 5, 60, Script{{0, missing}}, false, 12, 60 * kMinute,
         kTimedOut, ""},
        {"duration 0: no read", 5, 0, Script{{0, missing}}, false, 0, 0, kTimedOut, ""},
        {"negative duration: no read", 5, -4, Script{{0, "ready"}}, false, 0, 0, kTimedOut,
         "ready"},
        {"interval 0 reads every second for the duration", 0, 1, Script{{0, missing}}, false, 60,
         kMinute, kTimedOut, ""},
        {"negative interval like 0", -7, 2, Script{{0, missing}}, false, 120, 2 * kMinute,
         kTimedOut, ""},
        {"remote side says stop", 1, 10, Script{{0, "running"}, {3, "stop\r\n"}}, false, 0,
         3 * kMinute, "", "stop\r\n"},
        {"remote side says error", 2, 10, Script{{0, missing}, {1, "error"}}, false, 1, 2 * kMinute,
         "", "error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(logPath);
        QDir(local).removeRecursively();
        const qsizetype recordsBefore = JobRecords().size();
        clock.elapsedMs = 0;

        EXPECT_EQ(fetch(c.interval, c.duration, c.script), c.result);
        EXPECT_EQ(clock.elapsedMs, c.elapsedMs);
        const QStringList log = logLines();
        EXPECT_EQ(log.value(0), "Polling for remote data.");
        EXPECT_EQ(log.count(kNotFound), c.reads);
        EXPECT_EQ(readAll(remote + "/status"), c.statusAfter);

        const QList<QJsonObject> records = JobRecords().mid(recordsBefore);
        if (c.message == nullptr) {
            EXPECT_TRUE(log.contains("Copying Remote Data from Share"));
            EXPECT_EQ(readAll(local + "/data.txt"), "1;2;3\r\n");
            ASSERT_EQ(records.size(), 2) << "one record per copied file (data.txt, status)";
            EXPECT_EQ(records[0]["Status"].toInt(), 0);
        } else {
            EXPECT_FALSE(QFile::exists(local + "/data.txt"));
            EXPECT_EQ(log.contains(kTimedOut), QByteArray(c.message) == kTimedOut);
            ASSERT_EQ(records.size(), 1);
            EXPECT_EQ(records[0]["Status"].toInt(), 3);
            EXPECT_EQ(records[0]["Message"].toString(), c.message);
        }
        for (const QJsonObject& r : records) {
            EXPECT_EQ(r["Kind"].toInt(), 2);
            EXPECT_EQ(r["ApplicationName"].toString(), "Pendrill Copy");
            EXPECT_EQ(r["SourcePath"].toString(), remote) << "as it was before polling";
            EXPECT_EQ(r["TargetPath"].toString(), local);
            EXPECT_EQ(r["SourceServer"].toString(), r["ComputerName"].toString());
            EXPECT_EQ(r["SourceUser"].toString(), r["CurrentUserName"].toString());
        }
    }
}

TEST_F(PollLoop, FailedCopyOffersTheDataAgain) {
    // The local directory is a file: nothing can be copied into it.
    writeAll(local, "in the way");
    EXPECT_FALSE(fetch(1, 5, {{0, "ready\r\n"}}));
    EXPECT_EQ(readAll(remote + "/status"), "ready\r\n\r\n");
    ASSERT_EQ(JobRecords().size(), 1);
    EXPECT_EQ(JobRecords()[0]["Status"].toInt(), 3);
    EXPECT_EQ(JobRecords()[0]["Message"].toString(), "Couldn't copy file " + remote + "/data.txt");
}

TEST_F(PollLoop, StopDuringAWaitEndsWithinOneSlice) {
    // Stop pressed 2.5 minutes into a 5-minute wait.
    qint64 stoppedAt = -1;
    clock.onSleep = [&](qint64 t) {
        if (stoppedAt < 0 && t >= 150 * 1000) {
            stoppedAt = t;
            RequestRemoteStop();
        }
    };
    QString r = remote, l = local;
    EXPECT_FALSE(FetchRemoteData(r, l, 5, 60, {}, {}, {}, clock.context(notes)));
    EXPECT_LE(clock.elapsedMs - stoppedAt, 100);
    EXPECT_EQ(logLines().count(kNotFound), 1) << "no further read after the stop";
    ASSERT_EQ(JobRecords().size(), 1);
    EXPECT_EQ(JobRecords()[0]["Message"].toString(), "Process stopped by user.");
}

TEST_F(PollLoop, StopFromAnEventDuringARealWait) {
    // With the real clock: a timer presses Stop while the poll waits its first minute; pending
    // events are served between slices, so the fetch ends soon after, not a minute later.
    QElapsedTimer timer;
    QTimer::singleShot(200, [] { RequestRemoteStop(); });
    timer.start();
    QString r = remote, l = local;
    EXPECT_FALSE(FetchRemoteData(r, l, 1, 10));
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(JobRecords().value(0)["Message"].toString(), "Process stopped by user.");
}

// The poll loop's wait (WaitMinutes, which no program calls, waits the same way).
TEST(WaitMilliseconds, SlicesAndStop) {
    CountingClock clock;
    StopFlags::RemoteStopRequested = false;
    WaitMilliseconds(250, &clock);
    EXPECT_EQ(clock.elapsedMs, 300) << "rounded up to a multiple of 100 ms";
    EXPECT_EQ(clock.slices, 3);
    RequestRemoteStop();
    WaitMilliseconds(60000, &clock);
    EXPECT_EQ(clock.slices, 3) << "a stop already requested ends the wait at once";
    StopFlags::RemoteStopRequested = false;
}

}  // namespace
