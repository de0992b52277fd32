#include "remote/LocalFileCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "util/Errors.h"
#include "util/FileUtils.h"
#include "util/StopFlags.h"
#include "util/TextFiles.h"

namespace {

// The most one call of copy_file_range copies: between two calls a stop is looked at.
constexpr off_t kCopyChunk = 8 << 20;

// Opens `from` for reading when it is a regular file itself, not through a symbolic link.
bool openSource(const QString& from, UniqueFd& in, struct stat& st, QString* error) {
    in = UniqueFd(::open(ToFsPath(from).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!in.valid() || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        SetError(error, !in.valid() && errno != ELOOP ? ErrnoText(errno)
                                                      : QStringLiteral("not a regular file"));
        return false;
    }
    return true;
}

// Copies the open file `in` of `size` bytes to `out`, counting the bytes written in `done`.
// Inside the kernel (copy_file_range, as cp does) in chunks; where the kernel cannot copy between
// the two files, through a buffer. False with errno set; ECANCELED when SIGTERM or SIGINT ended
// the copy, or `stop` was set.
bool copyData(int in, int out, off_t size, qint64& done, WriteBehind& writeBehind,
              const std::atomic<bool>& stop) {
    done = 0;
    bool kernel = true;
    std::vector<char> buffer;
    while (done < size) {
        if (StopFlags::TerminationSignalled || stop.load(std::memory_order_relaxed)) {
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

QByteArray temporaryNameOf(const QByteArray& target) {
    return "." + target + ".pendrill-part";
}

}  // namespace

WriteBehind::WriteBehind() : worker_([this] { run(); }) {}

WriteBehind::~WriteBehind() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
    }
    wake_.notify_one();
    worker_.join();
}

void WriteBehind::Start(int fd, off_t offset, off_t length) {
    UniqueFd own(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!own.valid())
        return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back({std::move(own), offset, length});
    }
    wake_.notify_one();
}

void WriteBehind::run() {
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

bool UnnamedFilesWork(int dirFd) {
    const UniqueFd probe(::openat(dirFd, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0600));
    if (!probe.valid())
        return false;
    char self[40], target[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", probe.get());
    return ::readlink(self, target, sizeof target) > 0;
}

bool CopyToUnnamed(const QString& from, int dirFd, UniqueFd& out, qint64& copied,
                   WriteBehind& writeBehind, const std::atomic<bool>& stop, QString* error) {
    copied = 0;
    UniqueFd in;
    struct stat st {};
    if (!openSource(from, in, st, error))
        return false;
    out = UniqueFd(::openat(dirFd, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC,
                            ModeWithinDirectory(dirFd, st.st_mode & 0666)));
    if (!out.valid() || !copyData(in.get(), out.get(), st.st_size, copied, writeBehind, stop)) {
        SetError(error, ErrnoText(errno));
        out.reset();
        return false;
    }
    return true;
}

bool NameCopy(int fd, int dirFd, const QString& name, QString* error) {
    const QByteArray target = NameBytes(name);
    if (LinkUnnamedFile(fd, dirFd, target.constData()))
        return true;
    if (errno == EEXIST) {
        // The name is taken: linked beside it, then renamed over it.
        const QByteArray temporary = temporaryNameOf(target);
        ::unlinkat(dirFd, temporary.constData(), 0);
        if (LinkUnnamedFile(fd, dirFd, temporary.constData())) {
            if (::renameat(dirFd, temporary.constData(), dirFd, target.constData()) == 0)
                return true;
            const int err = errno;
            ::unlinkat(dirFd, temporary.constData(), 0);
            errno = err;
        }
    }
    SetError(error, ErrnoText(errno));
    return false;
}

bool CopyThroughTemporary(const QString& from, int dirFd, const QString& name, qint64& copied,
                          WriteBehind& writeBehind, QString* error) {
    copied = 0;
    const QByteArray target = NameBytes(name);
    const QByteArray temporary = temporaryNameOf(target);
    UniqueFd in;
    struct stat st {};
    if (!openSource(from, in, st, error))
        return false;
    ::unlinkat(dirFd, temporary.constData(), 0);
    UniqueFd out(::openat(dirFd, temporary.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          ModeWithinDirectory(dirFd, st.st_mode & 0666)));
    if (!out.valid()) {
        SetError(error, ErrnoText(errno));
        return false;
    }
    static const std::atomic<bool> never{false};
    bool ok = copyData(in.get(), out.get(), st.st_size, copied, writeBehind, never);
    if (!ok)
        SetError(error, ErrnoText(errno));
    if (!out.reset() && ok) {
        SetError(error, ErrnoText(errno));
        ok = false;
    }
    in.reset();
    if (ok && ::renameat(dirFd, temporary.constData(), dirFd, target.constData()) != 0) {
        SetError(error, ErrnoText(errno));
        ok = false;
    }
    if (!ok)
        ::unlinkat(dirFd, temporary.constData(), 0);
    return ok;
}
