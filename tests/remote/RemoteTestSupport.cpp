#include "remote/RemoteTestSupport.h"

#include <sys/stat.h>

#include <QDir>
#include <QSqlQuery>
#include <algorithm>

#include "rook/RookHistoryReader.h"
#include "rook/RookRepository.h"

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
