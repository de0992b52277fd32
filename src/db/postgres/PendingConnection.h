#pragma once

#include <libpq-fe.h>

#include <QString>
#include <chrono>

#include "db/postgres/PgResult.h"

// A connection being set up with libpq's non-blocking calls. The attempt moves on only when it
// is stepped or finished, so the caller decides when it may wait for it; while it waits, the
// stop flags are looked at every 100 ms.
class PendingConnection {
  public:
    using Clock = std::chrono::steady_clock;

    // Starts connecting with the given libpq keywords and values (each list ends with a null).
    // False when libpq could not even start (out of memory, a keyword it does not know).
    bool Start(const char* const* keys, const char* const* values);

    // Moves the attempt on as far as it can go without waiting.
    void Step();

    // Waits for the attempt to end, no later than `deadline`. True when it ended by itself,
    // connected or not (Connected() says which); false with `why` when the deadline or a stop
    // request ended it.
    bool Finish(Clock::time_point deadline, QString* why);

    bool Started() const { return connection_ != nullptr; }
    bool Ended() const { return status_ == PGRES_POLLING_OK || status_ == PGRES_POLLING_FAILED; }
    bool Connected() const { return status_ == PGRES_POLLING_OK; }

    // The connection, once connected; the attempt is over afterwards.
    PgConnection Take();
    // Gives the attempt up.
    void Drop();

  private:
    // Waits up to `milliseconds` for the socket, then moves the attempt on; false on a socket
    // error.
    bool advance(int milliseconds);

    PgConnection connection_;
    PostgresPollingStatusType status_ = PGRES_POLLING_FAILED;
};
