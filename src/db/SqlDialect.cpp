#include "db/SqlDialect.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "db/DbInterface.h"
#include "db/DialectQueries.h"

QString SqlDialect::QuoteIdentifier(const QString& name) const {
    QString n = name;
    return '"' + n.replace('"', QStringLiteral("\"\"")) + '"';
}

QString SqlDialect::StoredTimeSeconds(const QString&) const {
    return QString();
}

bool DialectQuery(DbConnection& c, const QString& sql, const QVariantList& params,
                  QVector<QVariantList>& rows) {
    QSqlQuery q(c.Database());
    q.setForwardOnly(true);
    if (!DbConnection::RunQuery(q, sql, params)) {
        c.SetError(
            DbErrorMessage(q.lastError(), QStringLiteral("The query failed without a reason.")));
        return false;
    }
    const int n = q.record().count();
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < n; ++i)
            row << q.value(i);
        rows << row;
    }
    return true;
}

bool DialectFirstColumn(DbConnection& c, const QString& sql, QStringList& names) {
    QVector<QVariantList> rows;
    if (!DialectQuery(c, sql, {}, rows))
        return false;
    names.clear();
    for (const QVariantList& r : rows)
        names << r.value(0).toString();
    return true;
}
