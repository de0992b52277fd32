#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

#include "remote/CopyTessalyFiles.h"
#include "util/OperatorInterface.h"

namespace remotetest {

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

// Records message boxes; its progress objects cancel after `cancelAfterLabels` labels (never
// when negative).
class RecordingOperator : public OperatorInterface {
  public:
    RecordingOperator() { SetOperator(this); }
    ~RecordingOperator() override { SetOperator(nullptr); }
    void ProcessPendingEvents() override {}
    void ShowMessageBox(const QString& text, int style, const QString& title) override {
        boxes << QStringLiteral("%1|%2|%3").arg(style).arg(title, text);
    }
    void SetStatusText(const QString&) override {}
    std::unique_ptr<CopyAnimDlg> CreateCopyAnimDlg() override;
    QStringList boxes;
    int cancelAfterLabels = -1;
};

// The job-history records, oldest first.
QList<QJsonObject> JobRecords();
// The file names handed to ProcessMetadataFile, in order.
QStringList MetadataFiles();

// Runs `body` in a child process under the account "nobody" and returns its exit status
// (-1 when the child could not run or was killed). Lets permission checks work when the tests
// run as root.
int RunAsNobody(const std::function<int()>& body);

// Makes a directory (and its parents) that every account may enter and write.
QString OpenDirectory(const QString& path);

}  // namespace remotetest
