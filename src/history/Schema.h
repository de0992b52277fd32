#pragma once

#include <QSqlDatabase>
#include <QString>

class DbBackend;

// The tables and indexes of the job-history repository, written in the dialect of the backend
// that holds it.
//
// job_history holds one row per closed record: every property, the closing arguments (JSON array
// in Arguments), and RecordTime, the record's end time (or, without one, the time it was stored)
// in seconds since 1970 UTC, on which listings filter and old records are pruned. Repositories
// written before RecordTime existed get the column, filled from their end or start times, and the
// indexes on first use; records stored later without it get it on the next open.
namespace Schema {

// Creates or upgrades the schema of an open repository held by `backend`; programs that open a
// new repository at the same moment take turns. False with `error` set.
bool Ensure(QSqlDatabase& db, const DbBackend& backend, QString* error);
// Gives the records that lack a RecordTime (stored by an older Pendrill or by another program of
// the repository) the one their end time, else their start time, says; records with neither keep
// none. False with `error` set when the repository cannot be read or written.
bool FillRecordTimes(QSqlDatabase& db, QString* error);

}  // namespace Schema
