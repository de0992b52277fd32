#pragma once

class DbBackend;

// The backend of each server kind, one per folder of src/db/ (for ServerResolver and the
// location helpers of DbBackend.cpp only).
const DbBackend& EmbeddedServerBackend();  // embedded/EmbeddedBackend.cpp
const DbBackend& PostgresServerBackend();  // postgres/PostgresBackend.cpp
const DbBackend& OdbcServerBackend();      // odbc/OdbcBackend.cpp
