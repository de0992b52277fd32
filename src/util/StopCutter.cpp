#include "util/StopCutter.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

namespace StopCutter {
namespace {

// Plain descriptors, as for the signal handler's other pipe: the handler writes to it at any
// time in the life of the process.
int wakeFds[2] = {-1, -1};

// Never destroyed: the thread may still hold them while the program exits.
std::mutex& lock = *new std::mutex;
auto& registered = *new std::map<int, std::shared_ptr<const Actions>>;
int nextId = 1;

// Each wake-up (signals that come while one is handled count as one more) cancels and then cuts
// what is registered at that time.
void watch() {
    for (;;) {
        pollfd p{wakeFds[0], POLLIN, 0};
        if (::poll(&p, 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        char drained[64];
        while (::read(wakeFds[0], drained, sizeof drained) > 0) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(CancelAfterMs));
        {
            const std::lock_guard guard(lock);
            for (const auto& [id, actions] : registered)
                if (actions->cancel)
                    std::thread([actions] { actions->cancel(); }).detach();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(CutAfterMs - CancelAfterMs));
        const std::lock_guard guard(lock);
        for (const auto& [id, actions] : registered)
            if (actions->cut)
                actions->cut();
    }
}

}  // namespace

Registration::~Registration() {
    const std::lock_guard guard(lock);
    registered.erase(id_);
}

std::unique_ptr<Registration> Register(Actions actions) {
    const std::lock_guard guard(lock);
    const int id = nextId++;
    registered.emplace(id, std::make_shared<const Actions>(std::move(actions)));
    return std::make_unique<Registration>(id);
}

void Start() {
    static std::once_flag started;
    std::call_once(started, [] {
        if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
            wakeFds[0] = wakeFds[1] = -1;
            return;
        }
        // Waiting for a signal for the whole life of the process; it never takes the signals
        // itself, so that they still interrupt the waits of the threads that look at them.
        sigset_t stopSignals, before;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGTERM);
        sigaddset(&stopSignals, SIGINT);
        pthread_sigmask(SIG_BLOCK, &stopSignals, &before);
        std::thread(watch).detach();
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    });
}

void Wake() {
    if (wakeFds[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFds[1], &byte, 1);
    }
}

}  // namespace StopCutter
