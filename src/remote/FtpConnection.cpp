#include "remote/FtpConnection.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "remote/SftpSession.h"
#include "util/FileUtils.h"
#include "util/StopFlags.h"
#include "util/UniqueFd.h"

namespace {

struct CurlEasyDeleter {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlListDeleter {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, CurlListDeleter>;

// The listing being collected. libcurl 7.88 hands the chunk callback a null data pointer, so the
// listing request names its collector here instead of through CURLOPT_CHUNK_DATA.
thread_local std::vector<FtpEntry>* listingEntries = nullptr;

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

constexpr long kBufferSize = 256 * 1024;

// Names of the listing are kept whatever the pattern: the caller filters.
int matchEverything(void*, const char*, const char*) {
    return CURL_FNMATCHFUNC_MATCH;
}

}  // namespace

struct FtpConnection::Trace {
    enum class Sink { None, Head, File, Listing };

    // Reply lines of the reply being read, and the last complete reply.
    QStringList pendingLines;
    QString lastReply;
    int lastCode = 0;
    bool userAccepted = false;    // 331 to USER: the password is what a 530 refuses
    bool transferOpened = false;  // 125/150: a data transfer began

    Sink sink = Sink::None;
    QByteArray* head = nullptr;
    int headMax = 0;
    bool headFull = false;
    int fd = -1;
    qint64 written = 0;
    bool writeFailed = false;
    int writeErrno = 0;

    const QByteArray* upload = nullptr;
    qsizetype uploadPos = 0;

    QByteArray listing;  // an SFTP listing as it came

    void reset() {
        pendingLines.clear();
        lastReply.clear();
        lastCode = 0;
        userAccepted = false;
        transferOpened = false;
        sink = Sink::None;
        head = nullptr;
        headMax = 0;
        headFull = false;
        fd = -1;
        written = 0;
        writeFailed = false;
        writeErrno = 0;
        upload = nullptr;
        uploadPos = 0;
        listing.clear();
    }

    static size_t onReplyLine(char* buffer, size_t size, size_t count, void* user) {
        auto* t = static_cast<Trace*>(user);
        const size_t length = size * count;
        QString line = QString::fromUtf8(buffer, static_cast<qsizetype>(length));
        while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        t->pendingLines.append(line);
        const bool final = line.size() >= 3 && line[0].isDigit() && line[1].isDigit() &&
                           line[2].isDigit() && (line.size() == 3 || line[3] == QLatin1Char(' '));
        if (final) {
            t->lastCode = line.left(3).toInt();
            t->lastReply = t->pendingLines.join(QStringLiteral("\r\n"));
            t->pendingLines.clear();
            if (t->lastCode == 331)
                t->userAccepted = true;
            if (t->lastCode == 125 || t->lastCode == 150)
                t->transferOpened = true;
        }
        return length;
    }

    static size_t onData(char* buffer, size_t size, size_t count, void* user) {
        auto* t = static_cast<Trace*>(user);
        const size_t length = size * count;
        switch (t->sink) {
            case Sink::Head: {
                const qsizetype room = t->headMax - t->head->size();
                const qsizetype take = std::min<qsizetype>(room, static_cast<qsizetype>(length));
                t->head->append(buffer, take);
                if (t->head->size() >= t->headMax) {
                    t->headFull = true;
                    return 0;  // enough: ends the transfer
                }
                return length;
            }
            case Sink::File: {
                size_t done = 0;
                while (done < length) {
                    const ssize_t n = ::write(t->fd, buffer + done, length - done);
                    if (n < 0) {
                        if (errno == EINTR)
                            continue;
                        t->writeFailed = true;
                        t->writeErrno = errno;
                        return 0;
                    }
                    done += static_cast<size_t>(n);
                }
                t->written += static_cast<qint64>(length);
                return length;
            }
            case Sink::Listing:
                t->listing.append(buffer, static_cast<qsizetype>(length));
                return length;
            case Sink::None:
                break;
        }
        return length;
    }

    static size_t onUpload(char* buffer, size_t size, size_t count, void* user) {
        auto* t = static_cast<Trace*>(user);
        if (t->upload == nullptr)
            return 0;
        const qsizetype take = std::min<qsizetype>(static_cast<qsizetype>(size * count),
                                                   t->upload->size() - t->uploadPos);
        std::memcpy(buffer, t->upload->constData() + t->uploadPos, static_cast<size_t>(take));
        t->uploadPos += take;
        return static_cast<size_t>(take);
    }

    static long onListEntry(const void* info, void*, int) {
        const auto* fi = static_cast<const curl_fileinfo*>(info);
        if (listingEntries != nullptr && fi != nullptr && fi->filename != nullptr) {
            FtpEntry entry;
            entry.name = NameFromBytes(fi->filename);
            entry.directory = fi->filetype == CURLFILETYPE_DIRECTORY;
            entry.sizeKnown = (fi->flags & CURLFINFOFLAG_KNOWN_SIZE) != 0;
            entry.size = entry.sizeKnown ? static_cast<qint64>(fi->size) : 0;
            listingEntries->push_back(entry);
        }
        return CURL_CHUNK_BGN_FUNC_SKIP;  // listing only; files are fetched one by one
    }
};

struct FtpConnection::Impl {
    CurlEasy easy;
    QByteArray base;  // "ftp://host:port/" or "sftp://host:port/"
    QByteArray user, password, caFile;
    Trace trace;
    bool sftp = false;
    SftpHostCheck hostCheck;
    char curlError[CURL_ERROR_SIZE] = {};
};

FtpServerAddress ParseFtpServer(const QString& server) {
    FtpServerAddress address;
    QString text = server.trimmed();
    if (text.startsWith(QLatin1String("ftps://"), Qt::CaseInsensitive)) {
        address.explicitTls = true;
        text = text.mid(7);
    } else if (text.startsWith(QLatin1String("ftp://"), Qt::CaseInsensitive)) {
        text = text.mid(6);
    } else if (text.startsWith(QLatin1String("sftp://"), Qt::CaseInsensitive)) {
        address.sftp = true;
        address.port = 22;
        text = text.mid(7);
    }
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    QString portText;
    if (text.startsWith(QLatin1Char('['))) {  // [v6 address]:port
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close > 0) {
            address.host = text.mid(1, close - 1);
            if (text.mid(close + 1).startsWith(QLatin1Char(':')))
                portText = text.mid(close + 2);
        } else {
            address.host = text;
        }
    } else if (text.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        address.host = text.left(colon);
        portText = text.mid(colon + 1);
    } else {
        address.host = text;  // a name, or a bare IPv6 address
    }
    bool ok = false;
    const int port = portText.toInt(&ok);
    if (ok && port > 0 && port < 65536)
        address.port = port;
    return address;
}

QString FtpFilePath(const QString& directory, const QString& name) {
    if (directory.isEmpty())
        return name;
    if (directory.endsWith(QLatin1Char('/')))
        return directory + name;
    return directory + QLatin1Char('/') + name;
}

static int endOnTerminationSignal(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return StopFlags::TerminationSignalled ? 1 : 0;
}

FtpConnection::FtpConnection(const QString& server, const std::optional<QString>& user,
                             const std::optional<QString>& password, const FtpSettings& settings)
    : d_(std::make_unique<Impl>()) {
    initCurlOnce();
    d_->easy.reset(curl_easy_init());
    if (!d_->easy)
        return;
    CURL* h = d_->easy.get();
    const FtpServerAddress address = ParseFtpServer(server);
    const QString host = address.host.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + address.host + QLatin1Char(']')
                             : address.host;
    d_->sftp = address.sftp;
    d_->base = (address.sftp ? "sftp://" : "ftp://") + QUrl::toPercentEncoding(host, "[]:") + ':' +
               QByteArray::number(address.port) + '/';

    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
    const bool withUser = user.has_value() && !user->isEmpty();
    if (address.sftp)  // the password goes with a user name of the data link's own
        ConfigureSftp(h, address, withUser && password.has_value() && !password->isEmpty(),
                      withUser, d_->hostCheck);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, d_->curlError);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kBufferSize);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, static_cast<long>(settings.connectTimeoutSeconds));
    curl_easy_setopt(h, CURLOPT_FTP_RESPONSE_TIMEOUT,
                     static_cast<long>(settings.dataTimeoutSeconds));
    curl_easy_setopt(h, CURLOPT_ACCEPTTIMEOUT_MS, settings.dataTimeoutSeconds * 1000L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(settings.dataTimeoutSeconds));
    // Active mode: the server connects back to the address of the control connection.
    curl_easy_setopt(h, CURLOPT_FTPPORT, settings.passive ? nullptr : "-");
    if (address.explicitTls) {
        curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        if (!settings.caFile.isEmpty()) {
            d_->caFile = settings.caFile.toUtf8();
            curl_easy_setopt(h, CURLOPT_CAINFO, d_->caFile.constData());
        }
    }
    if (withUser) {
        d_->user = user->toUtf8();
        d_->password = password.value_or(QString()).toUtf8();
        curl_easy_setopt(h, CURLOPT_USERNAME, d_->user.constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, d_->password.constData());
    }
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Trace::onReplyLine);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &d_->trace);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Trace::onData);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &d_->trace);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &Trace::onUpload);
    curl_easy_setopt(h, CURLOPT_READDATA, &d_->trace);
    curl_easy_setopt(h, CURLOPT_CHUNK_BGN_FUNCTION, &Trace::onListEntry);
    // Called several times a second while connecting, waiting and transferring: SIGTERM or
    // SIGINT ends the request at once (CURLE_ABORTED_BY_CALLBACK).
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &endOnTerminationSignal);
    curl_easy_setopt(h, CURLOPT_FNMATCH_FUNCTION, &matchEverything);
}

FtpConnection::~FtpConnection() = default;

bool FtpConnection::HasSession() const {
    return static_cast<bool>(d_->easy);
}

void FtpConnection::resetRequest() {
    CURL* h = d_->easy.get();
    curl_easy_setopt(h, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(h, CURLOPT_WILDCARDMATCH, 0L);
    curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 1L);
    curl_easy_setopt(h, CURLOPT_QUOTE, nullptr);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
    d_->trace.reset();
}

QByteArray FtpConnection::urlOf(const QString& path) const {
    QByteArray encoded = NameBytes(path).toPercentEncoding("/");
    if (d_->sftp)  // an SFTP URL's path is absolute; "~/" starts in the login directory
        return d_->base + (encoded.startsWith('/') ? encoded.mid(1) : "~/" + encoded);
    if (encoded.startsWith('/'))  // an absolute path, not one below the login directory
        encoded = "%2F" + encoded.mid(1);
    return d_->base + encoded;
}

// Maps libcurl's result onto the WinInet code the rest of the module speaks.
static qint32 winInetCodeOf(CURLcode rc, const FtpConnection::Trace& trace, long osErrno) {
    switch (rc) {
        case CURLE_OK:
            return 0;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return 12007;
        case CURLE_COULDNT_CONNECT:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
            return 12029;
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_FTP_ACCEPT_TIMEOUT:
            return 12002;
        case CURLE_LOGIN_DENIED:
            return trace.userAccepted ? 12014 : 12015;
        case CURLE_URL_MALFORMAT:
            return 12005;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return 12006;
        case CURLE_OUT_OF_MEMORY:
        case CURLE_FAILED_INIT:
        case CURLE_BAD_FUNCTION_ARGUMENT:
            return 12004;
        case CURLE_ABORTED_BY_CALLBACK:
            return 12017;
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return osErrno == ECONNRESET ? 12031 : 12030;
        case CURLE_WRITE_ERROR:
        case CURLE_READ_ERROR:
            return 0;  // a local file, not the connection: no WinInet text says it
        default:
            // The server answered something other than what the command needed.
            return 12003;
    }
}

bool FtpConnection::perform(const QByteArray& url) {
    CURL* h = d_->easy.get();
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    d_->curlError[0] = '\0';
    const CURLcode rc = curl_easy_perform(h);
    lastCurlCode_ = rc;
    localError_.clear();
    if (!d_->trace.pendingLines.isEmpty() && d_->trace.lastReply.isEmpty())
        d_->trace.lastReply = d_->trace.pendingLines.join(QStringLiteral("\r\n"));
    lastReply_ = d_->trace.lastReply;
    if (rc == CURLE_OK) {
        lastError_ = 0;
        return true;
    }
    long osErrno = 0;
    curl_easy_getinfo(h, CURLINFO_OS_ERRNO, &osErrno);
    lastError_ = winInetCodeOf(rc, d_->trace, osErrno);
    if (d_->sftp) {  // SFTP sends no replies: libcurl's words stand in for them
        lastReply_ = QString::fromUtf8(d_->curlError);
        if (!d_->hostCheck.refusal.isEmpty()) {
            lastError_ = 0;
            localError_ = d_->hostCheck.refusal;
        }
    }
    return false;
}

bool FtpConnection::Login() {
    if (!HasSession())
        return false;
    resetRequest();
    curl_easy_setopt(d_->easy.get(), CURLOPT_NOBODY, 1L);
    return perform(urlOf(QString()));
}

FtpConnection::ReadOutcome FtpConnection::ReadHead(const QString& path, int maxBytes,
                                                   QByteArray& data) {
    data.clear();
    if (!HasSession())
        return ReadOutcome::NotOpened;
    resetRequest();
    d_->trace.sink = Trace::Sink::Head;
    d_->trace.head = &data;
    d_->trace.headMax = maxBytes;
    const bool ok = perform(urlOf(path));
    if (ok || d_->trace.headFull || !data.isEmpty())
        return ReadOutcome::Read;
    return d_->trace.transferOpened ? ReadOutcome::ReadFailed : ReadOutcome::NotOpened;
}

bool FtpConnection::Upload(const QString& path, const QByteArray& data) {
    if (!HasSession())
        return false;
    resetRequest();
    CURL* h = d_->easy.get();
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(data.size()));
    d_->trace.upload = &data;
    return perform(urlOf(path));
}

bool FtpConnection::ChangeDirectory(const QString& directory) {
    if (!HasSession())
        return false;
    if (directory.isEmpty())
        return true;
    resetRequest();
    // Over SFTP the directory is listed (and the listing dropped): nothing else tells whether it
    // is there.
    curl_easy_setopt(d_->easy.get(), CURLOPT_NOBODY, d_->sftp ? 0L : 1L);
    return perform(urlOf(FtpFilePath(directory, QString())));
}

bool FtpConnection::List(const QString& directory, std::vector<FtpEntry>& entries) {
    entries.clear();
    if (!HasSession())
        return false;
    resetRequest();
    if (d_->sftp)
        return listSftp(directory, entries);
    curl_easy_setopt(d_->easy.get(), CURLOPT_WILDCARDMATCH, 1L);
    listingEntries = &entries;
    // The pattern stays unencoded: libcurl takes it from the URL as it stands.
    const bool ok = perform(urlOf(FtpFilePath(directory, QString())) + '*');
    listingEntries = nullptr;
    if (!ok && lastCurlCode_ == CURLE_FTP_BAD_FILE_LIST) {
        // The listing came, but in a form whose lines cannot be read as entries.
        lastError_ = 0;
        localError_ = QStringLiteral("the listing of the remote directory could not be read");
        return false;
    }
    if (!ok && entries.empty() && d_->trace.transferOpened &&
        (d_->trace.lastCode == 226 || d_->trace.lastCode == 250)) {
        lastError_ = 18;  // the listing came and was empty
        return false;
    }
    // Some servers refuse the listing of an empty directory ("450 No files found").
    static const QRegularExpression nothingThere(
        QStringLiteral("no files|not found|no such file|empty"),
        QRegularExpression::CaseInsensitiveOption);
    if (!ok && entries.empty() && !d_->trace.transferOpened &&
        (d_->trace.lastCode == 450 || d_->trace.lastCode == 550) &&
        nothingThere.match(d_->trace.lastReply).hasMatch()) {
        lastError_ = 18;
        return false;
    }
    return ok;
}

bool FtpConnection::listSftp(const QString& directory, std::vector<FtpEntry>& entries) {
    d_->trace.sink = Trace::Sink::Listing;
    // The URL ends in '/': libcurl lists the directory.
    if (!perform(urlOf(FtpFilePath(directory, QString()))))
        return false;
    if (!ParseSftpListing(d_->trace.listing, entries)) {
        entries.clear();
        localError_ = QStringLiteral("the listing of the remote directory could not be read");
        return false;
    }
    const bool onlyDots = std::all_of(entries.begin(), entries.end(), [](const FtpEntry& entry) {
        return entry.name == QLatin1String(".") || entry.name == QLatin1String("..");
    });
    if (onlyDots)
        lastError_ = 18;  // the listing came and was empty
    return !onlyDots;
}

bool FtpConnection::Download(const QString& directory, const QString& name, int localDirFd,
                             qint64 expectedSize) {
    if (!HasSession())
        return false;
    const QByteArray target = NameBytes(name);
    const QByteArray temporary = "." + target + ".pendrill-part";
    const auto localFailure = [this, &name](const char* what, int err) {
        lastError_ = 0;
        localError_ =
            QStringLiteral("cannot %1 %2: %3")
                .arg(QLatin1String(what), name, QString::fromLocal8Bit(std::strerror(err)));
        return false;
    };
    // A leftover of an earlier run (or anything planted under the name) is removed, not opened:
    // the file is created new, and never through a symbolic link.
    ::unlinkat(localDirFd, temporary.constData(), 0);
    UniqueFd fd(::openat(localDirFd, temporary.constData(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         ModeWithinDirectory(localDirFd, 0666)));
    if (fd.get() < 0)
        return localFailure("create a local file for", errno);
    resetRequest();
    d_->trace.sink = Trace::Sink::File;
    d_->trace.fd = fd.get();
    bool ok = perform(urlOf(FtpFilePath(directory, name)));
    const bool writeFailed = d_->trace.writeFailed;
    const int writeErrno = d_->trace.writeErrno;
    curl_off_t received = 0;  // bytes as they came, before the line-end conversion
    curl_easy_getinfo(d_->easy.get(), CURLINFO_SIZE_DOWNLOAD_T, &received);
    if (!ok && writeFailed)
        localFailure("write", writeErrno);
    if (ok && expectedSize >= 0 && received < expectedSize) {
        // ASCII type only ever adds CRs on the way: fewer bytes than listed means the transfer
        // stopped early without the server saying so.
        lastError_ = 12030;
        ok = false;
    }
    if (!fd.reset() && ok)
        ok = localFailure("write", errno);
    if (ok) {
        if (::renameat(localDirFd, temporary.constData(), localDirFd, target.constData()) == 0)
            return true;
        localFailure("rename the downloaded file to", errno);
    }
    ::unlinkat(localDirFd, temporary.constData(), 0);
    return false;
}

bool FtpConnection::Delete(const QString& path) {
    if (!HasSession())
        return false;
    resetRequest();
    QByteArray command = "DELE " + NameBytes(path);
    if (d_->sftp) {  // a quoted path, with '"' and '\\' escaped
        QByteArray quoted = NameBytes(path);
        quoted.replace('\\', "\\\\").replace('"', "\\\"");
        command = "rm \"" + quoted + '"';
    }
    CurlList commands(curl_slist_append(nullptr, command.constData()));
    CURL* h = d_->easy.get();
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_QUOTE, commands.get());
    const bool ok = perform(urlOf(QString()));
    curl_easy_setopt(h, CURLOPT_QUOTE, nullptr);
    return ok;
}
