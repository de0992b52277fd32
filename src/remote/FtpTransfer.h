#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

#include "remote/RemoteNotes.h"

class JobRecord;

// Remote data over FTP (libcurl): the "status" file read and written on the site, the data files
// downloaded, and the rights check of the flat-file panel. Every operation opens its own
// connection and closes it before it returns; nothing is kept between calls.
//
// The server text is "host", "host:port" (port 21 when none is named) or "ftps://host[:port]"
// for explicit TLS (AUTH TLS on the plain FTP port, the server's certificate verified). Transfers
// use ASCII type; the connection is active-mode FTP unless the settings store switches to passive
// mode. Connect and no-data time-outs come from the settings store as well (FtpSettings below).
// An empty user name logs in anonymously.
//
// None of these calls raises an exception to its caller: failures are returned as false or code 0
// with their reason in the last parameter; progress notes go to the RemoteNotes the caller hands
// in; only FtpCheckAccess shows message boxes.

// The status file's name in the remote directory.
inline const QString kFtpStatusFileName = QStringLiteral("status");

// Appends a separator to a non-empty remote directory that ends in neither '/' nor '\': '\' when
// the text holds a backslash and no slash, '/' otherwise. Changes the variable; returns its new
// value. The empty text stays empty (the login directory).
QString AddRemoteSeparator(QString& path);

// The part of the text before its first NUL character; the whole text when it has none.
QString StripAfterNul(const QString& text);

// The English text of a WinInet error code (12001 to 12036); "Error details not available." for
// any other code. 12003 is `serverReply` (the server's reply to the failed request), or
// "Extended error returned from server." when there is none or it is 256 bytes or longer.
QString WinInetErrorText(qint32 code, const QString& serverReply = QString());

// Reads the status file of `remoteDir` (a separator is appended to the variable first) and
// returns its code: 2 ready, 1 keep polling, 0 give up. A status file that cannot be opened
// (missing, no read rights, any refusal) is 1 after noting "FTP: Status file not found yet.
// Polling...". 0 with the reason in `failureText` when the session cannot start, the login fails,
// or the file opened but could not be read.
qint16 FtpReadStatus(const QString& server, QString& remoteDir, const QString& user,
                     const QString& password, const RemoteNotes& notes,
                     QString* failureText = nullptr);

// Replaces the status file of `remoteDir` with `statusWord` followed by CR LF; the variable gets
// the CR LF appended. The file on the site holds exactly those bytes. False when the word was not
// written: the reason of a session or login failure in `error`; a refused upload leaves it empty
// (it is not worth a run-log line).
bool FtpWriteStatus(const QString& server, const QString& user, const QString& password,
                    QString& remoteDir, QString& statusWord, QString* error = nullptr);

// Downloads every plain file of `remoteDir` (subdirectories are not entered) into `localDir`,
// which is created when missing. Each file is written under a hidden temporary name
// (".NAME.pendrill-part") and renamed when complete, so no half file ever carries its real name;
// a failed download leaves nothing under the real name. Files are created only inside the local
// directory: a listing that holds any name other than a plain file name (one with '/' or a NUL,
// an empty name; "." and ".." are skipped as always) is refused as a whole before anything is
// downloaded, with those names in a note and a status 2 record; a symbolic link in the local
// directory is never followed. Each downloaded file leaves one record in `record` (status 0,
// quantity = the listed size in "bytes FTP'ed"); the failures recorded are status 1 (no session,
// remote directory not found) and 2 (listing or download error). False when the listing was
// empty or unreadable, the login failed, the copy was cancelled or a file failed, with the reason
// in `error` when given; a failure other than a cancel is also noted as it happens (the line of a
// listing or download error begins "Error: "), before the caller writes the status file again.
// Files downloaded before a failure stay.
bool FtpCopyRemoteData(const QString& server, QString& remoteDir, QString& localDir,
                       JobRecord& record, const QString& user, const QString& password,
                       const RemoteNotes& notes, QString* error = nullptr);

// True for a name that a listing may hand to the local directory: not empty, not "." or "..",
// and without '/' or NUL.
bool IsPlainFileName(const QString& name);

// Checks that the user may log in, read `fileName` in `remoteDir` and write beside it (an empty
// file named `fileName` + "test" is uploaded, then deleted). No user and password (nullopt) log
// in anonymously. Each failure leaves its text in `error` when given; every one but a session
// that cannot start (FtpNoSessionText, which the caller logs) shows an exclamation message box
// titled "FTP check" (interactive mode only, through the operator). True when login, read and
// write rights were confirmed.
bool FtpCheckAccess(const QString& server, const QString& fileName, const QString& remoteDir,
                    const std::optional<QString>& user = std::nullopt,
                    const std::optional<QString>& password = std::nullopt,
                    QString* error = nullptr);

// "The Internet connection is not available": the reason when no FTP session can start.
QString FtpNoSessionText();

// What the settings store says about FTP connections, key "Software\Tessaly\Pendrill\FTP":
//   PassiveMode     "1" (or "true"/"yes") for passive mode; active mode otherwise (default)
//   ConnectTimeout  seconds allowed to connect and log in (default 30)
//   DataTimeout     seconds without any data or server reply before a transfer is given up
//                   (default 60)
//   CAFile          a file of trusted certificates for ftps:// servers (default: the system's)
struct FtpSettings {
    bool passive = false;
    int connectTimeoutSeconds = 30;
    int dataTimeoutSeconds = 60;
    QString caFile;
};
inline const QString kFtpSettingsKey = QStringLiteral("Software\\Tessaly\\Pendrill\\FTP");
// The settings as stored; a value that is missing or not a positive number keeps its default.
FtpSettings ReadFtpSettings();
