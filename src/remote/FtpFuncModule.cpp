#include "remote/FtpFuncModule.h"

#include "rook/RookJobHistory.h"

QString AddRemoteSeparator(QString& path) {
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')) && !path.endsWith(QLatin1Char('\\')))
        path += (path.contains(QLatin1Char('\\')) && !path.contains(QLatin1Char('/')))
                    ? QLatin1Char('\\')
                    : QLatin1Char('/');
    return path;
}

QString StripAfterNul(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

QString WinInetErrorText(qint32) {
    return QStringLiteral("Error details not available.");
}

qint16 FtpReadStatus(const QString&, QString& remoteDir, const QString&, const QString&,
                     QString& failureText) {
    AddRemoteSeparator(remoteDir);
    failureText = QStringLiteral("The Internet connection is not available");
    return 0;
}

bool FtpWriteStatus(const QString&, const QString&, const QString&, QString& remoteDir,
                    QString& statusWord) {
    AddRemoteSeparator(remoteDir);
    statusWord += QStringLiteral("\r\n");
    return false;
}

bool FtpCopyRemoteData(const QString&, QString& remoteDir, QString&, RookJobHistory&,
                       const QString&, const QString&) {
    AddRemoteSeparator(remoteDir);
    return false;
}

bool FtpCheckAccess(const QString&, const QString&, const QString&, const std::optional<QString>&,
                    const std::optional<QString>&, QString*) {
    return false;
}

FtpSettings ReadFtpSettings() {
    return {};
}
