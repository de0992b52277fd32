#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cstdio>

#include "AdminCommands.h"
#include "ServerRequest.h"
#include "config/SettingsStore.h"
#include "config/ValueChecks.h"
#include "datasources/ChoiceList.h"
#include "datasources/DatabaseLists.h"
#include "datasources/WarehouseConnection.h"
#include "db/DbInterface.h"
#include "db/ServerResolver.h"

namespace {

const char* const kServerUsage =
    "Usage: pendrill-admin server add NAME ALIAS\n"
    "       pendrill-admin server list [--json]\n"
    "       pendrill-admin server remove NAME\n"
    "       pendrill-admin server databases NAME [--user U [--password P] | --trusted]\n"
    "Define the database servers Pendrill reaches by name (server aliases).\n"
    "  add        define or replace NAME; ALIAS is one of\n"
    "               sqlite:DIRECTORY                  an embedded server in that directory\n"
    "               postgresql://[USER@]HOST[:PORT]   a PostgreSQL server\n"
    "               odbc:CONNECTION-TEXT              any server with an ODBC driver\n"
    "  list       the aliases, one 'NAME<TAB>ALIAS' a line (ODBC passwords hidden)\n"
    "  remove     forget NAME\n"
    "  databases  connect to NAME and list its databases\n"
    "Without an alias, (local), '.' and localhost are the embedded server in\n"
    "$XDG_DATA_HOME/pendrill/servers/local.\n";

QString aliasKey() {
    return QString::fromLatin1(ServerAliasKey);
}

// An ODBC text may carry a password; a listing shows that it is there, not what it is.
QString masked(const QString& alias) {
    static const QRegularExpression pwd(
        QStringLiteral(R"((\b(?:pwd|password)\s*=\s*)(\{[^}]*\}|[^;]*))"),
        QRegularExpression::CaseInsensitiveOption);
    QString text = alias;
    return text.replace(pwd, QStringLiteral("\\1********"));
}

QString storedName(const QString& name) {
    for (const QString& n : RegistryValueNames(aliasKey()))
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return n;
    return QString();
}

int add(const QString& name, const QString& alias) {
    if (const QString why = NameRefusal(QStringLiteral("server name"), name); !why.isEmpty()) {
        AdminError(why);
        return 2;
    }
    if (name != name.trimmed() || name.contains('=') || name == QLatin1String("*")) {
        AdminError(
            QStringLiteral("a server name must not start or end with a blank, hold '=' or be "
                           "'*'"));
        return 2;
    }
    QString why;
    if (!ParseServerAlias(name, alias, &why)) {
        AdminError(why);
        return 2;
    }
    const QString existing = storedName(name);
    if (!existing.isEmpty() && existing != name)
        DeleteRegistryValue(aliasKey(), existing);
    if (!WriteRegistryValue(aliasKey(), name, alias.trimmed())) {
        AdminError(QStringLiteral("cannot write the settings store %1").arg(RegistryFilePath()));
        return 1;
    }
    return 0;
}

int list(bool json) {
    QJsonArray array;
    for (const QString& name : RegistryValueNames(aliasKey())) {
        const QString alias = masked(ReadRegistryValue(aliasKey(), name));
        if (json)
            array.append(
                QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("alias"), alias}});
        else
            AdminPrint(name + '\t' + alias);
    }
    if (json)
        std::fputs(QJsonDocument(array).toJson(QJsonDocument::Indented).constData(), stdout);
    return 0;
}

int remove(const QString& name) {
    const QString existing = storedName(name);
    if (existing.isEmpty()) {
        AdminError(QStringLiteral("no server alias '%1'").arg(name));
        return 1;
    }
    if (!DeleteRegistryValue(aliasKey(), existing)) {
        AdminError(QStringLiteral("cannot write the settings store %1").arg(RegistryFilePath()));
        return 1;
    }
    return 0;
}

int databases(const QString& name, const AdminLogin& login) {
    std::unique_ptr<DbConnection> connection;
    QString error;
    if (!OpenDataSourceConnection(1, name, login.trusted, login.user, login.password, connection,
                                  QString(), 20, &error)) {
        AdminError(QString(QString::fromLatin1(ConnectErrorPrefix) + name + error)
                       .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        return 1;
    }
    StringChoiceList names;
    if (!FillSQLDatabaseList(*connection, names)) {
        AdminError(connection->ErrorText());
        return 1;
    }
    for (const QString& n : names.Items())
        AdminPrint(n);
    return 0;
}

}  // namespace

int ServerCommand(const QStringList& args) {
    const QString verb = args.value(0);
    if (UsageAsked(args, kServerUsage))
        return 0;
    if ((verb == QLatin1String("remove") || verb == QLatin1String("databases")) &&
        args.size() >= 2) {
        if (const QString why = NameRefusal(QStringLiteral("server name"), args.at(1));
            !why.isEmpty()) {
            AdminError(why);
            return 2;
        }
    }
    if (verb == QLatin1String("add") && args.size() == 3)
        return add(args.at(1), args.at(2));
    if (verb == QLatin1String("list") && args.size() <= 2) {
        if (args.size() == 2 && args.at(1) != QLatin1String("--json")) {
            std::fputs(kServerUsage, stderr);
            return 2;
        }
        return list(args.size() == 2);
    }
    if (verb == QLatin1String("remove") && args.size() == 2)
        return remove(args.at(1));
    if (verb == QLatin1String("databases") && args.size() >= 2 &&
        !args.at(1).startsWith(QLatin1String("--"))) {
        ServerOptions spec;
        spec.command = QStringLiteral("server databases");
        spec.takesServer = false;
        ServerRequest request;
        if (!ParseServerRequest(args, 2, spec, request))
            return 2;
        return databases(args.at(1), request.login);
    }
    std::fputs(kServerUsage, stderr);
    return 2;
}
