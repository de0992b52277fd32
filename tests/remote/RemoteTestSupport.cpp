#include "remote/RemoteTestSupport.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QSqlQuery>
#include <algorithm>
#include <cstdlib>

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

std::unique_ptr<CopyAnimDlg> RecordingOperator::CreateCopyAnimDlg() {
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

int RunAsNobody(const std::function<int()>& body) {
    const passwd* pw = ::getpwnam("nobody");
    if (pw == nullptr)
        return -1;
    const uid_t uid = pw->pw_uid;
    const gid_t gid = pw->pw_gid;
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (::getuid() == 0 &&
            (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(125);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

QString OpenDirectory(const QString& path) {
    QDir().mkpath(path);
    ::chmod(QFile::encodeName(path).constData(), 0777);
    return path;
}

}  // namespace remotetest
