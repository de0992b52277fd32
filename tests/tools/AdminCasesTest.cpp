// pendrill-admin's commands written as case files, tests/tools/cases/*.case (the format: README.md
// there): one test per file and server, each in a private home, the commands run in this process
// through the command table (exec: runs the built program).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUuid>
#include <optional>

#include "AdminRun.h"
#include "config/SettingsStore.h"
#include "history/JobRecord.h"
#include "history/Repository.h"
#include "support/DataLinkWarehouse.h"
#include "support/TestPostgres.h"

using testsupport::ProcessResult;
using testsupport::readAll;

namespace {

const QString kCasesDir = QStringLiteral(PENDRILL_SOURCE_DIR "/tests/tools/cases/");

const QStringList kKeys = QStringLiteral(
                              "server write copy fifo chmod umask env setup sql history repository "
                              "stdin run exec refused capture "
                              "exit stdout stdout-has stdout-lacks stdout-starts stdout-last "
                              "stdout-count stderr stderr-has "
                              "stderr-lacks stderr-starts stderr-count json file file-has "
                              "file-lacks same absent exists mode "
                              "query")
                              .split(' ');

struct Line {
    QString server, key, value;  // server: the one server the line is for, or empty
    int number = 0;
};

// "key: value" lines, a line for one server written "embedded: key: value" or "postgres: ...";
// blank lines and lines starting with '#' are left out.
QList<Line> ReadCase(const QString& path) {
    QList<Line> lines;
    int number = 0;
    for (QString raw : QString::fromUtf8(readAll(path)).split('\n')) {
        ++number;
        while (raw.endsWith(' ') || raw.endsWith('\r'))
            raw.chop(1);
        if (raw.trimmed().isEmpty() || raw.startsWith('#'))
            continue;
        Line l{{}, {}, raw, number};
        for (bool server = true; server;) {
            const qsizetype colon = l.value.indexOf(':');
            l.key = l.value.left(colon);
            l.value = l.value.mid(colon + 1);
            if (l.value.startsWith(' '))
                l.value.remove(0, 1);
            server = l.key == "embedded" || l.key == "postgres";
            if (server)
                l.server = l.key;
            if (colon <= 0 || !(server || kKeys.contains(l.key)))
                ADD_FAILURE() << path.toStdString() << ":" << number
                              << ": no key: " << raw.toStdString();
        }
        lines.append(l);
    }
    return lines;
}

// The character of the escape at text[i] (after the backslash); moves i past it.
QString Escape(const QString& text, qsizetype& i) {
    const QChar c = text.at(i++);
    if (c == 'u') {
        i += 4;
        return QChar(text.mid(i - 4, 4).toUShort(nullptr, 16));
    }
    const qsizetype at = QStringLiteral("nrtae").indexOf(c);
    return at < 0 ? QString(c) : QString(QChar("\n\r\t\a\x1b"[at]));
}

QString Unescape(const QString& text) {
    QString s;
    for (qsizetype i = 0; i < text.size();)
        s += text.at(i) == '\\' && i + 1 < text.size() ? Escape(text, ++i) : QString(text.at(i++));
    return s;
}

// Words as a shell splits them: blanks between, double quotes keep blanks, escapes as above.
QStringList Words(const QString& text) {
    QStringList words;
    QString word;
    bool inWord = false, quoted = false;
    for (qsizetype i = 0; i < text.size();) {
        const QChar c = text.at(i++);
        if (c == ' ' && !quoted) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '"')
            quoted = !quoted;
        else
            word += c == '\\' && i < text.size() ? Escape(text, i) : QString(c);
    }
    if (inWord)
        words << word;
    return words;
}

// The two sides of "left = right", at the first " = " or (last) the last one.
std::pair<QString, QString> Sides(const QString& value, bool last = false) {
    if (value.endsWith(" ="))
        return {value.chopped(2), QString()};
    const qsizetype at = last ? value.lastIndexOf(" = ") : value.indexOf(" = ");
    if (at < 0)
        return {value, QString()};
    return {value.left(at), value.mid(at + 3)};
}

QString Render(const QJsonValue& v) {
    if (v.isDouble())
        return QString::number(v.toDouble());
    if (v.isBool())
        return v.toBool() ? "true" : "false";
    return v.isString() ? v.toString() : QStringLiteral("null");
}

// "#" (the number of elements) or "[FIELD=VALUE].FIELD" of a JSON array.
QString JsonAt(const QByteArray& json, const QString& path) {
    const QJsonArray array = QJsonDocument::fromJson(json).array();
    if (path == "#")
        return QString::number(array.size());
    const QRegularExpressionMatch m =
        QRegularExpression("^\\[(\\w+)=(.*)\\]\\.(\\w+)$").match(path);
    for (const QJsonValue& v : array)
        if (m.hasMatch() && Render(v[m.captured(1)]) == m.captured(2))
            return Render(v[m.captured(3)]);
    return QStringLiteral("(none)");
}

unsigned ModeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Records ending at 2026-03-10T12:00Z + i hours (i = 0 .. count-1), job "j<i % 3>", status i % 4,
// message "record i".
void FillHistory(int count) {
    const QDateTime base = QDateTime::fromString("2026-03-10T12:00:00Z", Qt::ISODate);
    Repository::Connection hold;  // one connection for all: no checkpoint per record
    ASSERT_TRUE(hold.Open()) << hold.LastError().toStdString();
    for (int i = 0; i < count; ++i) {
        JobRecord r;
        r.setJobIdentifier(QString("j%1").arg(i % 3));
        r.setStatus(i % 4);
        r.setMessage(QString("record %1").arg(i));
        r.setStartTime(base.addSecs(i * 3600 - 60));
        r.setEndTime(base.addSecs(i * 3600));
        ASSERT_TRUE(r.Close(4, "Pendrill"));
    }
}

// The process's umask and the environment variables a case sets, put back at its end.
struct Restore {
    ~Restore() {
        ::umask(mask);
        for (auto it = env.begin(); it != env.end(); ++it)
            it.value().isNull() ? void(qunsetenv(it.key())) : void(qputenv(it.key(), it.value()));
    }
    mode_t mask = ::umask(022);
    QMap<QByteArray, QByteArray> env;
};

// One case file on one server ("" when it names none).
class Case : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(Case, Run) {
    const QString server = QString::fromStdString(GetParam().second);
    const QList<Line> lines = ReadCase(kCasesDir + QString::fromStdString(GetParam().first));
    testsupport::IsolatedHome home;
    Restore restore;
    ::umask(restore.mask);
    std::unique_ptr<Warehouse> wh;
    QMap<QString, QString> vars = {{"HOME", home.path()},
                                   {"DATA", home.dataHome()},
                                   {"CONFIG", home.configHome()},
                                   {"SOURCE", PENDRILL_SOURCE_DIR},
                                   {"UNIQUE", QUuid::createUuid().toString(QUuid::Id128).left(12)}};
    if (!server.isEmpty()) {
        QString skip, error;
        wh = CreateDataLinkWarehouse(server == "postgres" ? Backend::PostgreSQL : Backend::Embedded,
                                     home, &skip, &error);
        if (!wh && !skip.isEmpty())
            GTEST_SKIP() << skip.toStdString();
        ASSERT_TRUE(wh) << error.toStdString();
        vars["WH"] = wh->server;
        vars["DB"] = wh->database;
        vars["USER"] = wh->user;
        vars["PASSWORD"] = wh->password;
        vars["LOGIN"] =
            wh->trusted ? "--trusted" : "--user " + wh->user + " --password " + wh->password;
        if (auto* pg = wh->trusted ? nullptr : testsupport::TestPostgres::shared(&error)) {
            vars["PGHOST"] = pg->host();
            vars["PGPORT"] = QString::number(pg->port());
        }
    }
    const auto expand = [&](QString s) {
        for (auto it = vars.keyValueBegin(); it != vars.keyValueEnd(); ++it)
            s.replace('$' + it->first, it->second);
        QRegularExpressionMatch m;
        while ((m = QRegularExpression("\\$\\{(\\d+)\\*(.)\\}").match(s)).hasMatch())
            s.replace(m.capturedStart(), m.capturedLength(),
                      m.captured(2).repeated(m.captured(1).toInt()));
        return s;
    };
    const auto text = [&](const QString& v) { return Unescape(expand(v)); };
    const auto at = [&](const QString& v) {
        const QString path = text(v);
        return QDir::isAbsolutePath(path) ? path : home.file(path);
    };
    const auto open = [&](const QString& v, QString* statement) {
        const QStringList w = expand(v).split(' ');
        *statement = w.mid(2).join(' ');
        if (wh && w.value(0) == wh->server)
            return wh->Open(w.value(1));
        auto c = std::make_unique<DbConnection>();
        c->Describe(w.value(0), w.value(1), true, {}, {});
        c->CreateMissingDatabase = true;
        c->Open();
        return c;
    };

    // The run the expectations are about; its exit status (0 unless given) and whole output
    // (the lines of all stdout: or stderr: keys; one empty value: none) are checked when the
    // next run starts.
    ProcessResult r;
    bool ran = false, exitGiven = false;
    QByteArray input;  // standard input of the next exec
    std::optional<QStringList> out, err;
    const auto whole = [](const std::optional<QStringList>& want, const QByteArray& got) {
        if (want) {
            EXPECT_EQ(got.toStdString(), *want == QStringList{""}
                                             ? std::string()
                                             : (want->join('\n') + '\n').toStdString());
        }
    };
    const auto close = [&] {
        if (ran && !exitGiven) {
            EXPECT_EQ(r.exitCode, 0) << r.err.constData();
        }
        whole(out, r.out);
        whole(err, r.err);
        ran = exitGiven = false;
        out.reset();
        err.reset();
    };

    for (const Line& l : lines) {
        if (!l.server.isEmpty() && l.server != server)
            continue;
        SCOPED_TRACE(GetParam().first + ":" + std::to_string(l.number));
        const QString v = l.value;
        const auto [left, right] =
            Sides(v, l.key == "query" || l.key == "json" || l.key.endsWith("-count"));
        const QString o = QString::fromUtf8(r.out), e = QString::fromUtf8(r.err);
        QString statement;
        if (l.key == "write" || l.key == "copy") {
            QDir().mkpath(QFileInfo(at(left)).path());
            QString content = text(right);
            if (l.key == "copy") {
                const QStringList w = Words(expand(right));
                content = expand(QString::fromUtf8(readAll(kCasesDir + w.value(0))));
                for (const QString& set : w.mid(1))
                    content.replace('$' + set.section('=', 0, 0), set.section('=', 1));
            }
            ASSERT_TRUE(testsupport::writeAll(at(left), content.toUtf8()));
        } else if (l.key == "fifo") {
            ASSERT_EQ(::mkfifo(QFile::encodeName(at(v)).constData(), 0600), 0);
        } else if (l.key == "chmod") {
            ASSERT_EQ(::chmod(QFile::encodeName(at(v.section(' ', 1))).constData(),
                              v.section(' ', 0, 0).toUInt(nullptr, 8)),
                      0);
        } else if (l.key == "umask") {
            ::umask(v.toUInt(nullptr, 8));
        } else if (l.key == "env") {
            const QByteArray name = v.section('=', 0, 0).toLatin1();
            if (!restore.env.contains(name))
                restore.env.insert(name,
                                   qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
            qputenv(name, text(v.section('=', 1)).toUtf8());
        } else if (l.key == "setup") {
            const ProcessResult s = testsupport::admin(Words(expand(v)));
            ASSERT_EQ(s.exitCode, 0) << s.err.constData() << s.out.constData();
        } else if (l.key == "sql") {
            const auto c = open(v, &statement);
            ASSERT_TRUE(c->Execute(statement)) << c->ErrorText().toStdString();
        } else if (l.key == "query") {
            const auto c = open(left, &statement);
            DbRecordset rs;
            ASSERT_TRUE(rs.Open(statement, *c)) << rs.LastError().toStdString();
            QStringList rows;
            for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
                QStringList fields;
                for (int i = 0; i < rs.FieldCount(); ++i)
                    fields << rs.Field(i).toString();
                rows << fields.join('|');
            }
            EXPECT_EQ(rows.join("; ").toStdString(), text(right).toStdString());
        } else if (l.key == "stdin") {
            input = text(v).toUtf8();
        } else if (l.key == "history") {
            FillHistory(v.toInt());
        } else if (l.key == "repository") {
            ASSERT_TRUE(WriteRegistryValue(Repository::RepositoryLocationKey,
                                           Repository::RepositoryLocationValue, text(v)));
        } else if (l.key == "run" || l.key == "exec" || l.key == "refused") {
            close();
            const QStringList args =
                Words(expand(l.key == "refused" ? v.section(" | ", 0, -2) : v));
            r = l.key == "exec" ? testsupport::runProgram("pendrill-admin", args, input)
                                : testsupport::admin(args);
            input.clear();
            ran = true;
            if (l.key == "refused") {
                const QString reason = text(v.section(" | ", -1)), said = testsupport::err(r);
                EXPECT_EQ(r.exitCode, 2) << said.toStdString();
                EXPECT_TRUE(said.startsWith("pendrill-admin: ") && said.count('\n') == 1 &&
                            said.contains(reason) && r.out.isEmpty())
                    << reason.toStdString() << " in: " << said.toStdString();
                exitGiven = true;
            }
        } else if (l.key == "capture") {
            const QRegularExpressionMatch m = QRegularExpression(right).match(o);
            EXPECT_TRUE(m.hasMatch()) << right.toStdString() << " in " << o.toStdString();
            vars.insert(left, m.captured(1));
        } else if (l.key == "exit") {
            exitGiven = true;
            EXPECT_EQ(r.exitCode, v.toInt()) << r.err.constData();
        } else if (l.key == "stdout" || l.key == "stderr") {
            std::optional<QStringList>& lines = l.key == "stdout" ? out : err;
            lines = lines.value_or(QStringList()) << text(v);
        } else if (l.key == "file-has" || l.key == "file-lacks") {
            const QString f = QString::fromUtf8(readAll(at(left)));
            EXPECT_EQ(f.contains(text(right)), l.key == "file-has")
                << text(right).toStdString() << " in:\n"
                << f.toStdString();
        } else if (l.key.endsWith("-has") || l.key.endsWith("-lacks") ||
                   l.key.endsWith("-starts")) {
            const QString& got = l.key.startsWith("stdout") ? o : e;
            const bool found =
                l.key.endsWith("-starts") ? got.startsWith(text(v)) : got.contains(text(v));
            EXPECT_EQ(found, !l.key.endsWith("-lacks")) << text(v).toStdString() << " in:\n"
                                                        << got.toStdString();
        } else if (l.key == "stdout-last") {
            EXPECT_EQ(o.section('\n', -2, -2).toStdString(), text(v).toStdString());
        } else if (l.key.endsWith("-count")) {
            auto it = QRegularExpression(left, QRegularExpression::MultilineOption)
                          .globalMatch(l.key.startsWith("stdout") ? o : e);
            int n = 0;
            for (; it.hasNext(); it.next())
                ++n;
            EXPECT_EQ(n, right.toInt()) << left.toStdString() << " in:\n" << o.toStdString();
        } else if (l.key == "json") {
            EXPECT_EQ(JsonAt(r.out, text(left)).toStdString(), text(right).toStdString());
        } else if (l.key == "file") {
            EXPECT_EQ(QString::fromUtf8(readAll(at(left))).toStdString(),
                      text(right).toStdString());
        } else if (l.key == "same") {
            EXPECT_TRUE(QFile::exists(at(left)));
            EXPECT_EQ(readAll(at(left)), readAll(at(right)));
        } else if (l.key == "absent" || l.key == "exists") {
            EXPECT_EQ(QFileInfo::exists(at(v)), l.key == "exists") << at(v).toStdString();
        } else if (l.key == "mode") {
            EXPECT_EQ(ModeOf(at(left)), right.toUInt(nullptr, 8)) << left.toStdString();
        }
    }
    close();
}

// Each file once, or once per server its "server:" line names ("every": embedded and postgres).
std::vector<std::pair<std::string, std::string>> CaseFiles() {
    std::vector<std::pair<std::string, std::string>> cases;
    for (const QString& name : QDir(kCasesDir).entryList({"*.case"}, QDir::Files, QDir::Name)) {
        QStringList servers{QString()};
        for (const Line& l : ReadCase(kCasesDir + name))
            if (l.key == "server")
                servers =
                    l.value == "every" ? QStringList{"embedded", "postgres"} : QStringList{l.value};
        for (const QString& s : servers)
            cases.emplace_back(name.toStdString(), s.toStdString());
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(
    AdminCases, Case, ::testing::ValuesIn(CaseFiles()),
    [](const ::testing::TestParamInfo<std::pair<std::string, std::string>>& info) {
        QString name = QString::fromStdString(info.param.first).chopped(5);
        if (!info.param.second.empty())
            name += '_' + QString::fromStdString(info.param.second);
        return name.replace(QRegularExpression("[^A-Za-z0-9]"), "_").toStdString();
    });

}  // namespace
