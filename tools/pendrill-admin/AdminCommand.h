#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <vector>

// The parts every pendrill-admin command is made of: where it writes, the options it takes, what
// its command line gave, and its entry in the command table of its group.

// Where a command writes: its output and its messages. The program passes standard output and
// standard error; tests pass files of their own.
struct AdminIo {
    FILE* out = stdout;
    FILE* err = stderr;

    // A line of text on `out`.
    void print(const QString& line) const;
    // Bytes as they are on `out`.
    void write(const QByteArray& bytes) const;
    // "pendrill-admin: <text>" on `err`, every line of a text of several lines so prefixed, so
    // that each one read alone (or found by grep in a log) tells where it came from.
    void error(const QString& text) const;
};

// An option of a command: a flag "--name", or "--name VALUE" (also "--name=VALUE").
struct AdminOption {
    const char* name;
    bool takesValue = true;
    bool repeatable = false;  // a value option that may be given more than once
    // Taken as an option only before the command's first argument or after its last one, so that
    // an argument in between may be any text (config set --force).
    bool onlyAtEnds = false;
};

// What a command line gave: the values of options in the order given, the flags, and the
// arguments that are no options.
struct AdminArgs {
    QMap<QString, QStringList> values;
    QSet<QString> flags;
    QStringList positional;

    bool has(const QString& name) const { return values.contains(name) || flags.contains(name); }
    QString value(const QString& name) const { return values.value(name).value(0); }
    // The value given last, of an option that may be repeated.
    QString last(const QString& name) const {
        const QStringList given = values.value(name);
        return given.isEmpty() ? QString() : given.last();
    }
};

// The login to a server: --user U [--password P], or --trusted (the default: the
// operating-system account, or no login at all on an embedded server).
struct AdminLogin {
    bool trusted = true;
    QString user;
    QString password;
};

// A command's parsed command line, with the connection options of a command that reaches a
// database server.
struct AdminInvocation {
    AdminArgs args;
    QString server;
    QString database;
    AdminLogin login;
};

// Which of the shared connection options a command takes beside its own: LOGIN (--user,
// --password, --trusted), --server and --database.
enum class AdminConnection { None, Login, Server, ServerAndDatabase };

// One command of a group ("datalink list"): its options, its arguments and how it runs.
struct AdminCommand {
    const char* name;  // "" for the command a group runs without a command word (history)
    AdminConnection connection = AdminConnection::None;
    std::vector<AdminOption> options = {};  // its own, beside the connection options
    int minArgs = 0;
    int maxArgs = 0;
    // The last argument is taken as it is, even when it looks like an option (config set VALUE).
    bool lastArgAsGiven = false;
    // Wrong number of arguments: the group's usage on standard error (else one line).
    bool usageOnWrongArgs = false;
    const char* missingArgText = nullptr;  // one line when an argument is missing
    QStringList required = {};             // options it cannot go without, checked in this order
    QStringList mayBeEmpty = {};  // name options that only read, where an empty name is one too
    const char* usage = nullptr;  // its own usage text; otherwise the group's is printed
    const char* errorPrefix = nullptr;  // before each wrong-usage line ("history: ")
    int (*run)(const AdminInvocation&, const AdminIo&) = nullptr;

    // Every option it takes: its own and its connection options.
    std::vector<AdminOption> allOptions() const;
};

// A command group ("datalink"): its usage text and its commands.
struct AdminGroup {
    const char* name;
    const char* usage;
    std::vector<AdminCommand> commands = {};
    // One line for an unknown command word ("%1": the word); without it, the usage on standard
    // error.
    const char* unknownCommandText = nullptr;

    const AdminCommand* find(const QString& name) const;
};

// Parses the arguments of `command`: "--name VALUE", "--name=VALUE", flags, "--" (the rest are
// arguments), -h and --help. False with `error` (one line naming the option) for an unknown
// option, a missing value, a value to a flag or a value option given twice; `help` tells whether
// -h or --help was given (then the caller prints the usage, whatever else is wrong). The number
// of arguments is the caller's to check.
bool ParseAdminArgs(const QStringList& args, const AdminCommand& command, AdminArgs* out,
                    bool* help, QString* error);

// The text made one line: control characters (an echoed line break or escape sequence) as '?'.
QString OneLine(const QString& text);
