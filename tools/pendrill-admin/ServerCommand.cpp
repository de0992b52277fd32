#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "CommandTable.h"
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
    "       pendrill-admin server databases NAME [--user U [--password P | --password-file F]\n"
    "                                             | --trusted]\n"
    "Define the database servers Pendrill reaches by name (server aliases).\n"
    "  add        define or replace NAME; ALIAS is one of\n"
    "               sqlite:DIRECTORY                  an embedded server in that directory\n"
    "               postgresql://[USER@]HOST[:PORT]   a PostgreSQL server\n"
    "               odbc:CONNECTION-TEXT              any server with an ODBC driver\n"
    "  list       the aliases, one 'NAME<TAB>ALIAS' a line (passwords hidden)\n"
    "  remove     forget NAME\n"
    "  databases  connect to NAME (also given as --server NAME) and list its databases\n"
    "Without an alias, (local), '.' and localhost are the embedded server in\n"
    "$XDG_DATA_HOME/pendrill/servers/local.\n";

QString aliasKey() {
    return QString::fromLatin1(ServerAliasKey);
}

QString storedName(const QString& name) {
    for (const QString& n : RegistryValueNames(aliasKey()))
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return n;
    return QString();
}

int add(const AdminInvocation& c, const AdminIo& io) {
    const QString &name = c.args.positional.at(0), &alias = c.args.positional.at(1);
    if (const QString why = NameRefusal(QStringLiteral("server name"), name); !why.isEmpty()) {
        io.error(why);
        return 2;
    }
    if (name != name.trimmed() || name.contains('=') || name == QLatin1String("*")) {
        io.error(
            QStringLiteral("a server name must not start or end with a blank, hold '=' or be "
                           "'*'"));
        return 2;
    }
    QString why;
    if (!ParseServerAlias(name, alias, &why)) {
        io.error(why);
        return 2;
    }
    const QString existing = storedName(name);
    if (!existing.isEmpty() && existing != name)
        DeleteRegistryValue(aliasKey(), existing);
    if (!WriteRegistryValue(aliasKey(), name, alias.trimmed())) {
        io.error(QStringLiteral("cannot write the settings store %1").arg(RegistryFilePath()));
        return 1;
    }
    return 0;
}

int list(const AdminInvocation& c, const AdminIo& io) {
    const bool json = c.args.has(QStringLiteral("--json"));
    QJsonArray array;
    for (const QString& name : RegistryValueNames(aliasKey())) {
        const QString alias = MaskedConnectionText(ReadRegistryValue(aliasKey(), name));
        if (json)
            array.append(
                QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("alias"), alias}});
        else
            io.print(name + '\t' + alias);
    }
    if (json)
        io.write(QJsonDocument(array).toJson(QJsonDocument::Indented));
    return 0;
}

int removeAlias(const AdminInvocation& c, const AdminIo& io) {
    const QString& name = c.args.positional.at(0);
    if (const QString why = NameRefusal(QStringLiteral("server name"), name); !why.isEmpty()) {
        io.error(why);
        return 2;
    }
    const QString existing = storedName(name);
    if (existing.isEmpty()) {
        io.error(QStringLiteral("no server alias '%1'").arg(name));
        return 1;
    }
    if (!DeleteRegistryValue(aliasKey(), existing)) {
        io.error(QStringLiteral("cannot write the settings store %1").arg(RegistryFilePath()));
        return 1;
    }
    return 0;
}

// NAME, or --server NAME as every other command that connects takes it.
int databases(const AdminInvocation& c, const AdminIo& io) {
    if (c.args.positional.size() + (c.args.has(QStringLiteral("--server")) ? 1 : 0) != 1) {
        std::fputs(kServerUsage, io.err);
        return 2;
    }
    const QString name = c.args.positional.value(0, c.server);
    if (const QString why = NameRefusal(QStringLiteral("server name"), name); !why.isEmpty()) {
        io.error(why);
        return 2;
    }
    const AdminLogin& login = c.login;
    std::unique_ptr<DbConnection> connection;
    QString error;
    if (!OpenDataSourceConnection(1, name, login.trusted, login.user, login.password, connection,
                                  QString(), 20, &error)) {
        io.error(QString(QString::fromLatin1(ConnectErrorPrefix) + name + error)
                     .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        return 1;
    }
    StringChoiceList names;
    if (!FillSQLDatabaseList(*connection, names)) {
        io.error(connection->ErrorText());
        return 1;
    }
    for (const QString& n : names.Items())
        io.print(n);
    return 0;
}

}  // namespace

AdminGroup ServerGroup() {
    AdminCommand add{"add"}, list{"list"}, remove{"remove"}, databases{"databases"};
    add.minArgs = add.maxArgs = 2;
    add.run = ::add;
    list.options = {{"--json", false}};
    list.run = ::list;
    remove.minArgs = remove.maxArgs = 1;
    remove.run = removeAlias;
    databases.connection = AdminConnection::Server;
    databases.maxArgs = 1;
    databases.run = ::databases;
    for (AdminCommand* c : {&add, &list, &remove, &databases})
        c->usageOnWrongArgs = true;
    return AdminGroup{"server", kServerUsage, {add, list, remove, databases}};
}
