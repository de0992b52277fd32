#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

// Options of the form "--name VALUE" and "--flag", as the database subcommands take them.
struct AdminOptions {
    QMap<QString, QStringList> values;  // every value given, in order, by option name
    QSet<QString> flags;

    bool has(const QString& name) const { return values.contains(name) || flags.contains(name); }
    QString value(const QString& name) const { return values.value(name).value(0); }
};

// Parses `args` (from position `first`); false with `error` set for an unknown option, a
// missing value, a value option given twice (unless it is in `repeatable`), or a bare word.
bool ParseAdminOptions(const QStringList& args, qsizetype first, const QStringList& valueOptions,
                       const QStringList& flagOptions, AdminOptions& out, QString& error,
                       const QStringList& repeatable = {});

// The login to a server: --user U [--password P], or --trusted (the default: the
// operating-system account, or no login at all on an embedded server).
struct AdminLogin {
    bool trusted = true;
    QString user;
    QString password;
};
inline const QStringList AdminLoginValueOptions = {QStringLiteral("--user"),
                                                   QStringLiteral("--password")};
inline const QStringList AdminLoginFlagOptions = {QStringLiteral("--trusted")};
// False with `error` for --trusted together with --user or --password.
bool AdminLoginFrom(const AdminOptions& options, AdminLogin& login, QString& error);

// Writes a line of text to standard output.
void AdminPrint(const QString& text);
