#include "util/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>

#include "util/StopCutter.h"
#include "util/StopFlags.h"

namespace {

// Plain descriptors, not UniqueFd: the signal handler reads them, so they must be there for the
// whole life of the process (never closed, not even by a destructor at exit, when a late signal
// could still come) and be read without any call that is not async-signal-safe.
int wakeFds[2] = {-1, -1};

void onTerminationSignal(int) {
    const int savedErrno = errno;
    StopFlags::StopRequested = true;
    StopFlags::RemoteStopRequested = true;
    StopFlags::TerminationSignalled = true;
    if (wakeFds[1] >= 0) {
        const char byte = 1;
        // A full pipe already holds a wake-up; nothing is lost when this write fails.
        [[maybe_unused]] const ssize_t n = ::write(wakeFds[1], &byte, 1);
    }
    StopCutter::Wake();
    errno = savedErrno;
}

}  // namespace

void InstallTerminationHandlers() {
    if (wakeFds[0] < 0 && ::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        wakeFds[0] = wakeFds[1] = -1;
    StopCutter::Start();
    struct sigaction sa = {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a blocking read returns with EINTR
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    // A scheduler may start the program with the signals blocked; a stop sent while they were
    // blocked is delivered here, to the handler, as soon as they are not.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_UNBLOCK, &stopSignals, nullptr);
}

void WatchTerminationSignals(std::function<void()> onSignal) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || wakeFds[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [onSignal = std::move(onSignal)] {
        char buffer[64];
        while (::read(wakeFds[0], buffer, sizeof buffer) > 0) {
        }
        if (onSignal)
            onSignal();
    });
}
