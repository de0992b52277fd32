#pragma once

#include <QString>
#include <chrono>
#include <optional>

// Starting a child process and waiting for it while the user interface stays alive.

// Starts `command` (a program path or a name looked up in PATH). When `arguments`, trimmed, is not
// empty it is handed to the program as one single argument, exactly as it stands. Returns the
// process id, or 0 when the program could not be started. The caller must poll the handle with
// IsProcessRunning until it reports false, which also reaps the child.
long StartProcess(const QString& command, const QString& arguments);

// False for handle 0. When the child has ended, reaps it, sets the handle to 0 and returns false.
bool IsProcessRunning(long& handle);

// StartProcess, then polls every 100 ms while pending events are processed. There is no limit
// unless `timeout` is given; a child still running then is killed with its whole process group.
// After SIGTERM or SIGINT (StopFlags::TerminationSignalled) the group is sent SIGTERM and is
// killed half a second later if the child is still there. Returns the exit code of the child, or
// nothing when it could not be started, was killed, was asked to end by the program's signal or
// died from a signal.
std::optional<int> RunAndWait(const QString& command, const QString& arguments,
                              std::optional<std::chrono::milliseconds> timeout = std::nullopt);
