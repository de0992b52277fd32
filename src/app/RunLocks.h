#pragma once

#include <QString>
#include <vector>

#include "util/FileLock.h"

// The locks a run holds for its whole duration, so that two runs never share a configuration,
// a log directory or a run log: the configuration file (the Run lock of its companion
// FILE.lock), the log directory (the directory itself; created 0700 when missing), and the
// exception file (the Run lock of its companion) when it lies outside the log directory, whose
// files every run removes and merges. Released by the destructor or Release; the kernel releases
// them when the process ends, killed or not.
class RunLocks {
  public:
    // Takes every lock without waiting; empty names are skipped. False when another process
    // holds one of them, with `*message` "Another run (process N) is using FILE" ("Another run is
    // using FILE" when its process cannot be found out); nothing is held then. A lock that
    // cannot be taken for another reason (a directory that may not be read) is skipped: the run
    // meets that problem where it always did.
    bool Acquire(const QString& configFile, const QString& logDirectory,
                 const QString& exceptionFile, QString* message = nullptr);
    void Release() { locks_.clear(); }
    bool Held() const { return !locks_.empty(); }

  private:
    std::vector<FileLock> locks_;
};
