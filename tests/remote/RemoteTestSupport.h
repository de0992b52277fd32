#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QJsonObject>
#include <QSqlQuery>
#include <algorithm>
#include <functional>

#include "history/JobHistoryReader.h"
#include "history/Repository.h"
#include "remote/StatusPolling.h"
#include "support/RecordingOperator.h"
#include "support/TestSupport.h"
#include "util/RunLog.h"

namespace remotetest {

// A test in an isolated home whose run log (the exception file) is `logPath`; `notes` go to it.
class RemoteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        runLog.file = [this] { return logPath; };
        notes.note = [this](const QString& line) { runLog.Info(line); };
        notes.box = [this](const QString& text, int style, const QString& title) {
            runLog.Message(text, true, style, title);
        };
    }
    QString log() const { return QString::fromUtf8(testsupport::readAll(logPath)); }
    // The run log's lines, without the empty ones.
    QStringList logLines() const { return log().split("\r\n", Qt::SkipEmptyParts); }
    // Plain and hidden files, by name.
    static QStringList fileNames(const QString& dir) {
        return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    testsupport::IsolatedHome home;
    QString logPath = home.file("run.log");
    RunLog runLog;
    RemoteNotes notes;
};

// A clock that only counts: every slice of a wait adds to `elapsedMs` at once. `onSleep` runs
// after each slice (to change the remote side as time goes by, or to press Stop). `context()`
// hands it to a fetch with the notes given.
class CountingClock : public RemoteClock {
  public:
    RemoteFetchContext context(const RemoteNotes& notes = {}) {
        RemoteFetchContext c;
        c.clock = this;
        c.notes = notes;
        return c;
    }
    void Sleep(int milliseconds) override {
        elapsedMs += milliseconds;
        ++slices;
        if (onSleep)
            onSleep(elapsedMs);
    }
    qint64 elapsedMs = 0;
    int slices = 0;
    std::function<void(qint64)> onSleep;
};

// The shared recording operator, installed for its lifetime; its progress windows cancel after
// `cancelAfterLabels` labels (never when negative).
class InstalledOperator : public RecordingOperator {
  public:
    InstalledOperator() { SetOperator(this); }
    ~InstalledOperator() override { SetOperator(nullptr); }
    std::unique_ptr<CopyProgress> CreateCopyProgress() override {
        struct Cancelling : HeadlessCopyProgress {
            int after, labels = 0;
            explicit Cancelling(int a) : after(a) {}
            void LabelCaption(const QString&) override { ++labels; }
            bool IsCancelled() const override { return after >= 0 && labels >= after; }
        };
        return std::make_unique<Cancelling>(cancelAfterLabels);
    }
    int cancelAfterLabels = -1;
};

// The job-history records, oldest first.
inline QList<QJsonObject> JobRecords() {
    QList<QJsonObject> records;
    QString error;
    ReadJobHistory(records, -1, &error);
    std::reverse(records.begin(), records.end());
    return records;
}

// Expects the job-history records to be one successful record per copied file, in this order,
// with the unit, application and source path every one of them shares.
struct CopiedFile {
    const char* name;
    double bytes;
};
inline void ExpectCopyRecords(const QList<CopiedFile>& files, const QString& unit,
                              const QString& application, const QString& sourcePath) {
    const QList<QJsonObject> records = JobRecords();
    ASSERT_EQ(records.size(), files.size());
    for (qsizetype i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].name);
        EXPECT_EQ(records[i]["ObjectName"].toString(), files[i].name);
        EXPECT_EQ(records[i]["Quantity"].toDouble(), files[i].bytes);
        EXPECT_EQ(records[i]["QuantityUnit"].toString(), unit);
        EXPECT_EQ(records[i]["Status"].toInt(), 0);
        EXPECT_EQ(records[i]["ApplicationName"].toString(), application);
        EXPECT_EQ(records[i]["SourcePath"].toString(), sourcePath);
        EXPECT_FALSE(records[i]["StartTime"].toString().isEmpty());
        EXPECT_FALSE(records[i]["EndTime"].toString().isEmpty());
    }
}

// The file names handed to ProcessMetadataFile, in order.
inline QStringList MetadataFiles() {
    QStringList names;
    Repository::Connection repo;
    QSqlQuery q(repo.Open() ? repo.Db() : QSqlDatabase());
    q.exec("SELECT FileName FROM metadata_files ORDER BY Id");
    while (q.next())
        names << q.value(0).toString();
    return names;
}

// Makes a directory (and its parents) that every account may enter and write.
inline QString OpenDirectory(const QString& path) {
    QDir().mkpath(path);
    ::chmod(QFile::encodeName(path).constData(), 0777);
    return path;
}

}  // namespace remotetest
