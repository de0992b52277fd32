#pragma once

class QSqlDatabase;

// How an SQLite connection waits for a database that another connection has locked: in steps of
// 20 ms up to `timeoutMs` (0: no wait), ending with SQLITE_BUSY ("database is locked") when
// SIGTERM or SIGINT asks the program to stop. After the signal the program's connections wait
// 200 ms more in all, so that a momentary lock (another process writing its record) still lets a
// stopped run write its own, while a lock that stays cannot hold the stop up.
// Call on an open connection of the QSQLITE driver; false when it gives no native handle (the
// driver's own busy time-out then stays in force).
bool InstallStoppableBusyWait(const QSqlDatabase& db, int timeoutMs);
