#pragma once

#include <functional>
#include <memory>

// Waits the program cannot end by itself when it is told to stop: a database client library's
// blocking calls look neither at the stop flags nor at signals (a statement waiting for a lock
// another session holds, a server that stopped answering). Each open connection of such a
// library is registered with two ways out. Once SIGTERM or SIGINT has come, every connection
// still registered is cancelled (its server is asked to end the statement under way) after
// CancelAfter, and cut (its socket shut down, which ends any wait on it at once) after CutAfter:
// the call under way then returns with an error, and the program ends as a stop ends it, within
// a second. A connection that is closed before is left alone.
namespace StopCutter {

inline constexpr int CancelAfterMs = 300;
inline constexpr int CutAfterMs = 750;

struct Actions {
    // May block (it reaches the server over a connection of its own): it runs on a thread of its
    // own, and must keep what it needs alive itself.
    std::function<void()> cancel;
    // Must not block; it is never called after the registration has ended.
    std::function<void()> cut;
};

class Registration {
  public:
    explicit Registration(int id) : id_(id) {}
    ~Registration();  // once it returns, `cut` is not called any more
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

  private:
    int id_;
};

// Registers a connection until the returned object is destroyed (before the connection closes).
std::unique_ptr<Registration> Register(Actions actions);

// Starts the thread that acts on a termination signal (once; InstallTerminationHandlers calls
// it). Without it, registrations are kept but nothing is ever cancelled.
void Start();

// Called by the signal handler: async-signal-safe.
void Wake();

}  // namespace StopCutter
