#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <vector>

#include "AdminCommands.h"
#include "AdminOptions.h"
#include "config/ExecDTSPackage.h"
#include "config/modCypher.h"
#include "datasources/DbInterface.h"
#include "datasources/cDataSources.h"
#include "datasources/modDBConnection.h"
#include "datasources/modDataLinkInfo.h"
#include "platform/ServerResolver.h"
#include "platform/SqlDialect.h"
#include "util/OperatorInterface.h"

namespace {

const char* const kDatalinkUsage =
    "Usage: pendrill-admin datalink init --server S --database D [LOGIN]\n"
    "       pendrill-admin datalink add  --server S --database D --model M --name N --type T\n"
    "                                    [FIELD]... [LOGIN]\n"
    "       pendrill-admin datalink set  --server S --database D --model M --name N FIELD...\n"
    "                                    [LOGIN]\n"
    "       pendrill-admin datalink list --server S --database D --model M [--json] [LOGIN]\n"
    "Set up and inspect the data-link catalogue (table dwm_data_link) of a data-warehouse\n"
    "database.\n"
    "  init   create the table (and, on an embedded or PostgreSQL server, the database)\n"
    "  add    add the data link N of model M; fields not given are NULL\n"
    "  set    change fields of the data link N of model M\n"
    "  list   the data links of model M as Pendrill shows them: NULL as empty, 0 or FALSE,\n"
    "         numbers beyond 32767 as 32767, passwords in clear; rows whose Type is not a\n"
    "         number are left out with a note on standard error\n"
    "Model and data-link names are compared exactly (letter case counts), also on a server\n"
    "whose collation ignores case.\n"
    "LOGIN:  --user U [--password P]   or   --trusted (the default)\n"
    "FIELD:  --type N  --ds-server TEXT  --ds-database TEXT  --ds-trusted-login true|false\n"
    "        --ds-user TEXT  --ds-password TEXT  --ds-file TEXT  --ds-directory TEXT\n"
    "        --ds-connect-string TEXT  --transfer-data N  --ftp-server TEXT  --ftp-user TEXT\n"
    "        --ftp-password TEXT  --remote-directory TEXT  --poll-interval N  --poll-duration N\n"
    "        --null COLUMN (set a column to NULL; may be repeated)\n"
    "Passwords are given in clear and stored ROT13-rotated, as Pendrill stores them.\n";

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

QString table() {
    return QString::fromLatin1(DataLinkTable);
}

QString lines(const QString& text) {
    return QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// Messages of the run log (rows left out of a load) go to standard error.
class StderrOperator : public OperatorInterface {
  public:
    void ProcessPendingEvents() override {}
    void ShowMessageBox(const QString&, int, const QString&) override {}
    void SetStatusText(const QString& text) override { AdminError(lines(text)); }
};

struct Request {
    QString server, database, model, name;
    AdminLogin login;
    AdminOptions options;
};

bool connectDW(const Request& r) {
    QString error;
    if (ConnectToDWServer(r.server, r.login.trusted, r.login.user, r.login.password, error,
                          r.database, 20))
        return true;
    AdminError(lines(error));
    return false;
}

bool requireTable() {
    if (TableExists(*GetDWConnection(), table()))
        return true;
    AdminError(lines(QString::fromLatin1(DataLinkTableMissingText)));
    return false;
}

void describe(DbConnection& c, const QString& server, const QString& database,
              const AdminLogin& login) {
    c.ConnectionTimeout = 20;
    c.Provider = QString::fromLatin1(DWProvider);
    c.SetProperty(QStringLiteral("Data Source"), server);
    c.SetProperty(QStringLiteral("Initial Catalog"), database);
    if (login.trusted) {
        c.SetProperty(QStringLiteral("Integrated Security"), QStringLiteral("SSPI"));
    } else {
        c.SetProperty(QStringLiteral("User ID"), login.user);
        c.SetProperty(QStringLiteral("Password"), login.password);
    }
}

// Creates a PostgreSQL database that is not there yet (connected to the server's default one).
bool createPostgresDatabase(const Request& r, QString& error) {
    DbConnection admin;
    describe(admin, r.server, QString(), r.login);
    if (!admin.Open()) {
        error = admin.ErrorText();
        return false;
    }
    DbRecordset rs;
    if (!rs.Open(QStringLiteral("SELECT 1 FROM pg_database WHERE datname = ?"), admin,
                 {r.database})) {
        error = rs.LastError();
        return false;
    }
    if (!rs.IsEOF())
        return true;
    if (!admin.Execute(QStringLiteral("CREATE DATABASE ") +
                       admin.Dialect().QuoteIdentifier(r.database))) {
        error = admin.ErrorText();
        return false;
    }
    AdminPrint(QStringLiteral("created database %1").arg(r.database));
    return true;
}

int init(const Request& r) {
    QString error;
    const std::optional<ServerLocation> location = ResolveServer(r.server, &error);
    if (!location) {
        AdminError(QString::fromLatin1(ConnectErrorPrefix) + r.server + '\n' + error);
        return 1;
    }
    DbConnection c;
    describe(c, r.server, r.database, r.login);
    c.CreateMissingDatabase = true;
    if (!c.Open() && location->kind == ServerLocation::Kind::PostgreSQL) {
        if (!createPostgresDatabase(r, error)) {
            AdminError(QString::fromLatin1(ConnectErrorPrefix) + r.server + '\n' + lines(error));
            return 1;
        }
        c.Open();
    }
    if (c.State() != 1) {
        AdminError(QString::fromLatin1(ConnectErrorPrefix) + r.server + '\n' +
                   c.Errors().join('\n'));
        return 1;
    }
    if (TableExists(c, table())) {
        AdminPrint(QStringLiteral("%1 already exists in %2").arg(table(), r.database));
        return 0;
    }
    if (!CreateDataLinkTable(c)) {
        AdminError(c.ErrorText());
        return 1;
    }
    AdminPrint(QStringLiteral("created table %1 in %2").arg(table(), r.database));
    return 0;
}

// The column values the options give, in table order; false (usage) for a malformed value.
bool fieldValues(const AdminOptions& options, QStringList& columns, QVariantList& values) {
    const QStringList nulls = options.values.value(QStringLiteral("--null"));
    for (const QString& n : nulls) {
        bool known = false;
        for (const Field& f : kFields)
            known = known || n.compare(QLatin1String(f.column), Qt::CaseInsensitive) == 0;
        if (!known) {
            AdminError(QStringLiteral("--null: no column '%1' that can be changed").arg(n));
            return false;
        }
    }
    for (const Field& f : kFields) {
        const QString column = QString::fromLatin1(f.column);
        const bool null = nulls.contains(column, Qt::CaseInsensitive);
        const QString option = QString::fromLatin1(f.option);
        if (null && options.has(option)) {
            AdminError(
                QStringLiteral("%1 and --null %2 contradict each other").arg(option, column));
            return false;
        }
        if (!null && !options.has(option))
            continue;
        QVariant value;
        const QString given = options.value(option);
        if (null) {
            value = QVariant(QMetaType::fromType<QString>());
        } else if (f.kind == Kind::Integer) {
            bool ok = false;
            value = given.trimmed().toInt(&ok);
            if (!ok) {
                AdminError(QStringLiteral("%1 needs a whole number, not '%2'").arg(option, given));
                return false;
            }
        } else if (f.kind == Kind::Boolean) {
            const QString b = given.trimmed().toLower();
            if (b == QLatin1String("true") || b == QLatin1String("1") || b == QLatin1String("yes"))
                value = true;
            else if (b == QLatin1String("false") || b == QLatin1String("0") ||
                     b == QLatin1String("no"))
                value = false;
            else {
                AdminError(QStringLiteral("%1 needs true or false, not '%2'").arg(option, given));
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

bool rowExists(const Request& r, bool& exists) {
    DbConnection& dw = *GetDWConnection();
    DbRecordset rs;
    if (!rs.Open(QStringLiteral("SELECT model FROM %1 WHERE %2").arg(table(), exactRow(dw)), dw,
                 {r.model, r.name})) {
        AdminError(rs.LastError());
        return false;
    }
    exists = !rs.IsEOF();
    return true;
}

int add(const Request& r) {
    QStringList columns;
    QVariantList values;
    if (!fieldValues(r.options, columns, values))
        return 2;
    if (!columns.contains(QStringLiteral("Type"))) {
        AdminError(QStringLiteral("datalink add needs --type (or --null Type)"));
        return 2;
    }
    if (!connectDW(r) || !requireTable())
        return 1;
    bool exists = false;
    if (!rowExists(r, exists))
        return 1;
    if (exists) {
        AdminError(QStringLiteral("model '%1' already has a data link '%2'").arg(r.model, r.name));
        return 1;
    }
    columns.prepend(QStringLiteral("source_name"));
    columns.prepend(QStringLiteral("model"));
    values.prepend(r.name);
    values.prepend(r.model);
    QStringList marks;
    for (qsizetype i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    DbConnection& dw = *GetDWConnection();
    if (!dw.Execute(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                        .arg(table(), columns.join(", "), marks.join(", ")),
                    values)) {
        AdminError(dw.ErrorText());
        return 1;
    }
    return 0;
}

int set(const Request& r) {
    QStringList columns;
    QVariantList values;
    if (!fieldValues(r.options, columns, values))
        return 2;
    if (columns.isEmpty()) {
        AdminError(QStringLiteral("datalink set needs at least one field to change"));
        return 2;
    }
    if (!connectDW(r) || !requireTable())
        return 1;
    QStringList sets;
    for (const QString& c : columns)
        sets << c + QStringLiteral(" = ?");
    values << r.model << r.name;
    DbConnection& dw = *GetDWConnection();
    int affected = 0;
    if (!dw.Execute(
            QStringLiteral("UPDATE %1 SET %2 WHERE %3").arg(table(), sets.join(", "), exactRow(dw)),
            values, &affected)) {
        AdminError(dw.ErrorText());
        return 1;
    }
    if (affected == 0) {
        AdminError(QStringLiteral("model '%1' has no data link '%2'").arg(r.model, r.name));
        return 1;
    }
    return 0;
}

QJsonObject toJson(const cDataSource& ds) {
    return QJsonObject{
        {"strModelName", ds.strModelName},
        {"strName", ds.strName},
        {"etlType", ds.etlType},
        {"strDSServer", ds.strDSServer},
        {"strDSDatabase", ds.strDSDatabase},
        {"blnDSTrustedLogin", ds.blnDSTrustedLogin},
        {"strDSUser", ds.strDSUser},
        {"strDSPassword", ds.strDSPassword},
        {"strDSFile", ds.strDSFile},
        {"strDSDirectory", ds.strDSDirectory},
        {"strDSConnectString", ds.strDSConnectString},
        {"intTransferData", ds.intTransferData},
        {"strFTPServer", ds.strFTPServer},
        {"strFTPUser", ds.strFTPUser},
        {"strFTPPassword", ds.strFTPPassword},
        {"strRemoteDir", ds.strRemoteDir},
        {"intPollInterval", ds.intPollInterval},
        {"intPollDuration", ds.intPollDuration},
    };
}

void printText(const cDataSource& ds) {
    const auto n = [](int v) { return QString::number(v); };
    AdminPrint('[' + ds.strName + ']');
    AdminPrint("ModelName=" + ds.strModelName);
    AdminPrint("Type=" + n(ds.etlType));
    AdminPrint("Server=" + ds.strDSServer);
    AdminPrint("Database=" + ds.strDSDatabase);
    AdminPrint("TrustedLogin=" + ExecDTSPackage::BooleanText(ds.blnDSTrustedLogin));
    AdminPrint("User=" + ds.strDSUser);
    AdminPrint("Password=" + ds.strDSPassword);
    AdminPrint("File=" + ds.strDSFile);
    AdminPrint("Directory=" + ds.strDSDirectory);
    AdminPrint("ConnectString=" + ds.strDSConnectString);
    AdminPrint("TransferData=" + n(ds.intTransferData));
    AdminPrint("FTPServer=" + ds.strFTPServer);
    AdminPrint("FTPUser=" + ds.strFTPUser);
    AdminPrint("FTPPassword=" + ds.strFTPPassword);
    AdminPrint("RemoteDir=" + ds.strRemoteDir);
    AdminPrint("PollDuration=" + n(ds.intPollDuration));
    AdminPrint("PollInterval=" + n(ds.intPollInterval));
}

int list(const Request& r) {
    if (!connectDW(r) || !requireTable())
        return 1;
    StderrOperator stderrOperator;
    SetOperator(&stderrOperator);
    cDataSources sources;
    QString error;
    const bool loaded = sources.Load(r.model, &error);
    SetOperator(nullptr);
    if (!loaded) {
        AdminError(lines(error));
        return 1;
    }
    // The server may have returned rows whose model matches only without regard to case; like
    // Pendrill's data-link list, only the model's own rows are shown.
    std::vector<const cDataSource*> shown;
    for (const cDataSource& ds : sources)
        if (ds.strModelName == r.model)
            shown.push_back(&ds);
    if (r.options.has(QStringLiteral("--json"))) {
        QJsonArray array;
        for (const cDataSource* ds : shown)
            array.append(toJson(*ds));
        std::fputs(QJsonDocument(array).toJson(QJsonDocument::Indented).constData(), stdout);
        return 0;
    }
    bool first = true;
    for (const cDataSource* ds : shown) {
        if (!first)
            AdminPrint(QString());
        first = false;
        printText(*ds);
    }
    return 0;
}

}  // namespace

int DatalinkCommand(const QStringList& args) {
    const QString verb = args.value(0);
    if (verb == QLatin1String("--help") || verb == QLatin1String("help") ||
        args.contains(QStringLiteral("--help"))) {
        std::fputs(kDatalinkUsage, stdout);
        return 0;
    }
    QStringList valueOptions = AdminLoginValueOptions;
    valueOptions << QStringLiteral("--server") << QStringLiteral("--database");
    QStringList flagOptions = AdminLoginFlagOptions;
    QStringList required = {QStringLiteral("--server"), QStringLiteral("--database")};
    int (*run)(const Request&) = nullptr;
    if (verb == QLatin1String("init")) {
        run = init;
    } else if (verb == QLatin1String("list")) {
        valueOptions << QStringLiteral("--model");
        flagOptions << QStringLiteral("--json");
        required << QStringLiteral("--model");
        run = list;
    } else if (verb == QLatin1String("add") || verb == QLatin1String("set")) {
        valueOptions << QStringLiteral("--model") << QStringLiteral("--name")
                     << QStringLiteral("--null");
        for (const Field& f : kFields)
            valueOptions << QString::fromLatin1(f.option);
        required << QStringLiteral("--model") << QStringLiteral("--name");
        run = verb == QLatin1String("add") ? add : set;
    } else {
        std::fputs(kDatalinkUsage, stderr);
        return 2;
    }
    Request r;
    QString error;
    if (!ParseAdminOptions(args, 1, valueOptions, flagOptions, r.options, error,
                           {QStringLiteral("--null")}) ||
        !AdminLoginFrom(r.options, r.login, error)) {
        AdminError(error);
        return 2;
    }
    for (const QString& option : required) {
        if (!r.options.has(option)) {
            AdminError(QStringLiteral("datalink %1 needs %2 (see --help)").arg(verb, option));
            return 2;
        }
    }
    r.server = r.options.value(QStringLiteral("--server"));
    r.database = r.options.value(QStringLiteral("--database"));
    r.model = r.options.value(QStringLiteral("--model"));
    r.name = r.options.value(QStringLiteral("--name"));
    return run(r);
}
