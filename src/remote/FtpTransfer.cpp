#include "remote/FtpTransfer.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>
#include <cerrno>
#include <cstring>
#include <exception>

#include "config/SettingsStore.h"
#include "history/JobRecord.h"
#include "history/Repository.h"
#include "remote/FtpConnection.h"
#include "remote/StatusWords.h"
#include "util/Errors.h"
#include "util/FileUtils.h"
#include "util/OperatorInterface.h"
#include "util/TextFiles.h"
#include "util/UniqueFd.h"

namespace {

const QString kNoSession = QStringLiteral("The Internet connection is not available");
const QString kLoginFailed =
    QStringLiteral("Login failed! FTP site doesn't exist or the password is incorrect!");
const QString kUnexpected = QStringLiteral("Unexpected error occurred! ");
const QString kApplication = QStringLiteral("Pendrill FTP");
const QString kCopyLabel = QStringLiteral("Please wait..... Transfering remote data with FTP");
const QString kCheckTitle = QStringLiteral("FTP check");
constexpr int kStatusReadBytes = 256;
constexpr qint32 kNoMoreFiles = 18;
constexpr int kExclamation = 48;

QString statusPath(QString& remoteDir) {
    AddRemoteSeparator(remoteDir);
    return remoteDir + kFtpStatusFileName;
}

std::optional<QString> given(const QString& text) {
    return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
}

// The text of the connection's last failure: the WinInet text of its code, or the local
// reason (a full disk, an unreadable listing) when the failure has no WinInet code.
QString FtpErrorText(const FtpConnection& ftp) {
    if (ftp.LastError() == 0 && !ftp.LocalError().isEmpty())
        return ftp.LocalError();
    return WinInetErrorText(ftp.LastError(), ftp.LastReply());
}

// Why the login failed: an SFTP host key that was refused says so; anything else is the login.
QString LoginFailureText(const FtpConnection& ftp) {
    return ftp.LocalError().isEmpty() ? kLoginFailed : ftp.LocalError();
}

bool positiveNumber(const QString& text, int& value) {
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (ok && n > 0)
        value = n;
    return ok && n > 0;
}

}  // namespace

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

QString WinInetErrorText(qint32 code, const QString& serverReply) {
    switch (code) {
        case 12001:
            return QStringLiteral("No more handles could be generated at this time");
        case 12002:
            return QStringLiteral("The request has timed out.");
        case 12003: {
            // The reply is copied into a buffer of 256 characters with its terminating NUL; a
            // longer one does not fit and the general text is given instead.
            const QString& reply = serverReply;
            if (reply.isEmpty() || reply.toUtf8().size() >= 256)
                return QStringLiteral("Extended error returned from server.");
            return StripAfterNul(reply);
        }
        case 12004:
            return QStringLiteral("An internal error has occurred.");
        case 12005:
            return QStringLiteral("The URL is invalid.");
        case 12006:
            return QStringLiteral("The URL scheme could not be recognized, or is not supported.");
        case 12007:
            return QStringLiteral("The server name could not be resolved.");
        case 12008:
            return QStringLiteral("The requested protocol could not be located.");
        case 12009:
            return QStringLiteral(
                "A request to InternetQueryOption or InternetSetOption specified "
                "an invalid option value.");
        case 12010:
            return QStringLiteral(
                "The length of an option supplied to InternetQueryOption or "
                "InternetSetOption is incorrect for the type of option specified.");
        case 12011:
            return QStringLiteral("The request option can not be set, only queried. ");
        case 12012:
            return QStringLiteral("The Win32 Internet support is being shutdown or unloaded.");
        case 12013:
            return QStringLiteral(
                "The request to connect and login to an FTP server could not be "
                "completed because the supplied user name is incorrect.");
        case 12014:
            return QStringLiteral(
                "The request to connect and login to an FTP server could not be "
                "completed because the supplied password is incorrect. ");
        case 12015:
            return QStringLiteral("The request to connect to and login to an FTP server failed.");
        case 12016:
            return QStringLiteral("The requested operation is invalid. ");
        case 12017:
            return QStringLiteral(
                "The operation was canceled, usually because the handle on which "
                "the request was operating was closed before the operation "
                "completed.");
        case 12018:
            return QStringLiteral("The type of handle supplied is incorrect for this operation.");
        case 12019:
            return QStringLiteral(
                "The requested operation can not be carried out because the "
                "handle supplied is not in the correct state.");
        case 12020:
            return QStringLiteral("The request can not be made via a proxy.");
        case 12021:
            return QStringLiteral("A required registry value could not be located. ");
        case 12022:
            return QStringLiteral(
                "A required registry value was located but is an incorrect type "
                "or has an invalid value.");
        case 12023:
            return QStringLiteral("Direct network access cannot be made at this time. ");
        case 12024:
            return QStringLiteral(
                "An asynchronous request could not be made because a zero "
                "context value was supplied.");
        case 12025:
            return QStringLiteral(
                "An asynchronous request could not be made because a callback "
                "function has not been set.");
        case 12026:
            return QStringLiteral(
                "The required operation could not be completed because one or "
                "more requests are pending.");
        case 12027:
            return QStringLiteral("The format of the request is invalid.");
        case 12028:
            return QStringLiteral("The requested item could not be located.");
        case 12029:
            return QStringLiteral("The attempt to connect to the server failed.");
        case 12030:
            return QStringLiteral("The connection with the server has been terminated.");
        case 12031:
            return QStringLiteral("The connection with the server has been reset.");
        case 12036:
            return QStringLiteral("The request failed because the handle already exists.");
        default:
            return QStringLiteral("Error details not available.");
    }
}

QString FtpNoSessionText() {
    return kNoSession;
}

FtpSettings ReadFtpSettings() {
    FtpSettings s;
    const QString passive =
        ReadRegistryValue(kFtpSettingsKey, QStringLiteral("PassiveMode")).trimmed().toLower();
    s.passive = passive == QLatin1String("1") || passive == QLatin1String("true") ||
                passive == QLatin1String("yes");
    positiveNumber(ReadRegistryValue(kFtpSettingsKey, QStringLiteral("ConnectTimeout")),
                   s.connectTimeoutSeconds);
    positiveNumber(ReadRegistryValue(kFtpSettingsKey, QStringLiteral("DataTimeout")),
                   s.dataTimeoutSeconds);
    s.caFile = ReadRegistryValue(kFtpSettingsKey, QStringLiteral("CAFile")).trimmed();
    return s;
}

qint16 FtpReadStatus(const QString& server, QString& remoteDir, const QString& user,
                     const QString& password, const RemoteNotes& notes, QString* failureText) {
    try {
        const QString path = statusPath(remoteDir);
        FtpConnection ftp(server, given(user), given(password), ReadFtpSettings());
        if (!ftp.HasSession()) {
            SetError(failureText, kNoSession);
            return RemoteStatus::Failed;
        }
        if (!ftp.Login()) {
            SetError(failureText, LoginFailureText(ftp));
            return RemoteStatus::Failed;
        }
        QByteArray head;
        switch (ftp.ReadHead(path, kStatusReadBytes, head)) {
            case FtpConnection::ReadOutcome::NotOpened:
                notes.Note(QStringLiteral("FTP: Status file not found yet. Polling..."));
                return RemoteStatus::KeepPolling;
            case FtpConnection::ReadOutcome::ReadFailed:
                SetError(failureText, QStringLiteral("FTP: Can't read status file"));
                return RemoteStatus::Failed;
            case FtpConnection::ReadOutcome::Read:
                break;
        }
        return StatusCodeOf(DecodeUtf8OrLatin1(head));
    } catch (const std::exception& e) {
        SetError(failureText, kUnexpected + QString::fromLocal8Bit(e.what()));
        return RemoteStatus::Failed;
    }
}

bool FtpWriteStatus(const QString& server, const QString& user, const QString& password,
                    QString& remoteDir, QString& statusWord, QString* error) {
    try {
        const QString path = statusPath(remoteDir);
        FtpConnection ftp(server, given(user), given(password), ReadFtpSettings());
        if (!ftp.HasSession()) {
            return Fail(error, kNoSession);
        }
        if (!ftp.Login()) {
            return Fail(error, LoginFailureText(ftp));
        }
        statusWord += QStringLiteral("\r\n");
        // Binary type: in ASCII type a Unix server would store the CR LF as its own line end,
        // and the site must hold the word and CR LF exactly.
        return ftp.Upload(path, statusWord.toUtf8());
    } catch (const std::exception& e) {
        return Fail(error, kUnexpected + QString::fromLocal8Bit(e.what()));
    }
}

bool IsPlainFileName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

bool FtpCopyRemoteData(const QString& server, QString& remoteDir, QString& localDir,
                       JobRecord& record, const QString& user, const QString& password,
                       const RemoteNotes& notes, QString* error) {
    std::unique_ptr<CopyProgress> dialog;
    // Whatever way the copy ends, the progress window goes with it.
    struct DialogRelease {
        std::unique_ptr<CopyProgress>& dialog;
        ~DialogRelease() {
            if (dialog)
                dialog->Destroy();
        }
    } release{dialog};
    // Notes the text (after `prefix`), gives it to the caller and, with a status, records it.
    auto fail = [&record, &notes, error](qint32 status, const QString& message,
                                         const QString& prefix = QString()) {
        notes.Note(prefix + message);
        SetError(error, message);
        if (status >= 0) {
            record.setStatus(status);
            record.setMessage(message);
            record.Close(2, kApplication);
        }
        return false;
    };
    const QString errorPrefix = QStringLiteral("Error: ");
    try {
        AddRemoteSeparator(remoteDir);
        if (!PathExists(localDir))
            MakeDirectory(localDir);

        FtpConnection ftp(server, given(user), given(password), ReadFtpSettings());
        if (!ftp.HasSession())
            return fail(1, kNoSession);
        if (!ftp.Login())
            return fail(-1, LoginFailureText(ftp));
        if (!ftp.ChangeDirectory(remoteDir))
            return fail(1,
                        QStringLiteral("Error occurred! Remote directory not found on FTP Server"));

        dialog = Operator().CreateCopyProgress();
        dialog->Destroy();
        dialog->Create(1, QStringLiteral("Copying"), kCopyLabel, true, true);

        std::vector<FtpEntry> entries;
        if (!ftp.List(remoteDir, entries)) {
            if (ftp.LastError() == kNoMoreFiles)
                return fail(-1, QStringLiteral("Remote directory is empty!"));
            return fail(2, FtpErrorText(ftp), errorPrefix);
        }
        // The names come from the site (or from whoever sits between it and us): a name that
        // is not a plain file name would put a file outside the local directory.
        QStringList refused;
        for (const FtpEntry& entry : entries) {
            const QString name = StripAfterNul(entry.name);
            if (name != QLatin1String(".") && name != QLatin1String("..") &&
                (!IsPlainFileName(name) || name.size() != entry.name.size()))
                refused << QLatin1Char('"') + entry.name + QLatin1Char('"');
        }
        if (!refused.isEmpty())
            return fail(2,
                        QStringLiteral("the remote directory lists names that are not plain file "
                                       "names, nothing was copied: ") +
                            refused.join(QStringLiteral(", ")),
                        errorPrefix);

        // Every file is created inside this directory, by name, through its descriptor.
        const UniqueFd local(
            ::open(ToFsPath(localDir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!local.valid())
            return fail(2,
                        QStringLiteral("cannot open the local directory %1: %2")
                            .arg(localDir, QString::fromLocal8Bit(std::strerror(errno))),
                        errorPrefix);

        // Held open while the files come, so that each file's record is one append to the
        // repository's log through one prepared statement instead of an open, a checkpoint and
        // a close of its own.
        Repository::Connection repository;
        const bool held = repository.Open();

        for (const FtpEntry& entry : entries) {
            const QString name = StripAfterNul(entry.name);
            if (name == QLatin1String(".") || name == QLatin1String("..") || entry.directory)
                continue;
            Operator().ProcessPendingEvents();
            if (dialog->IsCancelled())  // not logged: the operator knows; the caller is told
                return Fail(error, QStringLiteral("Copying cancelled"));
            dialog->LabelCaption(kCopyLabel + QStringLiteral("\r\n") + name +
                                 QStringLiteral(" to ") + localDir);
            record.setObjectName(name);
            record.setStartTime(QDateTime::currentDateTimeUtc());
            record.setQuantity(static_cast<double>(entry.size));
            record.setQuantityUnit(QStringLiteral("bytes FTP'ed"));
            const bool ok =
                ftp.Download(remoteDir, name, local.get(), entry.sizeKnown ? entry.size : -1);
            record.setEndTime(QDateTime::currentDateTimeUtc());
            if (!ok) {
                dialog->AnimateStop();
                return fail(2, FtpErrorText(ftp), errorPrefix);
            }
            record.setStatus(0);
            if (held)
                record.Close(repository, 2, kApplication);
            else
                record.Close(2, kApplication);
            notes.Fetched(name, entry.size);
        }
        dialog->AnimateStop();
        Operator().ProcessPendingEvents();
        return true;
    } catch (const std::exception& e) {
        if (dialog)
            dialog->AnimateStop();
        return fail(
            -1, QStringLiteral("Unexpected error occurred!") + QString::fromLocal8Bit(e.what()));
    }
}

bool FtpCheckAccess(const QString& server, const QString& fileName, const QString& remoteDir,
                    const std::optional<QString>& user, const std::optional<QString>& password,
                    QString* error) {
    auto box = [error](const QString& text) {
        SetError(error, text);
        Operator().ShowMessageBox(text, kExclamation, kCheckTitle);
        return false;
    };
    try {
        QString path = fileName;
        if (!remoteDir.isEmpty()) {
            QString directory = remoteDir;
            path = AddRemoteSeparator(directory) + fileName;
        }
        const FtpSettings settings = ReadFtpSettings();
        auto ftp = std::make_unique<FtpConnection>(server, user, password, settings);
        if (!ftp->HasSession()) {
            // Not shown in a box: the caller says it (FtpNoSessionText).
            return Fail(error, kNoSession);
        }
        if (!ftp->Login())
            return box(LoginFailureText(*ftp));
        QByteArray head;
        if (ftp->ReadHead(path, kStatusReadBytes, head) == FtpConnection::ReadOutcome::NotOpened)
            return box(
                QStringLiteral("Error occurred! The user doesn't have read rights or file 'status' "
                               "doesn't exist!"));
        ftp = std::make_unique<FtpConnection>(server, user, password, settings);
        if (!ftp->Login())
            return box(LoginFailureText(*ftp));
        const QString testPath = path + QStringLiteral("test");
        if (!ftp->Upload(testPath, QByteArray()))
            return box(QStringLiteral("Error occurred! The user doesn't have write rights!"));
        ftp = std::make_unique<FtpConnection>(server, user, password, settings);
        if (ftp->Login())
            ftp->Delete(testPath);
        return true;
    } catch (const std::exception& e) {
        return box(QStringLiteral("Unexpected error occurred!") + QString::fromLocal8Bit(e.what()));
    }
}
