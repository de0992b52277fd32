#include "db/postgres/PgStopCut.h"

#include <sys/socket.h>

std::unique_ptr<StopCutter::Registration> CutOnStop(PGconn* connection) {
    const int fd = connection == nullptr ? -1 : PQsocket(connection);
    if (fd < 0)
        return nullptr;
    // The cancel request may outlive the connection (it runs on a thread of its own).
    std::shared_ptr<PGcancel> cancel(PQgetCancel(connection), PQfreeCancel);
    StopCutter::Actions actions;
    if (cancel) {
        actions.cancel = [cancel] {
            char error[256];
            PQcancel(cancel.get(), error, sizeof error);
        };
    }
    actions.cut = [fd] { ::shutdown(fd, SHUT_RDWR); };
    return StopCutter::Register(std::move(actions));
}
