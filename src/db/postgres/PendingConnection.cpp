#include "db/postgres/PendingConnection.h"

#include <poll.h>

#include <cerrno>

#include "util/Errors.h"
#include "util/StopFlags.h"

bool PendingConnection::Start(const char* const* keys, const char* const* values) {
    connection_.reset(PQconnectStartParams(keys, values, 0));
    status_ = PGRES_POLLING_WRITING;
    if (connection_ == nullptr || PQstatus(connection_.get()) == CONNECTION_BAD) {
        status_ = PGRES_POLLING_FAILED;
        return connection_ != nullptr;
    }
    return true;
}

bool PendingConnection::advance(int milliseconds) {
    const int fd = PQsocket(connection_.get());
    if (fd < 0)
        return false;
    pollfd p{fd, static_cast<short>(status_ == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
    const int n = ::poll(&p, 1, milliseconds);
    if (n < 0)
        return errno == EINTR;
    if (n > 0)
        status_ = PQconnectPoll(connection_.get());
    return true;
}

void PendingConnection::Step() {
    while (connection_ != nullptr && !Ended()) {
        const PostgresPollingStatusType before = status_;
        if (!advance(0)) {
            status_ = PGRES_POLLING_FAILED;
            return;
        }
        if (status_ == before)  // nothing more to do before the server's next answer
            return;
    }
}

bool PendingConnection::Finish(Clock::time_point deadline, QString* why) {
    while (connection_ != nullptr && !Ended()) {
        if (StopFlags::TerminationSignalled)
            return Fail(why, QStringLiteral("The connection attempt was ended by a stop request."));
        if (Clock::now() >= deadline)
            return Fail(why, QStringLiteral("Could not connect to the server: timeout expired."));
        if (!advance(100))
            status_ = PGRES_POLLING_FAILED;
    }
    return true;
}

PgConnection PendingConnection::Take() {
    if (!Connected())
        return nullptr;
    status_ = PGRES_POLLING_FAILED;
    return std::move(connection_);
}

void PendingConnection::Drop() {
    connection_.reset();
    status_ = PGRES_POLLING_FAILED;
}
