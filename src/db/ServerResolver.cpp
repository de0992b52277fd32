#include "db/ServerResolver.h"

#include <QDir>
#include <QRegularExpression>
#include <QUrl>

#include "config/SettingsStore.h"
#include "db/Backends.h"
#include "util/Errors.h"

QString LocalServerDirectory() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/pendrill/servers/local");
}

std::optional<ServerLocation> ParseServerAlias(const QString& name, const QString& aliasText,
                                               QString* error) {
    ServerLocation loc;
    loc.name = name;
    const QString text = aliasText.trimmed();
    auto fail = [&](const QString& why) -> std::optional<ServerLocation> {
        SetError(error, QStringLiteral("Server alias '%1' = '%2' cannot be used: %3")
                            .arg(name, aliasText, why));
        return std::nullopt;
    };
    if (text.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive)) {
        loc.kind = ServerLocation::Kind::Embedded;
        loc.directory = text.mid(7).trimmed();
        if (loc.directory.isEmpty())
            return fail(QStringLiteral("no directory"));
        return loc;
    }
    if (text.startsWith(QLatin1String("odbc:"), Qt::CaseInsensitive)) {
        loc.kind = ServerLocation::Kind::Odbc;
        loc.odbc = text.mid(5).trimmed();
        if (loc.odbc.isEmpty())
            return fail(QStringLiteral("no ODBC connection text"));
        return loc;
    }
    if (text.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
        text.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive)) {
        // postgresql://[user@]host[:port]; a socket directory is written percent-encoded as
        // the host (%2Fvar%2Frun%2Fpostgresql). A path or query after the host is ignored.
        QString rest = text.mid(text.indexOf(QLatin1String("://")) + 3);
        const qsizetype end = rest.indexOf(QRegularExpression(QStringLiteral("[/?]")));
        if (end >= 0)
            rest.truncate(end);
        const qsizetype at = rest.lastIndexOf('@');
        if (at >= 0) {
            loc.user = QUrl::fromPercentEncoding(rest.left(at).section(':', 0, 0).toUtf8());
            rest = rest.mid(at + 1);
        }
        const qsizetype colon = rest.lastIndexOf(':');
        if (colon >= 0) {
            bool ok = false;
            loc.port = rest.mid(colon + 1).toInt(&ok);
            if (!ok || loc.port <= 0 || loc.port > 65535)
                return fail(QStringLiteral("bad port"));
            rest.truncate(colon);
        }
        loc.kind = ServerLocation::Kind::PostgreSQL;
        loc.host = QUrl::fromPercentEncoding(rest.toUtf8());
        if (loc.host.isEmpty())
            return fail(QStringLiteral("no host"));
        return loc;
    }
    return fail(QStringLiteral("it must start with sqlite:, postgresql:// or odbc:"));
}

std::optional<ServerLocation> ResolveServer(const QString& serverName, QString* error) {
    const QString name = serverName.trimmed();
    const QString keyPath = QString::fromLatin1(ServerAliasKey);
    if (!name.isEmpty() && RegistryValueNames(keyPath).contains(name, Qt::CaseInsensitive))
        return ParseServerAlias(name, ReadRegistryValue(keyPath, name), error);
    if (name == QLatin1String("(local)") || name == QLatin1String(".") ||
        name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        ServerLocation loc;
        loc.name = name;
        loc.directory = LocalServerDirectory();
        return loc;
    }
    SetError(error, QStringLiteral("Server '%1' not found: it is no server alias of this machine "
                                   "(pendrill-admin server list) and not (local), '.' or "
                                   "localhost.")
                        .arg(serverName));
    return std::nullopt;
}

const DbBackend& BackendOf(const ServerLocation& server) {
    switch (server.kind) {
        case ServerLocation::Kind::Embedded:
            return EmbeddedServerBackend();
        case ServerLocation::Kind::PostgreSQL:
            return PostgresServerBackend();
        case ServerLocation::Kind::Odbc:
            break;
    }
    return OdbcServerBackend();
}

const DbBackend* ServerBackend(const QString& serverName, QString* error) {
    const std::optional<ServerLocation> location = ResolveServer(serverName, error);
    return location ? &BackendOf(*location) : nullptr;
}
