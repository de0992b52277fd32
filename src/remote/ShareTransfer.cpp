#include "remote/ShareTransfer.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "history/JobRecord.h"
#include "history/Repository.h"
#include "remote/StatusWords.h"
#include "util/Errors.h"
#include "util/FileUtils.h"
#include "util/OperatorInterface.h"
#include "util/StopFlags.h"
#include "util/TextFiles.h"
#include "util/UniqueFd.h"

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

// Reads the first line of a file, at most a few kilobytes of it. False with errno kept on error.
// A file that is not a regular file is opened without waiting for a writer and not read: false,
// with errno EISDIR for a directory and `notRegular` set for anything else (a pipe, a device).
bool readFirstLine(const QString& path, QByteArray& line, bool& notRegular) {
    notRegular = false;
    UniqueFd fd(::open(ToFsPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return false;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = errno;
        fd.reset();
        notRegular = S_ISDIR(st.st_mode) ? false : true;
        errno = S_ISDIR(st.st_mode) ? EISDIR : err;
        return false;
    }
    char buffer[4096];
    ssize_t n;
    do {
        n = ::read(fd.get(), buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    const int err = errno;
    fd.reset();
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

// The regular, not hidden files of a directory, by name. Empty when it cannot be listed.
std::vector<QString> listFiles(const QString& dir) {
    std::vector<QString> names;
    std::error_code ec;
    fs::directory_iterator it(ToFsPath(dir.isEmpty() ? QStringLiteral(".") : dir), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const QString name = NameFromBytes(it->path().filename().native());
        // A symbolic link is not followed: it could point at any file of this account.
        std::error_code typeError;
        if (name.startsWith('.') || !fs::is_regular_file(it->symlink_status(typeError)))
            continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The most one call of copy_file_range copies: between two calls a stop is looked at.
constexpr off_t kCopyChunk = 8 << 20;

// Starts the writing to disk of what was copied while the copy goes on, on a thread of its own:
// the file system finds room for the data as it writes it out, work that would otherwise be
// left to the flush at the end or be done on the copying thread between two chunks.
class WriteBehind {
  public:
    WriteBehind() : worker_([this] { run(); }) {}
    ~WriteBehind() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        wake_.notify_one();
        worker_.join();
    }
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Has `length` bytes of the open file `fd` from `offset` on written out soon. Best effort.
    void Start(int fd, off_t offset, off_t length) {
        UniqueFd own(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
        if (!own.valid())
            return;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back({std::move(own), offset, length});
        }
        wake_.notify_one();
    }

  private:
    struct Range {
        UniqueFd fd;
        off_t offset;
        off_t length;
    };

    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return finished_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            Range next = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            ::sync_file_range(next.fd.get(), next.offset, next.length, SYNC_FILE_RANGE_WRITE);
            next.fd.reset();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Range> queue_;
    bool finished_ = false;
    std::thread worker_;  // last: started once the members above exist
};

// Copies the open file `in` of `size` bytes to `out`, counting the bytes written in `done`.
// Inside the kernel (copy_file_range, as cp does) in chunks; where the kernel cannot copy between
// the two files, through a buffer. False with errno set; ECANCELED when SIGTERM or SIGINT ended
// the copy.
bool copyFile(int in, int out, off_t size, qint64& done, WriteBehind& writeBehind) {
    done = 0;
    bool kernel = true;
    std::vector<char> buffer;
    while (done < size) {
        if (StopFlags::TerminationSignalled) {
            errno = ECANCELED;
            return false;
        }
        const size_t chunk = static_cast<size_t>(std::min<off_t>(size - done, kCopyChunk));
        ssize_t n;
        if (kernel) {
            n = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
            if (n < 0 && done == 0 &&
                (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
                kernel = false;
                continue;
            }
        } else {
            buffer.resize(std::min<size_t>(chunk, 1 << 20));
            n = ::read(in, buffer.data(), buffer.size());
            for (ssize_t written = 0; n > 0 && written < n;) {
                const ssize_t w = ::write(out, buffer.data() + written, n - written);
                if (w < 0 && errno == EINTR)
                    continue;
                if (w < 0)
                    return false;
                written += w;
                done += w;
            }
            if (n > 0)
                continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;  // the file shrank while it was copied: what is there is copied
        writeBehind.Start(out, done, n);
        done += n;
    }
    return true;
}

// Gives the complete unnamed file `fd` the name `target` in the directory `dirFd`. Where that
// name is taken, the file is linked under `temporary` and renamed over it, so that the old file
// is replaced in one step. False with errno set.
bool linkInPlace(int fd, int dirFd, const QByteArray& target, const QByteArray& temporary) {
    if (LinkUnnamedFile(fd, dirFd, target.constData()))
        return true;
    if (errno != EEXIST)
        return false;
    ::unlinkat(dirFd, temporary.constData(), 0);
    if (!LinkUnnamedFile(fd, dirFd, temporary.constData()))
        return false;
    if (::renameat(dirFd, temporary.constData(), dirFd, target.constData()) == 0)
        return true;
    const int err = errno;
    ::unlinkat(dirFd, temporary.constData(), 0);
    errno = err;
    return false;
}

// Copies `from` into the open directory `localDirFd` under `name`, which shows only the complete
// file: the copy goes into an unnamed file that is then linked in place, or, where the file
// system has no unnamed files (or they cannot be linked), into a hidden temporary name created
// afresh and renamed over `name`; nothing is left behind on failure. `from` is opened only when
// it is a regular file itself, not through a symbolic link. `copied` receives the bytes that
// reached the local directory. False with the reason in `error`.
bool copyIntoPlace(const QString& from, int localDirFd, const QString& name, qint64& copied,
                   WriteBehind& writeBehind, QString* error) {
    copied = 0;
    const QByteArray target = NameBytes(name);
    const QByteArray temporary = "." + target + ".pendrill-part";
    UniqueFd in(::open(ToFsPath(from).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!in.valid() || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        SetError(error, !in.valid() && errno != ELOOP ? ErrnoText(errno)
                                                      : QStringLiteral("not a regular file"));
        return false;
    }
    const mode_t mode = ModeWithinDirectory(localDirFd, st.st_mode & 0666);
    static std::atomic<bool> unnamedFiles{true};  // until the file system or /proc says no
    bool unnamed = unnamedFiles.load(std::memory_order_relaxed);
    UniqueFd out;
    if (unnamed) {
        out = UniqueFd(::openat(localDirFd, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, mode));
        if (!out.valid()) {
            if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
                unnamedFiles = false;
            unnamed = false;  // the temporary name then says why, should it fail too
        }
    }
    if (!unnamed) {
        ::unlinkat(localDirFd, temporary.constData(), 0);
        out = UniqueFd(::openat(localDirFd, temporary.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    }
    if (!out.valid()) {
        SetError(error, ErrnoText(errno));
        return false;
    }
    bool ok = copyFile(in.get(), out.get(), st.st_size, copied, writeBehind);
    in.reset();
    if (ok && unnamed && !linkInPlace(out.get(), localDirFd, target, temporary)) {
        if (errno == ENOENT || errno == EPERM) {  // no /proc: temporary names from here on
            unnamedFiles = false;
            out.reset();
            return copyIntoPlace(from, localDirFd, name, copied, writeBehind, error);
        }
        ok = false;
    }
    if (!ok)
        SetError(error, ErrnoText(errno));
    if (!out.reset() && ok) {
        SetError(error, ErrnoText(errno));
        ok = false;
    }
    if (!unnamed && ok &&
        ::renameat(localDirFd, temporary.constData(), localDirFd, target.constData()) != 0) {
        SetError(error, ErrnoText(errno));
        ok = false;
    }
    if (!unnamed && !ok)
        ::unlinkat(localDirFd, temporary.constData(), 0);
    return ok;
}

// Brings the copied files of the directory `dirFd` and their names to disk before the fetch
// reports success: one flush of the file system, as `sync` does, costs one journal commit where
// a flush per file costs one each.
bool flushToDisk(int dirFd, QString* error) {
    if (::syncfs(dirFd) != 0 || ::fsync(dirFd) != 0) {
        SetError(error, ErrnoText(errno));
        return false;
    }
    return true;
}

// Stores the copy's job-history records on a thread of its own, in the order they were handed
// over, while the next file is copied: storing a record (and the first one's flush of the
// repository's fresh log) would otherwise wait between two files. The thread holds the
// repository open meanwhile and stores records in one transaction: those that gathered while it
// was busy, and those handed over within kGatherTime of the first (up to kGatherCount), so that
// many small files do not cost one commit each. It runs as a batch thread, so that waking it
// does not take the processor from the copy. The destructor returns once every record is stored.
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
    void Close(const JobRecord& record, qint32 kind, const QString& application) {
        bool wake;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back({record, kind, application});
            wake = queue_.size() == 1 || queue_.size() >= kGatherCount;
        }
        if (wake)
            wake_.notify_one();
    }

  private:
    static constexpr auto kGatherTime = std::chrono::milliseconds(20);
    static constexpr size_t kGatherCount = 500;

    struct Pending {
        JobRecord record;
        qint32 kind;
        QString application;
    };

    // Records handed over while others were stored are stored together, in one transaction.
    void run() {
        const sched_param normal{};
        ::sched_setscheduler(0, SCHED_BATCH, &normal);  // this thread only; best effort
        Repository::Connection repository;
        bool opened = false;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return finished_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            wake_.wait_for(lock, kGatherTime,
                           [this] { return finished_ || queue_.size() >= kGatherCount; });
            std::deque<Pending> next = std::move(queue_);
            queue_.clear();
            lock.unlock();
            if (!opened)
                opened = repository.Open();
            const bool together = opened && next.size() > 1 && repository.Db().transaction();
            for (Pending& pending : next) {
                if (opened)
                    pending.record.Close(repository, pending.kind, pending.application);
                else
                    pending.record.Close(pending.kind, pending.application);
            }
            // Should the records not be stored together, each is stored on its own (and says
            // why it cannot be).
            if (together && !repository.Db().commit()) {
                repository.Db().rollback();
                for (Pending& pending : next)
                    pending.record.Close(pending.kind, pending.application);
            }
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

short ShareReadStatus(QString& remoteDir, const RemoteNotes& notes, QString* failureText) {
    const QString path = statusPath(remoteDir);
    QByteArray line;
    bool notRegular = false;
    if (readFirstLine(path, line, notRegular))
        return StatusCodeOf(DecodeUtf8OrLatin1(line).left(kStatusChars));
    const int err = errno;
    if (notRegular) {
        SetError(failureText, QStringLiteral("Not a regular file: ") + path);
        return RemoteStatus::Failed;
    }
    QString text;
    if (err == ENOENT || err == ENOTDIR) {
        if (isDirectory(remoteDir)) {
            notes.Note(QStringLiteral("Copy: status file not found yet. Polling..."));
            return RemoteStatus::KeepPolling;
        }
        text = QStringLiteral("Path not found: ") + remoteDir;
    } else {
        text = ErrnoText(err);
    }
    SetError(failureText, text);
    return RemoteStatus::Failed;
}

bool ShareWriteStatus(QString& remoteDir, const QString& word, QString* error) {
    const QString path = statusPath(remoteDir);
    const QByteArray content = word.toUtf8() + "\r\n\r\n";
    // A directory that takes no new files may still let the status file itself be rewritten:
    // WriteFileAtomically then writes it in place.
    QString why;
    if (WriteFileAtomically(path, content, -1, &why))
        return true;
    return Fail(error, !isDirectory(remoteDir) ? QStringLiteral("Status file not found") : why);
}

bool ShareCopyRemoteData(const QString& remoteDir, const QString& localDir, JobRecord& record,
                         const RemoteNotes& notes, QObject* ownerWindow, QString* error) {
    if (!PathExists(remoteDir))
        notes.Box(QStringLiteral("Dir doesn't exist : ") + remoteDir, 0, QString());
    if (!PathExists(localDir))
        MakeDirectory(localDir);
    SetError(error, QStringLiteral("no file to copy in ") + remoteDir);

    // Every file is created inside this directory, by name, through its descriptor.
    const UniqueFd local(::open(ToFsPath(localDir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const QString localError = local.valid() ? QString() : ErrnoText(errno);
    const int localFd = local.get();

    std::unique_ptr<CopyProgress> progress;
    if (ownerWindow != nullptr) {
        progress = Operator().CreateCopyProgress();
        progress->Create(1, QStringLiteral("Copying"), QString::fromLatin1(kProgressTitle), true,
                         false);
    }
    bool result = false;
    QString why;
    RecordStore records;
    WriteBehind writeBehind;
    for (const QString& name : listFiles(remoteDir)) {
        if (StopFlags::TerminationSignalled) {
            notes.Box(QStringLiteral("Copying aborted"), 0, QString());
            SetError(error, QStringLiteral("Copying aborted"));
            result = false;
            break;
        }
        const QString source = JoinRemotePath(remoteDir, name);
        record.setObjectName(name);
        // Stored as local time all the same; UTC spares a look at the zone files for each file.
        record.setStartTime(QDateTime::currentDateTimeUtc());
        record.setQuantityUnit(QStringLiteral("bytes copied"));
        if (progress)
            progress->LabelCaption(QString::fromLatin1(kProgressTitle) + QStringLiteral("\r\n") +
                                   name + QStringLiteral(" to ") + localDir);
        qint64 copied = 0;
        why = localError;
        const bool ok =
            localFd >= 0 && copyIntoPlace(source, localFd, name, copied, writeBehind, &why);
        record.setEndTime(QDateTime::currentDateTimeUtc());
        // What reached the local directory: a file that failed left nothing there.
        record.setQuantity(ok ? static_cast<double>(copied) : 0.0);
        result = true;
        if (!ok) {
            const QString message = StopFlags::TerminationSignalled
                                        ? QStringLiteral("Copying aborted")
                                        : QStringLiteral("Couldn't copy file ") + source;
            record.setStatus(3);
            record.setMessage(message);
            records.Close(record, 2, QString::fromLatin1(kApplication));
            notes.Box(message, 0, QString());
            SetError(error, message + QStringLiteral(": ") + why);
            result = false;
            break;
        }
        record.setStatus(0);
        records.Close(record, 2, QString::fromLatin1(kApplication));
        notes.Fetched(name, copied);
        if (progress) {
            Operator().ProcessPendingEvents();
            if (progress->IsCancelled()) {
                notes.Box(QStringLiteral("Copying aborted"), 0, QString());
                SetError(error, QStringLiteral("Copying aborted"));
                result = false;
                break;
            }
        }
    }
    if (result && !flushToDisk(localFd, &why)) {
        const QString message = QStringLiteral("Couldn't write the copied files to disk");
        notes.Box(message, 0, QString());
        SetError(error, message + QStringLiteral(": ") + why);
        result = false;
    }
    if (progress) {
        progress->AnimateStop();
        progress->Destroy();
    }
    return result;
}
