#include "remote/CopyFuncModule.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "remote/CopyTessalyFiles.h"
#include "rook/RookJobHistory.h"
#include "rook/RookRepository.h"
#include "util/ErrLogging.h"
#include "util/FileUtils.h"
#include "util/OperatorInterface.h"
#include "util/ProgramState.h"
#include "util/TextFiles.h"

namespace fs = std::filesystem;

namespace {

const char* const kStatusName = "status";
const char* const kApplication = "Pendrill Copy";
const char* const kProgressTitle = "Please wait......  Copying data file to local server";
// Only the beginning of the first line decides; a longer line is cut here.
constexpr qsizetype kStatusChars = 256;

QString statusPath(QString& remoteDir) {
    if (remoteDir.isEmpty())
        return QString::fromLatin1(kStatusName);
    AddBackslash(remoteDir);
    return remoteDir + QLatin1String(kStatusName);
}

bool isDirectory(const QString& dir) {
    std::error_code ec;
    return fs::is_directory(ToFsPath(dir.isEmpty() ? QStringLiteral(".") : dir), ec);
}

QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// UTF-8 when valid, Latin-1 otherwise (files written by single-byte Windows sites).
QString decode(const QByteArray& bytes) {
    QString text = QString::fromUtf8(bytes);
    if (text.contains(QChar::ReplacementCharacter))
        text = QString::fromLatin1(bytes);
    return text;
}

// Reads the first line of a file, at most a few kilobytes of it. False with errno kept on error.
bool readFirstLine(const QString& path, QByteArray& line) {
    const int fd = ::open(ToFsPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[4096];
    ssize_t n;
    do {
        n = ::read(fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    const int err = errno;
    ::close(fd);
    if (n < 0) {
        errno = err;
        return false;
    }
    line = QByteArray(buffer, n);
    const qsizetype end = std::min(line.indexOf('\n') < 0 ? line.size() : line.indexOf('\n'),
                                   line.indexOf('\r') < 0 ? line.size() : line.indexOf('\r'));
    line.truncate(end);
    return true;
}

bool writeInPlace(const QString& path, const QByteArray& content) {
    const int fd = ::open(ToFsPath(path).c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return false;
    qsizetype done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return false;
        }
        done += n;
    }
    ::fsync(fd);
    return ::close(fd) == 0;
}

// The regular, not hidden files of a directory, by name. Empty when it cannot be listed.
std::vector<QString> listFiles(const QString& dir) {
    std::vector<QString> names;
    std::error_code ec;
    fs::directory_iterator it(ToFsPath(dir.isEmpty() ? QStringLiteral(".") : dir), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const QString name = QString::fromStdString(it->path().filename().string());
        std::error_code typeError;
        if (name.startsWith('.') || !it->is_regular_file(typeError))
            continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The most one call of copy_file_range copies: between two calls a stop is looked at.
constexpr off_t kCopyChunk = 8 << 20;

// Copies the open file `in` of `size` bytes to `out` inside the kernel (copy_file_range, as cp
// does), in chunks. False with errno set; errno EXDEV, ENOSYS, EOPNOTSUPP or EINVAL before the
// first byte means the kernel cannot do it for these files, ECANCELED that SIGTERM or SIGINT
// ended the copy.
bool kernelCopy(int in, int out, off_t size, bool& unsupported) {
    unsupported = false;
    off_t done = 0;
    while (done < size) {
        if (ProgramState::TerminationSignalled) {
            errno = ECANCELED;
            return false;
        }
        const ssize_t n = ::copy_file_range(
            in, nullptr, out, nullptr, static_cast<size_t>(std::min(size - done, kCopyChunk)), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            unsupported = done == 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP ||
                                        errno == EINVAL);
            return false;
        }
        if (n == 0)
            break;  // the file shrank while it was copied: what is there is copied
        done += n;
    }
    return true;
}

// Copies `from` to a hidden temporary name beside `to` and renames it over `to`; the temporary
// file is removed on failure. The copy is the kernel's in-kernel copy; where the kernel cannot
// copy between the two files, std::filesystem::copy_file does it. Returns the number of bytes
// copied, or -1.
qint64 copyThroughTemporary(const QString& from, const QString& to) {
    const fs::path target = ToFsPath(to);
    const fs::path temporary =
        target.parent_path() / ("." + target.filename().string() + ".pendrill-part");
    std::error_code ec;
    bool copied = false;
    const int in = ::open(ToFsPath(from).c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (in >= 0 && ::fstat(in, &st) == 0 && S_ISREG(st.st_mode)) {
        const int out =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777);
        if (out >= 0) {
            bool unsupported = false;
            copied = kernelCopy(in, out, st.st_size, unsupported);
            copied = (::close(out) == 0) && copied;
            if (!copied && unsupported)
                copied = fs::copy_file(ToFsPath(from), temporary,
                                       fs::copy_options::overwrite_existing, ec);
        }
    }
    if (in >= 0)
        ::close(in);
    if (copied) {
        const auto size = fs::file_size(temporary, ec);
        if (!ec) {
            fs::rename(temporary, target, ec);
            if (!ec)
                return static_cast<qint64>(size);
        }
    }
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return -1;
}

// Stores the copy's job-history records on a thread of its own, one after the other in the order
// they were handed over, while the next file is copied: each record opens the repository, runs
// its statements and closes it again (about half a millisecond), and the first one also flushes
// the repository's fresh log, all of which would otherwise wait between two files. The thread
// holds the repository open meanwhile, so that no record's close checkpoints it, and runs as a
// batch thread, so that waking it for a record does not take the processor from the copy. The
// destructor returns once every record is stored.
class RecordStore {
  public:
    RecordStore() : worker_([this] { run(); }) {}
    ~RecordStore() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        wake_.notify_one();
        worker_.join();
    }
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Stores a copy of `record` as it is now, closed with `kind` and `application`.
    void Close(const RookJobHistory& record, qint32 kind, const QString& application) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back({record, kind, application});
        }
        wake_.notify_one();
    }

  private:
    struct Pending {
        RookJobHistory record;
        qint32 kind;
        QString application;
    };

    void run() {
        const sched_param normal{};
        ::sched_setscheduler(0, SCHED_BATCH, &normal);  // this thread only; best effort
        RookRepository::Connection repository;
        bool opened = false;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return finished_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            Pending next = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            if (!opened)
                opened = repository.Open();
            next.record.Close(next.kind, next.application);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Pending> queue_;
    bool finished_ = false;
    std::thread worker_;  // last: started once the members above exist
};

}  // namespace

QString JoinRemotePath(const QString& dir, const QString& name) {
    if (dir.isEmpty() || dir.endsWith('/') || dir.endsWith('\\'))
        return dir + name;
    return dir + '/' + name;
}

short ShareReadStatus(QString& remoteDir, QString& failureText) {
    const QString path = statusPath(remoteDir);
    QByteArray line;
    if (readFirstLine(path, line))
        return StatusCodeOf(decode(line).left(kStatusChars));
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) {
        if (isDirectory(remoteDir)) {
            LogInfo(QStringLiteral("Copy: status file not found yet. Polling..."));
            return RemoteStatus::KeepPolling;
        }
        failureText = QStringLiteral("Path not found: ") + remoteDir;
    } else {
        failureText = errnoText(err);
    }
    LogInfo(failureText);
    return RemoteStatus::Failed;
}

bool ShareWriteStatus(QString& remoteDir, const QString& word) {
    const QString path = statusPath(remoteDir);
    const QByteArray content = word.toUtf8() + "\r\n\r\n";
    QString error;
    if (WriteFileAtomically(path, content, -1, &error))
        return true;
    // A directory that takes no new files may still let the status file itself be rewritten.
    if (writeInPlace(path, content))
        return true;
    const int err = errno;
    const QString text = !isDirectory(remoteDir) ? QStringLiteral("Status file not found")
                         : err != 0              ? errnoText(err)
                                                 : error;
    LogMessage(text, true, 16, QStringLiteral("CopySetStatus"));
    return false;
}

bool ShareCopyRemoteData(const QString& remoteDir, const QString& localDir, RookJobHistory& record,
                         QObject* ownerWindow) {
    if (!PathExists(remoteDir))
        LogMessage(QStringLiteral("Dir doesn't exist : ") + remoteDir, true, 0, QString());
    if (!PathExists(localDir))
        MakeDirectory(localDir);

    std::unique_ptr<CopyAnimDlg> progress;
    if (ownerWindow != nullptr) {
        progress = Operator().CreateCopyAnimDlg();
        progress->Create(1, QStringLiteral("Copying"), QString::fromLatin1(kProgressTitle), true,
                         false);
    }
    bool result = false;
    RecordStore records;
    for (const QString& name : listFiles(remoteDir)) {
        if (ProgramState::TerminationSignalled) {
            LogMessage(QStringLiteral("Copying aborted"), true, 0, QString());
            result = false;
            break;
        }
        const QString source = JoinRemotePath(remoteDir, name);
        std::error_code ec;
        const auto sourceSize = fs::file_size(ToFsPath(source), ec);
        record.setObjectName(name);
        record.setStartTime(QDateTime::currentDateTime());
        record.setQuantity(ec ? 0.0 : static_cast<double>(sourceSize));
        record.setQuantityUnit(QStringLiteral("bytes copied"));
        if (progress)
            progress->LabelCaption(QString::fromLatin1(kProgressTitle) + QStringLiteral("\r\n") +
                                   name + QStringLiteral(" to ") + localDir);
        const qint64 copied = copyThroughTemporary(source, JoinRemotePath(localDir, name));
        record.setEndTime(QDateTime::currentDateTime());
        result = true;
        if (copied < 0) {
            const QString message = ProgramState::TerminationSignalled
                                        ? QStringLiteral("Copying aborted")
                                        : QStringLiteral("Couldn't copy file ") + source;
            record.setStatus(3);
            record.setMessage(message);
            records.Close(record, 2, QString::fromLatin1(kApplication));
            LogMessage(message, true, 0, QString());
            result = false;
            break;
        }
        record.setQuantity(static_cast<double>(copied));
        record.setStatus(0);
        records.Close(record, 2, QString::fromLatin1(kApplication));
        if (progress) {
            Operator().ProcessPendingEvents();
            if (progress->IsCancelled()) {
                LogMessage(QStringLiteral("Copying aborted"), true, 0, QString());
                result = false;
                break;
            }
        }
    }
    if (progress) {
        progress->AnimateStop();
        progress->Destroy();
    }
    return result;
}
