#include "DatalinkParts.h"
#include "config/PasswordScrambler.h"
#include "config/ValueChecks.h"
#include "datasources/WarehouseSession.h"
#include "db/DbInterface.h"
#include "db/SqlDialect.h"

namespace {

enum class Kind { Text, Integer, Boolean, Password };
struct Field {
    const char* option;
    const char* column;
    Kind kind;
};
const Field kFields[] = {
    {"--type", "Type", Kind::Integer},
    {"--ds-server", "ds_server", Kind::Text},
    {"--ds-database", "ds_database", Kind::Text},
    {"--ds-trusted-login", "ds_trusted_login", Kind::Boolean},
    {"--ds-user", "ds_user", Kind::Text},
    {"--ds-password", "ds_password", Kind::Password},
    {"--ds-file", "ds_file", Kind::Text},
    {"--ds-directory", "ds_directory", Kind::Text},
    {"--ds-connect-string", "ds_connect_string", Kind::Text},
    {"--transfer-data", "transfer_data", Kind::Integer},
    {"--ftp-server", "ftp_server", Kind::Text},
    {"--ftp-user", "ftp_user", Kind::Text},
    {"--ftp-password", "ftp_password", Kind::Password},
    {"--remote-directory", "remote_directory", Kind::Text},
    {"--poll-interval", "poll_interval", Kind::Integer},
    {"--poll-duration", "poll_duration", Kind::Integer},
};

// The column values the options give, in table order; false (usage) for a malformed value.
bool fieldValues(const AdminArgs& options, QStringList& columns, QVariantList& values,
                 const AdminIo& io) {
    const QStringList nulls = options.values.value(QStringLiteral("--null"));
    for (const QString& n : nulls) {
        bool known = false;
        for (const Field& f : kFields)
            known = known || n.compare(QLatin1String(f.column), Qt::CaseInsensitive) == 0;
        if (!known) {
            io.error(QStringLiteral("--null: no column '%1' that can be changed").arg(n));
            return false;
        }
    }
    for (const Field& f : kFields) {
        const QString column = QString::fromLatin1(f.column);
        const bool null = nulls.contains(column, Qt::CaseInsensitive);
        const QString option = QString::fromLatin1(f.option);
        if (null && options.has(option)) {
            io.error(QStringLiteral("%1 and --null %2 contradict each other").arg(option, column));
            return false;
        }
        if (!null && !options.has(option))
            continue;
        QVariant value;
        const QString given = options.value(option);
        if (null) {
            value = QVariant(QMetaType::fromType<QString>());
        } else if (f.kind == Kind::Integer) {
            // A larger number would read back as 32767, a negative one means nothing.
            int number = 0;
            const QString why = NumberRefusal(option, given, 0, kDataLinkNumberMax, &number);
            if (!why.isEmpty()) {
                io.error(why);
                return false;
            }
            value = number;
        } else if (f.kind == Kind::Boolean) {
            const QString b = given.trimmed().toLower();
            if (b == QLatin1String("true") || b == QLatin1String("1") || b == QLatin1String("yes"))
                value = true;
            else if (b == QLatin1String("false") || b == QLatin1String("0") ||
                     b == QLatin1String("no"))
                value = false;
            else {
                io.error(QStringLiteral("%1 needs true or false, not '%2'").arg(option, given));
                return false;
            }
        } else {
            value = f.kind == Kind::Password ? Rot13(given) : given;
        }
        columns << column;
        values << value;
    }
    return true;
}

// "model = ? AND source_name = ?" with both names compared exactly, whatever the server's
// collation: on a server that ignores case, "sales" is still another model than "Sales".
QString exactRow(const DbConnection& c) {
    const SqlDialect& d = c.Dialect();
    return d.ExactTextEquals(QStringLiteral("model")) + QStringLiteral(" AND ") +
           d.ExactTextEquals(QStringLiteral("source_name"));
}

bool rowExists(const DatalinkRequest& r, DbConnection& dw, bool& exists, const AdminIo& io) {
    DbRecordset rs;
    if (!rs.Open(
            QStringLiteral("SELECT model FROM %1 WHERE %2").arg(DataLinkTableName(), exactRow(dw)),
            dw, {r.model, r.name})) {
        io.error(rs.LastError());
        return false;
    }
    exists = !rs.IsEOF();
    return true;
}

}  // namespace

std::vector<AdminOption> DatalinkFieldOptions() {
    std::vector<AdminOption> options;
    for (const Field& f : kFields)
        options.push_back({f.option});
    // Read into --ds-password and --ftp-password before the command runs (AdminSecrets.h).
    options.push_back({"--ds-password-file"});
    options.push_back({"--ftp-password-file"});
    return options;
}

int DatalinkAdd(const DatalinkRequest& r, const AdminIo& io) {
    QStringList columns;
    QVariantList values;
    if (!fieldValues(r.args, columns, values, io))
        return 2;
    if (!columns.contains(QStringLiteral("Type"))) {
        io.error(QStringLiteral("datalink add needs --type (or --null Type)"));
        return 2;
    }
    WarehouseSession session;
    if (!ConnectWarehouse(r, session, io) || !RequireDataLinkTable(session, io))
        return 1;
    bool exists = false;
    if (!rowExists(r, *session.Connection(), exists, io))
        return 1;
    if (exists) {
        io.error(QStringLiteral("model '%1' already has a data link '%2'").arg(r.model, r.name));
        return 1;
    }
    columns.prepend(QStringLiteral("source_name"));
    columns.prepend(QStringLiteral("model"));
    values.prepend(r.name);
    values.prepend(r.model);
    QStringList marks;
    for (qsizetype i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    DbConnection& dw = *session.Connection();
    if (!dw.Execute(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                        .arg(DataLinkTableName(), columns.join(", "), marks.join(", ")),
                    values)) {
        io.error(dw.ErrorText());
        return 1;
    }
    return 0;
}

int DatalinkSet(const DatalinkRequest& r, const AdminIo& io) {
    QStringList columns;
    QVariantList values;
    if (!fieldValues(r.args, columns, values, io))
        return 2;
    if (columns.isEmpty()) {
        io.error(QStringLiteral("datalink set needs at least one field to change"));
        return 2;
    }
    WarehouseSession session;
    if (!ConnectWarehouse(r, session, io) || !RequireDataLinkTable(session, io))
        return 1;
    QStringList sets;
    for (const QString& c : columns)
        sets << c + QStringLiteral(" = ?");
    values << r.model << r.name;
    DbConnection& dw = *session.Connection();
    int affected = 0;
    if (!dw.Execute(QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                        .arg(DataLinkTableName(), sets.join(", "), exactRow(dw)),
                    values, &affected)) {
        io.error(dw.ErrorText());
        return 1;
    }
    if (affected == 0) {
        io.error(QStringLiteral("model '%1' has no data link '%2'").arg(r.model, r.name));
        return 1;
    }
    return 0;
}
