#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class DbConnection;

// Catalogue queries the dialects of every server kind share (src/db/SqlDialect.cpp).

// Every row of `sql` run with `params`. False with the error set on the connection.
bool DialectQuery(DbConnection& c, const QString& sql, const QVariantList& params,
                  QVector<QVariantList>& rows);
// The first column of every row of a query without parameters. False as DialectQuery.
bool DialectFirstColumn(DbConnection& c, const QString& sql, QStringList& names);
