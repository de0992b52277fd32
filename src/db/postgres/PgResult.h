#pragma once

#include <libpq-fe.h>

#include <memory>

// libpq's handles with an owner.

// A PGresult, cleared when the holder goes away.
struct PgResultDeleter {
    void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, PgResultDeleter>;

// A connection of libpq's own (not one the Qt driver holds), finished when the holder goes away.
struct PgConnectionDeleter {
    void operator()(PGconn* connection) const { PQfinish(connection); }
};
using PgConnection = std::unique_ptr<PGconn, PgConnectionDeleter>;
