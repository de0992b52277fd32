// The end-to-end runs written as scenario files, tests/app/runs/*.run (the format: README.md
// there): one test per file, each in a private home with the embedded server.

#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>

#include "RunJob.h"

using testsupport::readAll;

namespace {

const QString kRunsDir = QStringLiteral(PENDRILL_SOURCE_DIR "/tests/app/runs/");

const QStringList kKeys = QStringLiteral(
                              "warehouse admin package sql write remove config env args exit "
                              "status stdout stdout-has stdout-contains stdout-last stderr "
                              "stderr-starts stderr-has log-head log-lines log-last log-has "
                              "contents same absent query datalink records record summary exists")
                              .split(' ');

struct Line {
    QString key, value;
};

// "key: value" lines; blank lines and lines starting with '#' are left out.
QList<Line> ReadScenario(const QString& path) {
    QList<Line> lines;
    for (const QString& raw : QString::fromUtf8(readAll(path)).split('\n')) {
        const QString line = raw.trimmed();
        const qsizetype colon = line.indexOf(':');
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        EXPECT_TRUE(colon > 0 && kKeys.contains(line.left(colon)))
            << "no key: " << line.toStdString();
        lines.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    return lines;
}

// The two sides of "left = right".
std::pair<QString, QString> Sides(const QString& value) {
    const qsizetype at = value.indexOf(" =");
    if (at < 0)
        return {value, QString()};
    return {value.left(at), value.mid(at + 2).trimmed()};
}

QString Steps(const QString& kind) {
    const auto sql = [](const char* statement) {
        return QString(
                   "<Step name=\"%1\"><ExecuteSql connection=\"Warehouse\"><Statement>%2"
                   "</Statement></ExecuteSql></Step>")
            .arg(QString(statement).startsWith("SELECT 1") ? "One" : "Bad", statement);
    };
    if (kind == "select")
        return sql("SELECT 1");
    if (kind == "bad")
        return sql("SELECT * FROM no_such_table");
    if (kind == "load")
        return runjob::LoadFileSteps("rows.csv");
    EXPECT_EQ(kind, "none");
    return {};
}

QString Render(const QJsonValue& v) {
    if (v.isNull() || v.isUndefined())
        return "null";
    if (v.isDouble())
        return QString::number(v.toDouble());
    if (v.isBool())
        return v.toBool() ? "true" : "false";
    return v.toString();
}

QString Lines(const QStringList& values) {
    QString text;
    for (const QString& v : values)
        if (!v.isEmpty())
            text += v + "\n";
    return text;
}

class Scenario : public ::testing::TestWithParam<std::string> {};

TEST_P(Scenario, Run) {
    const QList<Line> lines = ReadScenario(kRunsDir + QString::fromStdString(GetParam()));
    ASSERT_FALSE(lines.isEmpty());
    testsupport::IsolatedHome home;
    runjob::Job job(home);
    const QString files = home.file("files/"), configFile = home.file("run.etl");
    QDir().mkpath(files);
    testsupport::writeAll(files + "rows.csv", "1;alpha\n2;beta\n3;gamma\n");
    const auto expand = [&](QString s) {
        return s.replace("$FILES", files)
            .replace("$CONFIG", configFile)
            .replace("$DATA", home.dataHome())
            .replace("$HOME", home.path())
            .replace("$TODAY",
                     QLocale(QLocale::English).toString(QDate::currentDate(), "dddd, MMM d yyyy"))
            .replace("\\r", "\r")
            .replace("\\n", "\n");
    };
    const auto at = [&](const QString& p) {
        const QString path = expand(p);
        return QDir::isAbsolutePath(path) ? path : home.file(path);
    };
    const auto words = [&](const QString& v) { return QProcess::splitCommand(expand(v)); };

    // The set-up, in the order written.
    runjob::Config config = job.Standard(QString());
    QStringList args;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const Line& l : lines) {
        const QString v = expand(l.value);
        if (l.key == "warehouse" && v == "empty") {
            job.EmptyWarehouse();
        } else if (l.key == "warehouse") {
            ASSERT_TRUE(job.InitWarehouse() &&
                        job.AddDataLink(v, "Files", {"--type", "3", "--ds-directory", "/old/"}));
        } else if (l.key == "admin") {
            const QStringList w = words(l.value);
            ASSERT_TRUE(job.Admin(w.first(), w.mid(1)));
        } else if (l.key == "package") {
            const QStringList w = v.split(' ', Qt::SkipEmptyParts);
            ASSERT_GE(w.size(), 2) << v.toStdString();
            QStringList leaveOut;
            for (const QString& o : w.mid(2))
                if (o.startsWith('-'))
                    leaveOut << o.mid(1);
            QString xml = runjob::PackageXml(w[0], Steps(w[1]), leaveOut);
            if (w.contains("nofiles"))
                xml.remove(QStringLiteral("<Connection name=\"Files\" dataLink=\"Files\"/>"));
            ASSERT_TRUE(job.StorePackage(xml));
        } else if (l.key == "sql") {
            ASSERT_TRUE(job.Exec(v.section(' ', 1), v.section(' ', 0, 0))) << v.toStdString();
        } else if (l.key == "write") {
            const auto [path, text] = Sides(l.value);
            QDir().mkpath(QFileInfo(at(path)).path());
            ASSERT_TRUE(testsupport::writeAll(at(path), expand(text).toUtf8()));
        } else if (l.key == "remove") {
            if (QFileInfo(at(l.value)).isDir())
                QDir(at(l.value)).removeRecursively();
            else
                QFile::remove(at(l.value));
        } else if (l.key == "config") {
            const QString name = v.section('=', 0, 0), value = v.section('=', 1);
            if (name == "package")
                config.package = value;
            else if (name == "truncate")
                config.truncate = value == "TRUE";
            else if (name == "dwServer")
                config.dwServer = value;
            else if (name == "dtsServer")
                config.dtsServer = value;
            else if (name == "extra")
                config.extra += value;
            else if (name == "section")
                config.extra +=
                    runjob::FlatFileSection(value.section(' ', 0, 0), value.section(' ', 1), files);
            else
                ADD_FAILURE() << "unknown config key " << name.toStdString();  // NOLINT
        } else if (l.key == "env" && v == "cron") {
            env = QProcessEnvironment();
            env.insert("HOME", home.path());
            env.insert("PATH", "/usr/bin:/bin");
            env.insert("XDG_CONFIG_HOME", home.configHome());
            env.insert("XDG_DATA_HOME", home.dataHome());
        } else if (l.key == "env" && v.startsWith('-')) {
            env.remove(v.mid(1));
        } else if (l.key == "env") {
            env.insert(v.section('=', 0, 0), v.section('=', 1));
        } else if (l.key == "args") {
            args += words(l.value);
        }
    }
    job.WriteConfig("run.etl", config);

    const auto r = job.Pendrill(args, env);
    ASSERT_FALSE(r.timedOut);
    const QString out = QString::fromUtf8(r.out), err = QString::fromUtf8(r.err);
    const QStringList outLines = out.split('\n', Qt::SkipEmptyParts);
    const QStringList log = runjob::LogLines(home.file("run.log"));
    const QJsonArray history = job.History();
    SCOPED_TRACE("stderr: " + err.toStdString());
    SCOPED_TRACE("run log: " + log.join('|').toStdString());

    // The expectations.
    QStringList stdoutText, stderrText, logHead, logBlock;
    bool stdoutGiven = false, stderrGiven = false;
    for (const Line& l : lines) {
        const QString v = expand(l.value);
        const auto [left, right] = Sides(l.value);
        if (l.key == "exit") {
            EXPECT_EQ(r.exitCode, v.toInt());
        } else if (l.key == "status") {
            EXPECT_EQ(readAll(home.file("status")), (v + "\r\n").toUtf8());
        } else if (l.key == "stdout") {
            stdoutGiven = true;
            stdoutText << v;
        } else if (l.key == "stdout-has") {
            EXPECT_TRUE(outLines.contains(v)) << v.toStdString() << " in\n" << out.toStdString();
        } else if (l.key == "stdout-contains") {
            EXPECT_TRUE(out.contains(v)) << v.toStdString();
        } else if (l.key == "stdout-last") {
            EXPECT_EQ(outLines.value(outLines.size() - 1).toStdString(), v.toStdString());
        } else if (l.key == "stderr") {
            stderrGiven = true;
            stderrText << v;
        } else if (l.key == "stderr-starts") {
            EXPECT_TRUE(err.startsWith(v) && err.count('\n') == 1) << v.toStdString();
        } else if (l.key == "stderr-has") {
            EXPECT_TRUE(err.contains(v)) << v.toStdString();
        } else if (l.key == "log-head") {
            logHead << v;
        } else if (l.key == "log-lines") {
            logBlock << v;
        } else if (l.key == "log-last") {
            EXPECT_EQ(log.value(log.size() - 1).toStdString(), v.toStdString());
        } else if (l.key == "log-has") {
            EXPECT_TRUE(log.join("\r\n").contains(v)) << v.toStdString();
        } else if (l.key == "contents") {
            EXPECT_EQ(readAll(at(left)).toStdString(), expand(right).toStdString())
                << left.toStdString();
        } else if (l.key == "same") {
            EXPECT_TRUE(QFile::exists(at(left)));
            EXPECT_EQ(readAll(at(left)), readAll(at(right))) << v.toStdString();
        } else if (l.key == "absent") {
            EXPECT_FALSE(QFileInfo::exists(at(l.value))) << v.toStdString();
        } else if (l.key == "exists") {
            EXPECT_TRUE(QFileInfo::exists(at(l.value))) << v.toStdString();
        } else if (l.key == "query") {
            EXPECT_EQ(job.Count(expand(left)), right.toInt()) << left.toStdString();
        } else if (l.key == "datalink") {
            EXPECT_EQ(job.DataLinkDirectory(left).toStdString(), expand(right).toStdString());
        } else if (l.key == "records") {
            ASSERT_EQ(history.size(), v.toInt());
        } else if (l.key == "record" || l.key == "summary") {
            const QString name = v.section('=', 0, 0), want = v.section('=', 1);
            const QJsonObject rec =
                l.key == "record"
                    ? history.at(0).toObject()
                    : QJsonDocument::fromJson(readAll(home.file("summary.json"))).object();
            const QRegularExpressionMatch m =
                QRegularExpression("^(\\w+)(?:\\[(\\d+)\\](?:\\.(\\w+))?)?(#)?$").match(name);
            ASSERT_TRUE(m.hasMatch()) << name.toStdString();
            QJsonValue field = rec.value(m.captured(1));
            if (!m.captured(2).isEmpty())
                field = field.toArray().at(m.captured(2).toInt());
            if (!m.captured(3).isEmpty())
                field = field.toObject().value(m.captured(3));
            const QString got =
                m.captured(4).isEmpty() ? Render(field) : QString::number(field.toArray().size());
            EXPECT_TRUE(want == "*" ? !got.isEmpty() && got != "null" : got == want)
                << name.toStdString() << ": " << got.toStdString();
        }
    }
    if (stdoutGiven) {
        EXPECT_EQ(out.toStdString(), Lines(stdoutText).toStdString());
    }
    if (stderrGiven) {
        EXPECT_EQ(err.toStdString(), Lines(stderrText).toStdString());
    }
    for (int i = 0; i < logHead.size(); ++i) {
        const QString& want = logHead[i];
        EXPECT_TRUE(want.endsWith('*') ? log.value(i).startsWith(want.chopped(1))
                                       : log.value(i) == want)
            << "run-log line " << i + 1 << ": " << log.value(i).toStdString();
    }
    if (!logBlock.isEmpty()) {
        EXPECT_TRUE(
            ("\r\n" + log.join("\r\n") + "\r\n").contains("\r\n" + logBlock.join("\r\n") + "\r\n"))
            << logBlock.join('|').toStdString();
    }
}

std::vector<std::string> ScenarioFiles() {
    std::vector<std::string> names;
    for (const QString& name : QDir(kRunsDir).entryList({"*.run"}, QDir::Files, QDir::Name))
        names.push_back(name.toStdString());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Runs, Scenario, ::testing::ValuesIn(ScenarioFiles()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return QString::fromStdString(info.param)
                                 .chopped(4)
                                 .replace(QRegularExpression("[^A-Za-z0-9]"), "_")
                                 .toStdString();
                         });

}  // namespace
