// The command line of pendrill-admin, from its command table: one parser for every command, help
// at every level, one line and exit status 2 for a wrong option, and a bash completion that
// offers what the table holds.
#include <gtest/gtest.h>

#include <QProcess>
#include <QSet>

#include "AdminRun.h"

using testsupport::admin;

namespace {

QString label(const AdminGroup& g, const AdminCommand& c) {
    return QString::fromLatin1(g.name) + (*c.name ? QStringLiteral(" ") + c.name : QString());
}

QStringList words(const AdminGroup& g, const AdminCommand& c) {
    QStringList w{QString::fromLatin1(g.name)};
    if (*c.name)
        w << QString::fromLatin1(c.name);
    return w;
}

// What the installed completion offers for the command line `line` (the word being completed
// last).
QSet<QString> completed(const QStringList& line) {
    const QStringList script = {
        "--norc",
        "--noprofile",
        "-c",
        "source \"$1\"; shift; COMP_WORDS=(pendrill-admin \"$@\"); COMP_CWORD=$#; "
        "_pendrill_admin; printf '%s\\n' \"${COMPREPLY[@]}\"",
        "_",
        PENDRILL_SOURCE_DIR "/data/completion/pendrill-admin.bash"};
    QProcess bash;
    bash.start("bash", script + line);
    EXPECT_TRUE(bash.waitForFinished(10000));
    const QStringList offered =
        QString::fromUtf8(bash.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    return QSet<QString>(offered.begin(), offered.end());
}

}  // namespace

TEST(AdminCommandLine, OptionsAreParsedAlikeEverywhere) {
    AdminCommand c{"x"};
    c.connection = AdminConnection::ServerAndDatabase;
    c.options = {{"--model"}, {"--null", true, true}, {"--json", false}, {"-o"}};
    c.maxArgs = 3;
    AdminCommand set{"set"};
    set.options = {{"--force", false, false, true}};
    set.minArgs = set.maxArgs = 4;
    set.lastArgAsGiven = true;
    const struct {
        const AdminCommand& command;
        QStringList args;
        QString parsed;  // "option=value ... | flags | positional", or the error
        bool help = false;
    } cases[] = {
        {c, {"--server=S", "--database", "D", "--model="}, "--database=D --model= --server=S||"},
        {c, {"--null", "a", "--null=b", "-o", "-x"}, "--null=a --null=b -o=-x||"},
        {c, {"a", "--json", "--", "--model", "-h"}, "|--json|a --model -h"},
        {c, {"-", "--json", "b"}, "|--json|- b"},
        {c, {"--user", "u", "--trusted", "--password=p"}, "--password=p --user=u|--trusted|"},
        {c, {"--bogus", "a"}, "unknown option --bogus"},
        {c, {"--bo\ngus=1"}, "unknown option --bo?gus"},
        {c, {"-x"}, "unknown option -x"},
        {c, {"a", "--model"}, "option --model needs a value"},
        {c, {"--json=yes"}, "option --json takes no value"},
        {c, {"--model", "a", "--model=b"}, "option --model given twice"},
        {c, {"--json", "a", "--json"}, "option --json given twice"},
        {c, {"--bogus", "--help"}, "unknown option --bogus", true},
        {c, {"a", "-h"}, "||a", true},
        {set, {"--force", "f", "s", "k", "--help"}, "|--force|f s k --help"},
        {set, {"f", "s", "k", "-5", "--force"}, "|--force|f s k -5"},
        {set, {"f", "--force", "k", "v"}, "||f --force k v"},
        {set, {"f", "-h", "k", "v"}, "||f k v", true},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.args.join(' ').toStdString());
        AdminArgs args;
        bool help = false;
        QString error;
        QString parsed = error;
        if (ParseAdminArgs(t.args, t.command, &args, &help, &error)) {
            QStringList values, flags(args.flags.begin(), args.flags.end());
            for (auto it = args.values.begin(); it != args.values.end(); ++it)
                for (const QString& v : it.value())
                    values << it.key() + '=' + v;
            flags.sort();
            parsed = values.join(' ') + '|' + flags.join(' ') + '|' + args.positional.join(' ');
        } else {
            parsed = error;
        }
        EXPECT_EQ(parsed, t.parsed);
        EXPECT_EQ(help, t.help);
    }
}

// Every level answers -h and --help with its usage on standard output; every command refuses an
// unknown option and a missing value with one line naming it; every command that connects takes
// --server=S.
TEST(AdminCommandLine, EveryCommandOfTheTable) {
    testsupport::IsolatedHome home;
    for (const char* help : {"-h", "--help"}) {
        const auto top = admin({help});
        EXPECT_EQ(top.exitCode, 0);
        EXPECT_TRUE(top.out.startsWith("Usage: pendrill-admin COMMAND"));
        for (const AdminGroup& g : AdminGroups()) {
            const auto r = admin({g.name, help});
            EXPECT_EQ(r.exitCode, 0) << g.name;
            EXPECT_EQ(r.out, QByteArray(g.usage)) << g.name;
            for (const AdminCommand& c : g.commands) {
                SCOPED_TRACE(label(g, c).toStdString());
                const auto r = admin(words(g, c) << "--bogus" << help);
                EXPECT_EQ(r.exitCode, 0);
                EXPECT_EQ(r.out, QByteArray(c.usage ? c.usage : g.usage));
                EXPECT_TRUE(r.err.isEmpty());
            }
        }
    }
    for (const AdminGroup& g : AdminGroups()) {
        for (const AdminCommand& c : g.commands) {
            SCOPED_TRACE(label(g, c).toStdString());
            QStringList wrong[] = {words(g, c) << "--bogus=1", {}};
            for (const AdminOption& o : c.allOptions())
                if (o.takesValue)
                    wrong[1] = words(g, c) << QString::fromLatin1(o.name);
            for (const QStringList& args : wrong) {
                if (args.isEmpty())
                    continue;
                const auto r = admin(args);
                EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
                EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
                EXPECT_TRUE(r.err.contains(args.last().section('=', 0, 0).toUtf8()));
            }
            if (c.connection != AdminConnection::Server &&
                c.connection != AdminConnection::ServerAndDatabase)
                continue;
            QStringList args = words(g, c);
            for (int i = 0; i < c.minArgs; ++i)
                args << "X";
            for (const QString& option : c.required)
                if (option != "--server")
                    args << option + "=X";
            const auto r = admin(args << "--server=");
            EXPECT_EQ(r.exitCode, 2);
            EXPECT_TRUE(r.err.contains("server name must not be empty")) << r.err.constData();
        }
    }
}

// The completion script offers each command's options as the table has them.
TEST(AdminCommandLine, CompletionFollowsTheTable) {
    QSet<QString> groups{"--help", "--version"};
    for (const AdminGroup& g : AdminGroups()) {
        groups << g.name;
        QSet<QString> commands{"--help"};
        for (const AdminCommand& c : g.commands) {
            SCOPED_TRACE(label(g, c).toStdString());
            if (*c.name)
                commands << c.name;
            QSet<QString> options{"--help"};
            for (const AdminOption& o : c.allOptions())
                if (QByteArray(o.name).startsWith("--"))
                    options << o.name;
            // config set offers its options after FILE.
            const QStringList file =
                g.name == QByteArray("config") ? QStringList{"x.etl"} : QStringList{};
            EXPECT_EQ(completed(words(g, c) + file << "--"), options);
        }
        if (g.name != QByteArray("history")) {
            EXPECT_EQ(completed({g.name, ""}), commands) << g.name;
        }
    }
    EXPECT_EQ(completed({""}), groups);
}
