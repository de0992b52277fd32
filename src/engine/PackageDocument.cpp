#include "engine/PackageDocument.h"

#include <QXmlStreamReader>
#include <initializer_list>

namespace {

bool ParseBooleanText(const QString& text, bool* value) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("1")) {
        *value = true;
        return true;
    }
    if (t == QLatin1String("false") || t == QLatin1String("0")) {
        *value = false;
        return true;
    }
    return false;
}

QStringList SplitNames(const QString& text) {
    QStringList names;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (!part.trimmed().isEmpty())
            names << part.trimmed();
    }
    return names;
}

class Parser {
  public:
    Parser(const QByteArray& xml, PackageDocument* doc, QStringList* errors)
        : reader_(xml), doc_(doc), errors_(errors) {}

    void Run() {
        if (reader_.readNextStartElement()) {
            if (reader_.name() == QLatin1String("Package"))
                ReadPackage();
            else
                Error(QStringLiteral("the document element must be <Package>, not <%1>")
                          .arg(reader_.name().toString()));
        }
        // Nothing but comments and white space may follow the document element: the reader
        // says so when it reads on to the end.
        while (!reader_.hasError() && !reader_.atEnd())
            reader_.readNext();
        if (reader_.hasError()) {
            // Whatever was found before the document broke off is of no help.
            errors_->clear();
            errors_->append(QStringLiteral("line %1, column %2: %3")
                                .arg(reader_.lineNumber())
                                .arg(reader_.columnNumber())
                                .arg(reader_.errorString()));
        }
    }

  private:
    QXmlStreamReader reader_;
    PackageDocument* doc_;
    QStringList* errors_;

    int Line() const { return static_cast<int>(reader_.lineNumber()); }
    void Error(const QString& text, int line = 0) {
        errors_->append(QStringLiteral("line %1: %2").arg(line ? line : Line()).arg(text));
    }

    // The attributes of the current element; unknown ones and missing required ones are errors.
    QXmlStreamAttributes Attributes(std::initializer_list<const char*> allowed,
                                    std::initializer_list<const char*> required = {}) {
        const QXmlStreamAttributes attributes = reader_.attributes();
        for (const QXmlStreamAttribute& a : attributes) {
            bool known = false;
            for (const char* name : allowed)
                known = known || a.name() == QLatin1String(name);
            if (!known)
                Error(QStringLiteral("<%1> has no attribute '%2'")
                          .arg(reader_.name().toString(), a.name().toString()));
        }
        for (const char* name : required) {
            if (attributes.value(QLatin1String(name)).trimmed().isEmpty())
                Error(QStringLiteral("<%1> needs the attribute '%2'")
                          .arg(reader_.name().toString(), QLatin1String(name)));
        }
        return attributes;
    }

    static QString Text(const QXmlStreamAttributes& a, const char* name) {
        return a.value(QLatin1String(name)).toString();
    }

    void UnknownElement(const QString& where) {
        Error(QStringLiteral("unknown element <%1> in <%2>").arg(reader_.name().toString(), where));
        reader_.skipCurrentElement();
    }

    bool Boolean(const QXmlStreamAttributes& a, const char* name, bool fallback) {
        const QString text = Text(a, name);
        if (text.trimmed().isEmpty())
            return fallback;
        bool value = fallback;
        if (!ParseBooleanText(text, &value))
            Error(QStringLiteral("'%1' must be true or false, not '%2'")
                      .arg(QLatin1String(name), text));
        return value;
    }

    int Integer(const QXmlStreamAttributes& a, const char* name, int fallback, int minimum) {
        const QString text = Text(a, name).trimmed();
        if (text.isEmpty())
            return fallback;
        bool ok = false;
        const int value = text.toInt(&ok);
        if (!ok || value < minimum) {
            Error(QStringLiteral("'%1' must be a whole number of at least %2, not '%3'")
                      .arg(QLatin1String(name))
                      .arg(minimum)
                      .arg(text));
            return fallback;
        }
        return value;
    }

    QString ElementText() {
        return reader_.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
    }

    void ReadPackage() {
        const QXmlStreamAttributes a = Attributes({"name", "description"}, {"name"});
        doc_->name = Text(a, "name").trimmed();
        doc_->description = Text(a, "description");
        while (reader_.readNextStartElement()) {
            const auto name = reader_.name();
            if (name == QLatin1String("GlobalVariables"))
                ReadVariables();
            else if (name == QLatin1String("Connections"))
                ReadConnections();
            else if (name == QLatin1String("Steps"))
                ReadSteps();
            else if (name == QLatin1String("Description"))
                doc_->description = ElementText();
            else
                UnknownElement(QStringLiteral("Package"));
        }
    }

    void ReadVariables() {
        Attributes({});
        while (reader_.readNextStartElement()) {
            if (reader_.name() != QLatin1String("GlobalVariable")) {
                UnknownElement(QStringLiteral("GlobalVariables"));
                continue;
            }
            PackageVariable v;
            v.line = Line();
            const QXmlStreamAttributes a = Attributes({"name", "type"}, {"name"});
            v.name = Text(a, "name").trimmed();
            const QString type = Text(a, "type").trimmed().toLower();
            const QString text = ElementText();
            if (type.isEmpty() || type == QLatin1String("text")) {
                v.type = VariableType::Text;
                v.value = text;
            } else if (type == QLatin1String("boolean")) {
                v.type = VariableType::Boolean;
                bool b = false;
                if (!text.trimmed().isEmpty() && !ParseBooleanText(text, &b))
                    Error(QStringLiteral("global variable '%1': '%2' is not a boolean value")
                              .arg(v.name, text),
                          v.line);
                v.value = b;
            } else if (type == QLatin1String("integer")) {
                v.type = VariableType::Integer;
                bool ok = true;
                const qlonglong n = text.trimmed().isEmpty() ? 0 : text.trimmed().toLongLong(&ok);
                if (!ok)
                    Error(QStringLiteral("global variable '%1': '%2' is not an integer value")
                              .arg(v.name, text),
                          v.line);
                v.value = n;
            } else {
                Error(QStringLiteral("global variable '%1': unknown type '%2' (text, boolean or "
                                     "integer)")
                          .arg(v.name, type),
                      v.line);
            }
            doc_->variables << v;
        }
    }

    void ReadConnections() {
        Attributes({});
        while (reader_.readNextStartElement()) {
            if (reader_.name() != QLatin1String("Connection")) {
                UnknownElement(QStringLiteral("Connections"));
                continue;
            }
            PackageConnection c;
            c.line = Line();
            const QXmlStreamAttributes a = Attributes({"name", "dataLink", "server", "database",
                                                       "user", "password", "trusted", "directory"},
                                                      {"name"});
            c.name = Text(a, "name").trimmed();
            c.dataLink = Text(a, "dataLink").trimmed();
            c.server = Text(a, "server").trimmed();
            c.database = Text(a, "database").trimmed();
            c.user = Text(a, "user");
            c.password = Text(a, "password");
            c.trusted = Text(a, "trusted").trimmed();
            c.directory = Text(a, "directory").trimmed();
            const bool direct = !c.server.isEmpty() || !c.database.isEmpty() || !c.user.isEmpty() ||
                                !c.password.isEmpty() || !c.trusted.isEmpty() ||
                                !c.directory.isEmpty();
            if (c.IsDataLink() && direct)
                Error(QStringLiteral("connection '%1': a data link takes no other attribute")
                          .arg(c.name));
            else if (!c.IsDataLink() && c.server.isEmpty() && c.directory.isEmpty())
                Error(QStringLiteral("connection '%1' needs a server, a directory or a data link")
                          .arg(c.name));
            else if (!c.server.isEmpty() && !c.directory.isEmpty())
                Error(QStringLiteral("connection '%1' names both a server and a directory")
                          .arg(c.name));
            bool b = false;
            if (!c.trusted.isEmpty() && !c.trusted.contains(QLatin1String("${")) &&
                !ParseBooleanText(c.trusted, &b))
                Error(QStringLiteral("connection '%1': 'trusted' must be true or false, not '%2'")
                          .arg(c.name, c.trusted));
            reader_.skipCurrentElement();
            doc_->connections << c;
        }
    }

    void ReadSteps() {
        Attributes({});
        while (reader_.readNextStartElement()) {
            if (reader_.name() != QLatin1String("Step")) {
                UnknownElement(QStringLiteral("Steps"));
                continue;
            }
            ReadStep();
        }
    }

    void ReadStep() {
        PackageStep step;
        step.line = Line();
        const QXmlStreamAttributes a = Attributes({"name", "description", "disabled"}, {"name"});
        step.name = Text(a, "name").trimmed();
        step.description = Text(a, "description");
        step.disabled = Boolean(a, "disabled", false);
        int tasks = 0;
        while (reader_.readNextStartElement()) {
            const auto name = reader_.name();
            const int line = Line();
            if (name == QLatin1String("Precedence")) {
                ReadPrecedence(&step);
                continue;
            }
            if (name == QLatin1String("ExecuteSql"))
                step.task = ReadExecuteSql();
            else if (name == QLatin1String("BulkInsert"))
                step.task = ReadBulkInsert();
            else if (name == QLatin1String("CopyRows"))
                step.task = ReadCopyRows();
            else if (name == QLatin1String("RunProgram"))
                step.task = ReadRunProgram();
            else {
                Error(QStringLiteral("step '%1': unknown task kind <%2> (ExecuteSql, BulkInsert, "
                                     "CopyRows or RunProgram)")
                          .arg(step.name, name.toString()));
                reader_.skipCurrentElement();
                ++tasks;
                continue;
            }
            if (++tasks > 1)
                Error(QStringLiteral("step '%1' has more than one task").arg(step.name), line);
            step.taskLine = line;
        }
        if (tasks == 0)
            Error(QStringLiteral("step '%1' has no task").arg(step.name), step.line);
        doc_->steps << step;
    }

    void ReadPrecedence(PackageStep* step) {
        PrecedenceConstraint p;
        p.line = Line();
        const QXmlStreamAttributes a = Attributes({"step", "on"}, {"step"});
        p.step = Text(a, "step").trimmed();
        const QString on = Text(a, "on").trimmed().toLower();
        if (on.isEmpty() || on == QLatin1String("success"))
            p.on = PrecedenceOn::Success;
        else if (on == QLatin1String("failure"))
            p.on = PrecedenceOn::Failure;
        else if (on == QLatin1String("completion"))
            p.on = PrecedenceOn::Completion;
        else
            Error(QStringLiteral("step '%1': precedence 'on' must be success, failure or "
                                 "completion, not '%2'")
                      .arg(step->name, on));
        reader_.skipCurrentElement();
        step->precedence << p;
    }

    SqlStatement ReadStatement() {
        SqlStatement s;
        s.line = Line();
        const QXmlStreamAttributes a = Attributes({"parameters"});
        s.parameters = SplitNames(Text(a, "parameters"));
        s.text = ElementText();
        if (s.text.trimmed().isEmpty())
            Error(QStringLiteral("empty SQL statement"), s.line);
        return s;
    }

    QStringList* columnsTarget_ = nullptr;
    bool ReadColumn(const QString& where) {
        if (reader_.name() != QLatin1String("Column"))
            return false;
        Attributes({});
        const QString column = ElementText().trimmed();
        if (column.isEmpty())
            Error(QStringLiteral("empty <Column> in <%1>").arg(where));
        columnsTarget_->append(column);
        return true;
    }

    ExecuteSqlTask ReadExecuteSql() {
        ExecuteSqlTask t;
        const int line = Line();
        const QXmlStreamAttributes a = Attributes({"connection"}, {"connection"});
        t.connection = Text(a, "connection").trimmed();
        while (reader_.readNextStartElement()) {
            if (reader_.name() == QLatin1String("Statement"))
                t.statements << ReadStatement();
            else
                UnknownElement(QStringLiteral("ExecuteSql"));
        }
        if (t.statements.isEmpty())
            Error(QStringLiteral("<ExecuteSql> needs at least one <Statement>"), line);
        return t;
    }

    BulkInsertTask ReadBulkInsert() {
        BulkInsertTask t;
        const QXmlStreamAttributes a =
            Attributes({"connection", "table", "file", "fileConnection", "delimiter", "quote",
                        "header", "codePage", "batchSize", "maxErrors"},
                       {"connection", "table", "file"});
        t.connection = Text(a, "connection").trimmed();
        t.table = Text(a, "table").trimmed();
        t.file = Text(a, "file").trimmed();
        t.fileConnection = Text(a, "fileConnection").trimmed();
        if (a.hasAttribute(QLatin1String("delimiter"))) {
            const QString d = Text(a, "delimiter");
            if (d == QLatin1String("\\t") ||
                d.compare(QLatin1String("tab"), Qt::CaseInsensitive) == 0)
                t.delimiter = '\t';
            else if (d.size() == 1 && d[0].unicode() > 0 && d[0].unicode() < 128 &&
                     d[0] != QLatin1Char('\r') && d[0] != QLatin1Char('\n'))
                t.delimiter = static_cast<char>(d[0].unicode());
            else
                Error(QStringLiteral("'delimiter' must be one ASCII character or \\t, not '%1'")
                          .arg(d));
        }
        if (a.hasAttribute(QLatin1String("quote"))) {
            const QString q = Text(a, "quote");
            if (q.isEmpty())
                t.quote = '\0';
            else if (q.size() == 1 && q[0].unicode() > 0 && q[0].unicode() < 128 &&
                     q[0] != QLatin1Char('\r') && q[0] != QLatin1Char('\n'))
                t.quote = static_cast<char>(q[0].unicode());
            else
                Error(QStringLiteral("'quote' must be one ASCII character or empty, not '%1'")
                          .arg(q));
        }
        if (t.quote != '\0' && t.quote == t.delimiter)
            Error(QStringLiteral("'delimiter' and 'quote' must differ"));
        t.header = Boolean(a, "header", false);
        const QString codePage = Text(a, "codePage").trimmed().toLower();
        if (codePage.isEmpty() || codePage == QLatin1String("utf-8") ||
            codePage == QLatin1String("utf8"))
            t.codePage = CodePage::Utf8;
        else if (codePage == QLatin1String("latin-1") || codePage == QLatin1String("latin1") ||
                 codePage == QLatin1String("iso-8859-1"))
            t.codePage = CodePage::Latin1;
        else
            Error(QStringLiteral("'codePage' must be UTF-8 or Latin-1, not '%1'").arg(codePage));
        t.batchSize = Integer(a, "batchSize", t.batchSize, 1);
        t.maxErrors = Integer(a, "maxErrors", t.maxErrors, 0);
        columnsTarget_ = &t.columns;
        while (reader_.readNextStartElement()) {
            if (!ReadColumn(QStringLiteral("BulkInsert")))
                UnknownElement(QStringLiteral("BulkInsert"));
        }
        return t;
    }

    CopyRowsTask ReadCopyRows() {
        CopyRowsTask t;
        const int line = Line();
        const QXmlStreamAttributes a = Attributes({"source", "destination", "table", "batchSize"},
                                                  {"source", "destination", "table"});
        t.source = Text(a, "source").trimmed();
        t.destination = Text(a, "destination").trimmed();
        t.table = Text(a, "table").trimmed();
        t.batchSize = Integer(a, "batchSize", t.batchSize, 1);
        int queries = 0;
        columnsTarget_ = &t.columns;
        while (reader_.readNextStartElement()) {
            if (reader_.name() == QLatin1String("Query")) {
                t.query = ReadStatement();
                if (++queries > 1)
                    Error(QStringLiteral("<CopyRows> has more than one <Query>"), t.query.line);
            } else if (!ReadColumn(QStringLiteral("CopyRows"))) {
                UnknownElement(QStringLiteral("CopyRows"));
            }
        }
        if (queries == 0)
            Error(QStringLiteral("<CopyRows> needs a <Query>"), line);
        return t;
    }

    RunProgramTask ReadRunProgram() {
        RunProgramTask t;
        const QXmlStreamAttributes a =
            Attributes({"program", "timeout", "successExitCode", "workingDirectory"}, {"program"});
        t.program = Text(a, "program").trimmed();
        t.workingDirectory = Text(a, "workingDirectory").trimmed();
        t.timeoutSeconds = Integer(a, "timeout", 0, 0);
        t.successExitCode = Integer(a, "successExitCode", 0, 0);
        if (t.successExitCode > 255) {
            Error(QStringLiteral("'successExitCode' must be at most 255"));
        }
        while (reader_.readNextStartElement()) {
            if (reader_.name() == QLatin1String("Argument")) {
                Attributes({});
                t.arguments << ElementText();
            } else {
                UnknownElement(QStringLiteral("RunProgram"));
            }
        }
        return t;
    }
};

// A name with each character folded alone, as QString::compare folds the characters it compares
// without regard to case: two names compare equal that way exactly when these keys are equal.
QString FoldedName(const QString& name) {
    QString key;
    key.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        char32_t c = name[i].unicode();
        if (name[i].isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(name[i], name[i + 1]);
            ++i;
        }
        key += QChar::fromUcs4(QChar::toCaseFolded(c));
    }
    return key;
}

template <typename T>
void IndexNamesOf(const QList<T>& items, PackageDocument::NameIndex* index) {
    index->first.clear();
    index->first.reserve(items.size());
    for (int i = 0; i < items.size(); ++i) {
        const QString key = FoldedName(items[i].name);
        if (!index->first.contains(key))
            index->first.insert(key, i);
    }
    index->size = items.size();
}

template <typename T>
int IndexOf(const QList<T>& items, const PackageDocument::NameIndex& index, const QString& name) {
    if (index.size == items.size())
        return index.first.value(FoldedName(name), -1);
    for (int i = 0; i < items.size(); ++i) {
        if (items[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

}  // namespace

int PackageDocument::VariableIndex(const QString& name) const {
    return IndexOf(variables, variableNames, name);
}

int PackageDocument::ConnectionIndex(const QString& name) const {
    return IndexOf(connections, connectionNames, name);
}

int PackageDocument::StepIndex(const QString& name) const {
    return IndexOf(steps, stepNames, name);
}

void PackageDocument::IndexNames() {
    IndexNamesOf(variables, &variableNames);
    IndexNamesOf(connections, &connectionNames);
    IndexNamesOf(steps, &stepNames);
}

QString TaskKindName(const PackageTaskSpec& task) {
    static const char* const names[] = {"ExecuteSql", "BulkInsert", "CopyRows", "RunProgram"};
    return QLatin1String(names[task.index()]);
}

bool ParsePackageDocument(const QByteArray& xml, PackageDocument* document, QStringList* errors) {
    PackageDocument doc;
    QStringList found;
    Parser(xml, &doc, &found).Run();
    doc.IndexNames();
    if (found.isEmpty())
        found = ValidatePackageDocument(doc);
    if (errors)
        *errors = found;
    if (!found.isEmpty())
        return false;
    if (document)
        *document = std::move(doc);
    return true;
}
