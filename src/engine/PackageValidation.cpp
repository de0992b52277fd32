// The checks of a package document that need all of it, and the ${Name} references.

#include <QSet>
#include <algorithm>
#include <vector>

#include "engine/PackageDocument.h"
#include "util/Counted.h"

QString ExpandVariables(const QString& text,
                        const std::function<std::optional<QString>(const QString&)>& lookup,
                        QStringList* unknown) {
    QString out;
    out.reserve(text.size());
    const QStringView view(text);
    // Once a "${" has no '}' after it, no later one has: the rest is looked at for "$${" only,
    // so a text of many unclosed "${" costs one pass, not one pass each.
    bool closable = true;
    for (qsizetype i = 0; i < view.size();) {
        if (view.sliced(i).startsWith(u"$${")) {
            out += QLatin1String("${");
            i += 3;
            continue;
        }
        if (closable && view.sliced(i).startsWith(u"${")) {
            const qsizetype end = view.indexOf(QLatin1Char('}'), i + 2);
            if (end > 0) {
                const QString name = view.mid(i + 2, end - i - 2).trimmed().toString();
                if (const std::optional<QString> value = lookup(name))
                    out += *value;
                else if (unknown)
                    unknown->append(name);
                i = end + 1;
                continue;
            }
            closable = false;
        }
        out += view[i];
        ++i;
    }
    return out;
}

QStringList VariableReferences(const QString& text) {
    QStringList names;
    ExpandVariables(
        text, [](const QString&) { return std::optional<QString>(); }, &names);
    return names;
}

int CountParameterMarkers(const QString& sql) {
    int count = 0;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // A quoted literal or identifier; a doubled quote stays inside it.
            for (++i; i < sql.size(); ++i) {
                if (sql[i] == c) {
                    if (i + 1 < sql.size() && sql[i + 1] == c)
                        ++i;
                    else
                        break;
                }
            }
        } else if (c == QLatin1Char('-') && i + 1 < sql.size() && sql[i + 1] == QLatin1Char('-')) {
            while (i < sql.size() && sql[i] != QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('/') && i + 1 < sql.size() && sql[i + 1] == QLatin1Char('*')) {
            const qsizetype end = sql.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? sql.size() : end + 1;
        } else if (c == QLatin1Char('?')) {
            ++count;
        }
    }
    return count;
}

namespace {

class Validator {
  public:
    explicit Validator(const PackageDocument& doc) : doc_(doc) {}

    QStringList Run() {
        PackageName();
        Duplicates();
        for (const PackageConnection& c : doc_.connections) {
            for (const QString* field :
                 {&c.server, &c.database, &c.user, &c.password, &c.trusted, &c.directory})
                References(*field, QStringLiteral("connection '%1'").arg(c.name), c.line);
        }
        for (const PackageStep& step : doc_.steps)
            Step(step);
        Cycles();
        return errors_;
    }

  private:
    const PackageDocument& doc_;
    QStringList errors_;

    // The name makes the names of the package's log files: it may not leave the log directory
    // nor break a line.
    void PackageName() {
        const QString& name = doc_.name;
        const bool control = std::any_of(name.cbegin(), name.cend(), [](QChar c) {
            return c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
                   c == QChar::ParagraphSeparator;
        });
        if (control || name.contains(QLatin1Char('/')))
            errors_ << QStringLiteral("the package name must not hold '/' or control characters");
    }

    void Error(int line, const QString& text) {
        errors_ << QStringLiteral("line %1: %2").arg(line).arg(text);
    }

    template <typename T>
    void DuplicatesOf(const QList<T>& items, const QString& what) {
        QSet<QString> seen;
        for (const T& item : items) {
            const QString key = item.name.toLower();
            if (seen.contains(key))
                Error(item.line, QStringLiteral("%1 '%2' is defined twice").arg(what, item.name));
            seen.insert(key);
        }
    }

    void Duplicates() {
        DuplicatesOf(doc_.variables, QStringLiteral("global variable"));
        DuplicatesOf(doc_.connections, QStringLiteral("connection"));
        DuplicatesOf(doc_.steps, QStringLiteral("step"));
    }

    void References(const QString& text, const QString& where, int line) {
        for (const QString& name : VariableReferences(text)) {
            if (doc_.VariableIndex(name) < 0)
                Error(line,
                      QStringLiteral("%1 refers to unknown global variable '%2'").arg(where, name));
        }
    }

    // A connection that must exist; databases and directories are not interchangeable.
    enum class Need { Database, Directory };
    void Connection(const PackageStep& step, const QString& name, Need need) {
        const int index = doc_.ConnectionIndex(name);
        if (index < 0) {
            Error(
                step.taskLine,
                QStringLiteral("step '%1' refers to unknown connection '%2'").arg(step.name, name));
            return;
        }
        const PackageConnection& c = doc_.connections[index];
        if (c.IsDataLink())
            return;  // what it is becomes known when the data link is read
        if (need == Need::Database && c.IsDirectory())
            Error(step.taskLine, QStringLiteral("step '%1': connection '%2' is a directory, not a "
                                                "database")
                                     .arg(step.name, name));
        if (need == Need::Directory && !c.IsDirectory())
            Error(step.taskLine, QStringLiteral("step '%1': connection '%2' is a database, not a "
                                                "directory")
                                     .arg(step.name, name));
    }

    void Statement(const PackageStep& step, const SqlStatement& s) {
        for (const QString& p : s.parameters) {
            if (doc_.VariableIndex(p) < 0)
                Error(s.line, QStringLiteral("step '%1': parameter '%2' is not a global variable")
                                  .arg(step.name, p));
        }
        const int markers = CountParameterMarkers(s.text);
        if (markers != s.parameters.size())
            Error(s.line, QStringLiteral("step '%1': the statement has %2 but %3")
                              .arg(step.name, Counted(markers, "'?' marker", "'?' markers"),
                                   Counted(s.parameters.size(), "parameter", "parameters")));
    }

    void Step(const PackageStep& step) {
        const QString where = QStringLiteral("step '%1'").arg(step.name);
        if (const auto* t = std::get_if<ExecuteSqlTask>(&step.task)) {
            Connection(step, t->connection, Need::Database);
            for (const SqlStatement& s : t->statements)
                Statement(step, s);
        } else if (const auto* t = std::get_if<BulkInsertTask>(&step.task)) {
            Connection(step, t->connection, Need::Database);
            if (!t->fileConnection.isEmpty())
                Connection(step, t->fileConnection, Need::Directory);
            References(t->file, where, step.taskLine);
            References(t->table, where, step.taskLine);
        } else if (const auto* t = std::get_if<CopyRowsTask>(&step.task)) {
            Connection(step, t->source, Need::Database);
            Connection(step, t->destination, Need::Database);
            References(t->table, where, step.taskLine);
            Statement(step, t->query);
        } else if (const auto* t = std::get_if<RunProgramTask>(&step.task)) {
            References(t->program, where, step.taskLine);
            References(t->workingDirectory, where, step.taskLine);
            for (const QString& argument : t->arguments)
                References(argument, where, step.taskLine);
        }
        QSet<int> predecessors;
        for (const PrecedenceConstraint& p : step.precedence) {
            const int index = doc_.StepIndex(p.step);
            if (index < 0) {
                Error(
                    p.line,
                    QStringLiteral("step '%1' refers to unknown step '%2'").arg(step.name, p.step));
            } else if (doc_.steps[index].name.compare(step.name, Qt::CaseInsensitive) == 0) {
                Error(p.line, QStringLiteral("step '%1' cannot follow itself").arg(step.name));
            } else if (predecessors.contains(index)) {
                Error(p.line,
                      QStringLiteral("step '%1' follows step '%2' twice").arg(step.name, p.step));
            }
            predecessors.insert(index);
        }
    }

    // A step on the path of the search for cycles.
    struct Visit {
        int step;
        qsizetype next;  // its precedence constraint to follow next
    };

    // Depth-first search along the precedence constraints; every cycle found is reported once,
    // at the line of the step where the search entered it. The search keeps its own stack, so
    // that a package of a very long chain of steps cannot exhaust the program's.
    void Cycles() {
        const int n = static_cast<int>(doc_.steps.size());
        std::vector<int> state(static_cast<size_t>(n), 0);         // 0 new, 1 on the path, 2 done
        std::vector<size_t> pathIndex(static_cast<size_t>(n), 0);  // of a step on the path
        std::vector<Visit> path;
        auto enter = [&](int step) {
            state[static_cast<size_t>(step)] = 1;
            pathIndex[static_cast<size_t>(step)] = path.size();
            path.push_back({step, 0});
        };
        for (int first = 0; first < n; ++first) {
            if (state[static_cast<size_t>(first)] != 0)
                continue;
            enter(first);
            while (!path.empty()) {
                const int i = path.back().step;
                const QList<PrecedenceConstraint>& precedence = doc_.steps[i].precedence;
                if (path.back().next == precedence.size()) {
                    state[static_cast<size_t>(i)] = 2;
                    path.pop_back();
                    continue;
                }
                const int j = doc_.StepIndex(precedence[path.back().next++].step);
                if (j < 0 || j == i)
                    continue;
                if (state[static_cast<size_t>(j)] == 1)
                    Cycle(path, pathIndex[static_cast<size_t>(j)]);
                else if (state[static_cast<size_t>(j)] == 0)
                    enter(j);
            }
        }
    }

    // The cycle of the steps on `path` from position `from` back to the one there. A long one
    // is named by its first and last few steps.
    void Cycle(const std::vector<Visit>& path, size_t from) {
        constexpr size_t kShown = 4;
        const size_t length = path.size() - from;
        QStringList names;
        for (size_t k = from; k < path.size(); ++k) {
            if (length > 2 * kShown + 1 && k == from + kShown) {
                names << QStringLiteral("... %1 more ...").arg(length - 2 * kShown);
                k = path.size() - kShown - 1;
                continue;
            }
            names << doc_.steps[path[k].step].name;
        }
        names << doc_.steps[path[from].step].name;
        Error(doc_.steps[path[from].step].line,
              QStringLiteral("the precedence constraints form a cycle: %1")
                  .arg(names.join(QStringLiteral(" <- "))));
    }
};

}  // namespace

QStringList ValidatePackageDocument(const PackageDocument& document) {
    return Validator(document).Run();
}
