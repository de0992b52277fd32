#pragma once

#include <libpq-fe.h>

#include <memory>

// A PGresult with an owner: cleared when the holder goes away.
struct PgResultDeleter {
    void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, PgResultDeleter>;
