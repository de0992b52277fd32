#include "rook/RookHistoryReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "db/DbInterface.h"
#include "rook/RookJobHistory.h"
#include "rook/RookRepository.h"

bool ReadJobHistory(QList<QJsonObject>& records, QString& error, int limit) {
    records.clear();
    RookRepository::Connection repo;
    if (!repo.Open()) {
        error = repo.LastError();
        return false;
    }
    QStringList columns = {"Id", "Kind", "ApplicationName"};
    columns += RookJobHistory::PropertyNames();
    columns += {"CurrentUserName", "ComputerName", "Arguments"};
    QSqlQuery q(repo.Db());
    q.setForwardOnly(true);
    QString sql =
        QStringLiteral("SELECT %1 FROM job_history ORDER BY Id DESC").arg(columns.join(','));
    if (limit >= 0)
        sql += QStringLiteral(" LIMIT %1").arg(limit);
    if (!q.exec(sql)) {
        error = DbErrorMessage(q.lastError(), QStringLiteral("the database gave no reason"));
        return false;
    }
    while (q.next()) {
        QJsonObject o;
        for (int i = 0; i < columns.size(); ++i) {
            const QVariant v = q.value(i);
            if (columns.at(i) == QLatin1String("Arguments"))
                o.insert(columns.at(i), QJsonDocument::fromJson(v.toString().toUtf8()).array());
            else
                o.insert(columns.at(i), v.isNull() ? QJsonValue() : QJsonValue::fromVariant(v));
        }
        records.append(o);
    }
    return true;
}
