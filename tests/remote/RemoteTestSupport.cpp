#include "remote/RemoteTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QSqlQuery>
#include <algorithm>

#include "rook/RookHistoryReader.h"
#include "rook/RookRepository.h"
#include "util/ProgramState.h"

namespace remotetest {

namespace {
class CancellingDlg : public HeadlessCopyAnimDlg {
  public:
    explicit CancellingDlg(int after) : after_(after) {}
    void LabelCaption(const QString&) override { ++labels_; }
    bool IsCancelled() const override { return after_ >= 0 && labels_ >= after_; }

  private:
    int after_;
    int labels_ = 0;
};
}  // namespace

void RemoteTest::SetUp() {
    ProgramState::SetExceptionFileSource([this] { return logPath; });
}

void RemoteTest::TearDown() {
    ProgramState::SetExceptionFileSource(nullptr);
}

QString RemoteTest::log() const {
    return QString::fromUtf8(testsupport::readAll(logPath));
}

QStringList RemoteTest::logLines() const {
    return log().split("\r\n", Qt::SkipEmptyParts);
}

QStringList RemoteTest::fileNames(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

std::unique_ptr<CopyAnimDlg> InstalledOperator::CreateCopyAnimDlg() {
    return std::make_unique<CancellingDlg>(cancelAfterLabels);
}

QList<QJsonObject> JobRecords() {
    QList<QJsonObject> records;
    QString error;
    ReadJobHistory(records, error);
    std::reverse(records.begin(), records.end());
    return records;
}

void ExpectCopyRecords(const QList<CopiedFile>& files, const QString& unit,
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

QStringList MetadataFiles() {
    QStringList names;
    RookRepository::Connection repo;
    if (!repo.Open())
        return names;
    QSqlQuery q(repo.Db());
    q.exec(QStringLiteral("SELECT FileName FROM metadata_files ORDER BY Id"));
    while (q.next())
        names << q.value(0).toString();
    return names;
}

QString OpenDirectory(const QString& path) {
    QDir().mkpath(path);
    ::chmod(QFile::encodeName(path).constData(), 0777);
    return path;
}

}  // namespace remotetest
