// Fetches every file of a remote FTP directory into a local one with FtpCopyRemoteData, as a
// fetch of remote data does, and prints "<bytes> <seconds>" on standard output.
//
//   bench_ftp_fetch SERVER REMOTE_DIR LOCAL_DIR [USER [PASSWORD]]
//
// Exit status 0 when the copy succeeded, 1 when it failed, 2 for wrong usage.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>

#include "history/JobRecord.h"
#include "remote/FtpTransfer.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4 || args.size() > 6) {
        std::fprintf(stderr,
                     "usage: bench_ftp_fetch SERVER REMOTE_DIR LOCAL_DIR [USER [PASSWORD]]\n");
        return 2;
    }
    QString remote = args[2], local = args[3];
    const QString user = args.value(4), password = args.value(5);
    JobRecord record;
    QElapsedTimer timer;
    timer.start();
    const bool ok = FtpCopyRemoteData(args[1], remote, local, record, user, password, {});
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    qint64 bytes = 0;
    for (const QFileInfo& f : QDir(local).entryInfoList(QDir::Files))
        bytes += f.size();
    std::printf("%lld %.3f\n", static_cast<long long>(bytes), seconds);
    return ok ? 0 : 1;
}
