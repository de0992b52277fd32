#pragma once

#include <gtest/gtest.h>

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

#include "remote/CopyTessalyFiles.h"
#include "support/RecordingOperator.h"
#include "support/TestSupport.h"
#include "util/OperatorInterface.h"

namespace remotetest {

// A test in an isolated home whose run log (the exception file) is `logPath`.
class RemoteTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    QString log() const;
    QStringList logLines() const;  // the run log's lines, without the empty ones
    static QStringList fileNames(const QString& dir);  // plain and hidden files, by name

    testsupport::IsolatedHome home;
    QString logPath = home.file("run.log");
};

// A clock that only counts: every slice of a wait adds to `elapsedMs` at once. `onSleep` runs
// after each slice (to change the remote side as time goes by, or to press Stop).
class CountingClock : public RemoteClock {
  public:
    CountingClock() { SetRemoteClock(this); }
    ~CountingClock() override { SetRemoteClock(nullptr); }
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

// The shared recording operator, installed for its lifetime; its progress objects cancel after
// `cancelAfterLabels` labels (never when negative).
class InstalledOperator : public RecordingOperator {
  public:
    InstalledOperator() { SetOperator(this); }
    ~InstalledOperator() override { SetOperator(nullptr); }
    std::unique_ptr<CopyAnimDlg> CreateCopyAnimDlg() override;
    int cancelAfterLabels = -1;
};

// The job-history records, oldest first.
QList<QJsonObject> JobRecords();
// Expects the job-history records to be one successful record per copied file, in this order,
// with the unit, application and source path every one of them shares.
struct CopiedFile {
    const char* name;
    double bytes;
};
void ExpectCopyRecords(const QList<CopiedFile>& files, const QString& unit,
                       const QString& application, const QString& sourcePath);
// The file names handed to ProcessMetadataFile, in order.
QStringList MetadataFiles();

// Makes a directory (and its parents) that every account may enter and write.
QString OpenDirectory(const QString& path);

}  // namespace remotetest
