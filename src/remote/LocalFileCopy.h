#pragma once

#include <sys/types.h>

#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "util/UniqueFd.h"

// Copying one file of a share into a local directory so that it shows under its name only when
// complete, never through a symbolic link on either side.

// Starts the writing to disk of what was copied while the copy goes on, on a thread of its own:
// the file system finds room for the data as it writes it out, work that would otherwise be
// left to the flush at the end or be done on a copying thread between two chunks.
class WriteBehind {
  public:
    WriteBehind();
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Has `length` bytes of the open file `fd` from `offset` on written out soon. Best effort.
    void Start(int fd, off_t offset, off_t length);

  private:
    struct Range {
        UniqueFd fd;
        off_t offset;
        off_t length;
    };
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Range> queue_;
    bool finished_ = false;
    std::thread worker_;  // last: started once the members above exist
};

// True when the open directory `dirFd` takes unnamed files (O_TMPFILE) that this process can
// name afterwards (through /proc/self/fd).
bool UnnamedFilesWork(int dirFd);

// Copies `from` into a new unnamed file of the open directory `dirFd`, held by `out`; nothing is
// in the directory until NameCopy names it. `from` is opened only when it is a regular file
// itself, not through a symbolic link. `copied` receives the bytes copied. The copy ends early,
// ECANCELED, when SIGTERM or SIGINT arrives or `stop` is set. False with the reason in `error`.
bool CopyToUnnamed(const QString& from, int dirFd, UniqueFd& out, qint64& copied,
                   WriteBehind& writeBehind, const std::atomic<bool>& stop, QString* error);

// Names the unnamed copy `fd` `name` in `dirFd`, replacing a file of that name in one step.
// False with the reason in `error`.
bool NameCopy(int fd, int dirFd, const QString& name, QString* error);

// Copies `from` to a hidden temporary name (".NAME.pendrill-part") created afresh in `dirFd` and
// renames it over `name` when complete; the temporary file is removed on failure. For a
// directory without unnamed files. False with the reason in `error`.
bool CopyThroughTemporary(const QString& from, int dirFd, const QString& name, qint64& copied,
                          WriteBehind& writeBehind, QString* error);
