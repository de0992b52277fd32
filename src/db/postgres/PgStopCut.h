#pragma once

#include <libpq-fe.h>

#include <memory>

#include "util/StopCutter.h"

// Registers an open connection with the stop cutter: after SIGTERM or SIGINT the server is asked
// to cancel the statement under way, and then the connection's socket is shut down, so that a
// blocking libpq call waiting on it (a lock, a server that does not answer) returns. The
// registration must end before the connection is closed. Null when the connection has no socket.
std::unique_ptr<StopCutter::Registration> CutOnStop(PGconn* connection);
