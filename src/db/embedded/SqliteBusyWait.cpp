#include "db/embedded/SqliteBusyWait.h"

#include <sqlite3.h>

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "util/StopFlags.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kStepMs = 20;

// What is left of the busy waiting allowed after SIGTERM or SIGINT, in the whole program: a
// stopped run may still wait out a momentary lock to write its record, but a database that stays
// locked cannot hold the stop up.
std::atomic<int> graceAfterSignalMs{200};

// The start of the current wait of this thread: SQLite counts the calls of one wait from 0.
thread_local Clock::time_point waitStart;

int onBusy(void* context, int count) {
    const auto timeout = std::chrono::milliseconds(reinterpret_cast<std::intptr_t>(context));
    const Clock::time_point now = Clock::now();
    if (count == 0)
        waitStart = now;
    if (StopFlags::TerminationSignalled && graceAfterSignalMs.fetch_sub(kStepMs) <= 0)
        return 0;
    const auto waited = now - waitStart;
    if (waited >= timeout)
        return 0;
    std::this_thread::sleep_for(
        std::min<Clock::duration>(std::chrono::milliseconds(kStepMs), timeout - waited));
    return 1;
}

}  // namespace

bool InstallStoppableBusyWait(const QSqlDatabase& db, int timeoutMs) {
    const QVariant v = db.driver()->handle();
    if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3* handle = *static_cast<sqlite3* const*>(v.constData());
    if (handle == nullptr)
        return false;
    return sqlite3_busy_handler(handle, timeoutMs > 0 ? onBusy : nullptr,
                                reinterpret_cast<void*>(static_cast<std::intptr_t>(timeoutMs))) ==
           SQLITE_OK;
}
