#include "db/odbc/OdbcBulkSink.h"

#include <QSqlError>
#include <QSqlQuery>
#include <optional>

#include "db/BulkSinkBase.h"
#include "db/DbInterface.h"

namespace {

// Any other server (ODBC): prepared inserts with bound values in a transaction per batch.
class QueryInsertSink final : public TableSinkBase {
  public:
    using TableSinkBase::TableSinkBase;
    ~QueryInsertSink() override { Rollback(); }

    bool Begin(const QStringList& columns, int fieldCount, QString* error) override {
        if (!prepareColumns(columns, fieldCount, error))
            return false;
        query_.emplace(connection_->Database());
        if (!query_->prepare(
                InsertSql(connection_->Dialect(), table_, columns_, QStringLiteral("?")))) {
            *error =
                DbErrorMessage(query_->lastError(), QStringLiteral("the server gave no reason"));
            return false;
        }
        return true;
    }

    RowResult AddRow(const BulkField* fields, int count, QString* reason) override {
        if (!inTransaction_)
            inTransaction_ = connection_->Database().transaction();
        for (int i = 0; i < count; ++i)
            query_->bindValue(
                i, fields[i].null
                       ? QVariant()
                       : QVariant(QString::fromUtf8(fields[i].text.data(), fields[i].text.size())));
        if (query_->exec())
            return RowResult::Accepted;
        *reason = DbErrorMessage(query_->lastError(), QStringLiteral("the server gave no reason"));
        return RowResult::Rejected;
    }

    bool CommitBatch(QString* error) override {
        const bool open = inTransaction_;
        inTransaction_ = false;
        if (!open || connection_->Database().commit()) {
            BatchCommitted();
            return true;
        }
        *error = DbErrorMessage(connection_->Database().lastError(),
                                QStringLiteral("the server gave no reason"));
        return false;
    }

    void Rollback() override {
        if (inTransaction_)
            connection_->Database().rollback();
        inTransaction_ = false;
    }

  private:
    std::optional<QSqlQuery> query_;
    bool inTransaction_ = false;
};

}  // namespace

std::unique_ptr<BulkRowSink> OpenOdbcBulkSink(std::unique_ptr<DbConnection> connection,
                                              const QString& table) {
    return std::make_unique<QueryInsertSink>(std::move(connection), table);
}
