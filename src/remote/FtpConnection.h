#pragma once

#include <QByteArray>
#include <QString>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "remote/FtpTransfer.h"

// One logged-in FTP control connection (or SFTP session) on libcurl, the stand-in for a WinInet
// session plus connection handle. Requests made through one object reuse its control connection
// (one login); destroying the object closes it. Every failed call leaves a WinInet error code in
// LastError() (12002 time-out, 12003 refused by the server with its reply in LastReply(), 12007
// name not resolved, 12014/12015 login refused, 12029 cannot connect, 12030/12031 connection lost,
// ...).

// Where the server text points: "host", "host:port", "[v6]:port", "ftps://host[:port]", or
// "sftp://host[:port]" for SFTP (port 22 when none is named; see SftpSession.h).
struct FtpServerAddress {
    QString host;
    int port = 21;
    bool explicitTls = false;
    bool sftp = false;
};
FtpServerAddress ParseFtpServer(const QString& server);

// A remote directory entry as the server's listing gives it.
struct FtpEntry {
    QString name;
    bool directory = false;
    bool sizeKnown = false;
    qint64 size = 0;
};

class FtpConnection {
  public:
    // Prepares a handle; nothing goes over the network yet. No user name logs in anonymously.
    FtpConnection(const QString& server, const std::optional<QString>& user,
                  const std::optional<QString>& password, const FtpSettings& settings);
    ~FtpConnection();
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    // False when no handle could be made (the "session" failed).
    bool HasSession() const;

    // Connects and logs in. False on any failure.
    bool Login();

    enum class ReadOutcome { Read, NotOpened, ReadFailed };
    // Opens the file for reading (ASCII) and reads at most `maxBytes` of it into `data`.
    // NotOpened when the server refused the file or the connection failed before any data came;
    // ReadFailed when the transfer started but nothing could be read.
    ReadOutcome ReadHead(const QString& path, int maxBytes, QByteArray& data);

    // Replaces the remote file with exactly these bytes (binary type, so that no line end is
    // converted on the way). False when the upload was refused or failed.
    bool Upload(const QString& path, const QByteArray& data);

    // Changes into the directory, to learn whether it exists. The empty text is the login
    // directory and always succeeds.
    bool ChangeDirectory(const QString& directory);

    // Lists the directory (subdirectories included, "." and ".." as the server gives them).
    // False with LastError() 18 when the listing has no entries at all; with LastError() 0 and
    // LocalError() when the listing came but could not be read.
    bool List(const QString& directory, std::vector<FtpEntry>& entries);

    // Downloads `directory` + `name` (ASCII) into the file `name` of the open directory
    // `localDirFd`, through a hidden temporary file there (".NAME.pendrill-part", created afresh,
    // never through a symbolic link) that is renamed over `name` when the whole file has arrived.
    // `name` must be a plain file name. When `expectedSize` is not negative, fewer bytes than that
    // count as a lost connection. Nothing is left under either name on failure; a local failure
    // leaves LastError() 0 and its reason in LocalError().
    bool Download(const QString& directory, const QString& name, int localDirFd,
                  qint64 expectedSize = -1);

    // Deletes a remote file (DELE).
    bool Delete(const QString& path);

    qint32 LastError() const { return lastError_; }
    // Why the last call failed when the failure has no WinInet code (LastError() 0): a local file
    // that could not be written, a listing that could not be read, an SFTP host key refused.
    // Empty otherwise.
    QString LocalError() const { return localError_; }
    // The server's last reply (all its lines), without the final line end.
    QString LastReply() const { return lastReply_; }

    // The number of the last reply and the way a request went; used by the callbacks.
    struct Trace;

  private:
    bool perform(const QByteArray& url);
    bool listSftp(const QString& directory, std::vector<FtpEntry>& entries);
    QByteArray urlOf(const QString& path) const;
    void resetRequest();

    struct Impl;
    std::unique_ptr<Impl> d_;
    qint32 lastError_ = 0;
    int lastCurlCode_ = 0;  // libcurl's result of the last request
    QString localError_;
    QString lastReply_;
};

// The text of `path` followed by `name` as the FTP path of a file in that directory: the name is
// added directly after a '/', after a '\' with a '/' between (so the directory part stays
// whole), and alone for the empty (login) directory.
QString FtpFilePath(const QString& directory, const QString& name);
