#pragma once

#include <QDateTime>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "remote/LocalFileCopy.h"
#include "util/UniqueFd.h"

// Copies the files of a listing into unnamed files of a local directory on two threads, a few
// files ahead of the caller, who takes the copies in the listing's order and names them (or
// stops): one file's copy overlaps another's and the naming of the one before. A copy that is
// never taken is dropped with its file, which, having no name, leaves nothing behind.
class CopyAhead {
  public:
    struct Copy {
        bool ok = false;
        UniqueFd file;  // the unnamed copy, while ok
        qint64 bytes = 0;
        QDateTime start, end;  // in UTC
        QString reason;        // why the copy failed
    };

    // `dirFd` must take unnamed files (UnnamedFilesWork).
    CopyAhead(std::vector<QString> sources, int dirFd, WriteBehind& writeBehind);
    // Stops the copies under way (within one chunk) and drops those not taken.
    ~CopyAhead();
    CopyAhead(const CopyAhead&) = delete;
    CopyAhead& operator=(const CopyAhead&) = delete;

    // Waits for the copy of the next source, in the listing's order.
    Copy TakeNext();

  private:
    static constexpr size_t kThreads = 2;
    static constexpr size_t kAhead = 3;  // copies done or under way beyond those taken

    void run();

    const std::vector<QString> sources_;
    const int dirFd_;
    WriteBehind& writeBehind_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::optional<Copy>> done_;  // by the sources' index
    size_t started_ = 0;                     // copies begun
    size_t taken_ = 0;                       // copies taken
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;  // last: started once the members above exist
};
