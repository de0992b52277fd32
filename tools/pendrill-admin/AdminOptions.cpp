#include "AdminOptions.h"

#include <cstdio>

bool ParseAdminOptions(const QStringList& args, qsizetype first, const QStringList& valueOptions,
                       const QStringList& flagOptions, AdminOptions& out, QString& error,
                       const QStringList& repeatable) {
    for (qsizetype i = first; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (flagOptions.contains(a)) {
            out.flags.insert(a);
        } else if (valueOptions.contains(a)) {
            if (i + 1 >= args.size()) {
                error = QStringLiteral("option %1 needs a value").arg(a);
                return false;
            }
            if (out.values.contains(a) && !repeatable.contains(a)) {
                error = QStringLiteral("option %1 given twice").arg(a);
                return false;
            }
            out.values[a] << args.at(++i);
        } else if (a.startsWith(QLatin1String("--"))) {
            error = QStringLiteral("unknown option %1").arg(a);
            return false;
        } else {
            error = QStringLiteral("unexpected argument '%1'").arg(a);
            return false;
        }
    }
    return true;
}

bool AdminLoginFrom(const AdminOptions& options, AdminLogin& login, QString& error) {
    const bool named =
        options.has(QStringLiteral("--user")) || options.has(QStringLiteral("--password"));
    if (named && options.has(QStringLiteral("--trusted"))) {
        error = QStringLiteral("--trusted cannot go with --user or --password");
        return false;
    }
    login.trusted = !named;
    login.user = options.value(QStringLiteral("--user"));
    login.password = options.value(QStringLiteral("--password"));
    return true;
}

void AdminPrint(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
}
