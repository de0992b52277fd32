#include "util/ChildProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QThread>
#include <unordered_map>

#include "util/OperatorInterface.h"
#include "util/StopFlags.h"

extern char** environ;

namespace {
// Exit codes of children that IsProcessRunning reaped, kept until RunAndWait collects them.
std::unordered_map<long, int>& reapedStatus() {
    static std::unordered_map<long, int> m;
    return m;
}
}  // namespace

long StartProcess(const QString& command, const QString& arguments) {
    if (command.trimmed().isEmpty())
        return 0;
    const QByteArray program = command.toLocal8Bit();
    const QByteArray argument = arguments.toLocal8Bit();
    char* argv[3] = {const_cast<char*>(program.constData()), nullptr, nullptr};
    if (!arguments.trimmed().isEmpty())
        argv[1] = const_cast<char*>(argument.constData());
    // The child leads a process group of its own, so that a time-out can end it together with
    // whatever it started.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, program.constData(), nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0)
        return 0;
    return static_cast<long>(pid);
}

bool IsProcessRunning(long& handle) {
    if (handle == 0)
        return false;
    int status = 0;
    const pid_t r = waitpid(static_cast<pid_t>(handle), &status, WNOHANG);
    if (r == 0)
        return true;
    if (r == handle)
        reapedStatus()[handle] = status;
    handle = 0;
    return false;
}

std::optional<int> RunAndWait(const QString& command, const QString& arguments,
                              std::optional<std::chrono::milliseconds> timeout) {
    long handle = StartProcess(command, arguments);
    if (handle == 0)
        return std::nullopt;
    const long pid = handle;
    auto deadline = timeout ? std::chrono::steady_clock::now() + *timeout
                            : std::chrono::steady_clock::time_point::max();
    bool killed = false;
    bool terminated = false;
    while (IsProcessRunning(handle)) {
        Operator().ProcessPendingEvents();
        const auto now = std::chrono::steady_clock::now();
        if (!terminated && !killed && StopFlags::TerminationSignalled) {
            // The program is asked to end: so is the child, and it gets half a second.
            ::kill(-static_cast<pid_t>(pid), SIGTERM);
            terminated = true;
            const auto grace = now + std::chrono::milliseconds(500);
            if (grace < deadline)
                deadline = grace;
        }
        if (!killed && now >= deadline) {
            ::kill(-static_cast<pid_t>(pid), SIGKILL);
            killed = true;
            continue;
        }
        QThread::msleep(terminated ? 20 : 100);
    }
    auto& reaped = reapedStatus();
    const auto it = reaped.find(pid);
    if (it == reaped.end())
        return std::nullopt;
    const int status = it->second;
    reaped.erase(it);
    if (killed || terminated || !WIFEXITED(status))
        return std::nullopt;
    return WEXITSTATUS(status);
}
