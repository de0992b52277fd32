#include "remote/ShareTransfer.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "history/JobRecord.h"
#include "history/Repository.h"
#include "remote/CopyAhead.h"
#include "remote/LocalFileCopy.h"
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
    const std::vector<QString> names = listFiles(remoteDir);
    std::vector<QString> sources;
    for (const QString& name : names)
        sources.push_back(JoinRemotePath(remoteDir, name));
    // Where the local directory takes unnamed files, the next files are copied while one is
    // named; elsewhere one file after the other, each through a temporary name.
    std::optional<CopyAhead> ahead;
    if (localFd >= 0 && UnnamedFilesWork(localFd))
        ahead.emplace(sources, localFd, writeBehind);
    for (size_t i = 0; i < names.size(); ++i) {
        const QString& name = names[i];
        const QString& source = sources[i];
        if (StopFlags::TerminationSignalled) {
            notes.Box(QStringLiteral("Copying aborted"), 0, QString());
            SetError(error, QStringLiteral("Copying aborted"));
            result = false;
            break;
        }
        record.setObjectName(name);
        record.setQuantityUnit(QStringLiteral("bytes copied"));
        if (progress)
            progress->LabelCaption(QString::fromLatin1(kProgressTitle) + QStringLiteral("\r\n") +
                                   name + QStringLiteral(" to ") + localDir);
        qint64 copied = 0;
        why = localError;
        bool ok = false;
        // Times in UTC: stored as local time all the same, without a look at the zone files.
        if (ahead) {
            CopyAhead::Copy copy = ahead->TakeNext();
            record.setStartTime(copy.start);
            ok = copy.ok && NameCopy(copy.file.get(), localFd, name, &why);
            if (!copy.ok)
                why = copy.reason;
            if (!copy.file.reset() && ok) {
                why = ErrnoText(errno);
                ok = false;
            }
            copied = copy.bytes;
            record.setEndTime(copy.end);
        } else {
            record.setStartTime(QDateTime::currentDateTimeUtc());
            ok = localFd >= 0 &&
                 CopyThroughTemporary(source, localFd, name, copied, writeBehind, &why);
            record.setEndTime(QDateTime::currentDateTimeUtc());
        }
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
