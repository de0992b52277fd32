#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>
#include <memory>

#include "db/RowCursor.h"

// A row cursor over a statement of the embedded server's own sqlite3 handle, which hands each
// text field over as its stored bytes. Null when `db` is no embedded connection, a value of
// `binds` is neither text nor an integer, or the statement fails to prepare or to give its first
// row: the caller then runs it through Qt's driver, whose errors it reports.
std::unique_ptr<RowCursor> OpenEmbeddedRowCursor(QSqlDatabase& db, const QString& sql,
                                                 const QVariantList& binds);
