#include "AdminCommand.h"

namespace {

const AdminOption kLoginOptions[] = {
    {"--user"}, {"--password"}, {"--password-file"}, {"--trusted", false}};

const AdminOption* findOption(const std::vector<AdminOption>& options, const QString& name) {
    for (const AdminOption& o : options)
        if (name == QLatin1String(o.name))
            return &o;
    return nullptr;
}

}  // namespace

void AdminIo::print(const QString& line) const {
    write(line.toLocal8Bit() + '\n');
}

void AdminIo::write(const QByteArray& bytes) const {
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), out);
}

void AdminIo::error(const QString& text) const {
    QString lines = text;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    while (lines.endsWith(QLatin1Char('\n')))
        lines.chop(1);
    for (const QString& line : lines.split(QLatin1Char('\n')))
        std::fprintf(err, "pendrill-admin: %s\n", line.toLocal8Bit().constData());
    std::fflush(err);
}

std::vector<AdminOption> AdminCommand::allOptions() const {
    std::vector<AdminOption> all = options;
    if (connection == AdminConnection::Server || connection == AdminConnection::ServerAndDatabase)
        all.push_back({"--server"});
    if (connection == AdminConnection::ServerAndDatabase)
        all.push_back({"--database"});
    if (connection != AdminConnection::None)
        all.insert(all.end(), std::begin(kLoginOptions), std::end(kLoginOptions));
    return all;
}

const AdminCommand* AdminGroup::find(const QString& word) const {
    for (const AdminCommand& c : commands)
        if (*c.name != '\0' && word == QLatin1String(c.name))
            return &c;
    return nullptr;
}

QString OneLine(const QString& text) {
    QString line = text;
    for (QChar& c : line) {
        const ushort u = c.unicode();
        // Controls, line and paragraph separators, and the marks that turn the direction of the
        // text (a name could make a line read backwards on a terminal).
        if (c.category() == QChar::Other_Control || u == 0x2028 || u == 0x2029 ||
            (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069))
            c = QLatin1Char('?');
    }
    return line;
}

bool ParseAdminArgs(const QStringList& args, const AdminCommand& command, AdminArgs* out,
                    bool* help, QString* error) {
    const std::vector<AdminOption> options = command.allOptions();
    *help = false;
    QString failure;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const qsizetype given = out->positional.size();
        const bool asGiven = command.lastArgAsGiven && given == command.maxArgs - 1;
        if (optionsEnded || asGiven || a == QLatin1String("-") || !a.startsWith('-')) {
            out->positional << a;
            continue;
        }
        if (a == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const qsizetype eq = a.startsWith(QLatin1String("--")) ? a.indexOf('=') : -1;
        const QString name = eq < 0 ? a : a.left(eq);
        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            *help = true;
            continue;
        }
        const AdminOption* option = findOption(options, name);
        if (option && option->onlyAtEnds && given != 0 && given != command.maxArgs) {
            out->positional << a;
            continue;
        }
        if (!failure.isEmpty())
            continue;  // the first error is reported; -h or --help may still follow
        if (!option) {
            failure = QStringLiteral("unknown option %1").arg(name);
        } else if (!option->takesValue) {
            if (eq >= 0)
                failure = QStringLiteral("option %1 takes no value").arg(name);
            else if (out->flags.contains(name))
                failure = QStringLiteral("option %1 given twice").arg(name);
            out->flags.insert(name);
        } else if (eq < 0 && i + 1 >= args.size()) {
            failure = QStringLiteral("option %1 needs a value").arg(name);
        } else if (out->values.contains(name) && !option->repeatable) {
            failure = QStringLiteral("option %1 given twice").arg(name);
        } else {
            out->values[name] << (eq >= 0 ? a.mid(eq + 1) : args.at(++i));
        }
    }
    if (!failure.isEmpty() && error)
        *error = OneLine(failure);
    return failure.isEmpty();
}
