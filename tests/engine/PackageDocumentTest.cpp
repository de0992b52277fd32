#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <tuple>

#include "engine/PackageDocument.h"
#include "support/TestSupport.h"

namespace {

QByteArray Wrap(const QString& body) {
    return QStringLiteral(
               "<Package name=\"P\">\n"
               "<GlobalVariables><GlobalVariable name=\"V\">x</GlobalVariable></GlobalVariables>\n"
               "<Connections><Connection name=\"DW\" server=\"s\" database=\"d\"/>"
               "<Connection name=\"Files\" directory=\"/in\"/></Connections>\n"
               "<Steps>\n%1</Steps></Package>\n")
        .arg(body)
        .toUtf8();
}

const QString kOk = "<RunProgram program=\"true\"/>";

QString Step(const QString& name, const QString& inner = kOk) {
    return QStringLiteral("<Step name=\"%1\">%2</Step>\n").arg(name, inner);
}

struct BadCase {
    const char* what;
    QByteArray xml;
    const char* expected;  // a part of the one error expected
};

TEST(PackageDocument, RejectsFaultyDocumentsWithLineNumbers) {
    const BadCase cases[] = {
        {"malformed XML", "<Package name=\"P\">\n<Steps>\n</Package>", "line 3, column"},
        {"empty document", "", "line 1, column"},
        {"wrong root", "<Pkg name=\"P\"/>", "line 1: the document element must be <Package>"},
        {"unknown task", Wrap(Step("A", "<Shell/>")),
         "line 5: step 'A': unknown task kind <Shell>"},
        {"no task", Wrap(Step("A", "")), "line 5: step 'A' has no task"},
        {"two tasks", Wrap(Step("A", kOk + kOk)), "more than one task"},
        {"unknown step", Wrap(Step("A") + Step("B", kOk + "<Precedence step=\"Z\"/>")),
         "line 6: step 'B' refers to unknown step 'Z'"},
        {"unknown connection",
         Wrap(Step("A", "<ExecuteSql connection=\"Nope\"><Statement>x</Statement></ExecuteSql>")),
         "line 5: step 'A' refers to unknown connection 'Nope'"},
        {"SQL on a directory",
         Wrap(Step("A", "<ExecuteSql connection=\"Files\"><Statement>x</Statement></ExecuteSql>")),
         "connection 'Files' is a directory"},
        {"file connection is a database",
         Wrap(Step("A",
                   "<BulkInsert connection=\"DW\" table=\"t\" file=\"f\" "
                   "fileConnection=\"DW\"/>")),
         "connection 'DW' is a database, not a directory"},
        {"cycle",
         Wrap(Step("A", kOk + "<Precedence step=\"C\"/>") +
              Step("B", kOk + "<Precedence step=\"A\"/>") +
              Step("C", kOk + "<Precedence step=\"B\" on=\"completion\"/>")),
         "cycle"},
        {"self", Wrap(Step("A", kOk + "<Precedence step=\"a\"/>")), "cannot follow itself"},
        {"duplicate step", Wrap(Step("A") + Step("a")), "line 6: step 'a' is defined twice"},
        {"unknown variable", Wrap(Step("A", "<RunProgram program=\"${Nope}\"/>")),
         "unknown global variable 'Nope'"},
        {"parameter count",
         Wrap(Step("A",
                   "<ExecuteSql connection=\"DW\"><Statement parameters=\"V\">"
                   "SELECT '?' -- ?\n, ?, ?</Statement></ExecuteSql>")),
         "2 '?' markers but 1 parameter"},
        {"unknown attribute", Wrap(Step("A", "<RunProgram program=\"x\" timout=\"3\"/>")),
         "<RunProgram> has no attribute 'timout'"},
        {"bad precedence", Wrap(Step("A") + Step("B", kOk + "<Precedence step=\"A\" on=\"ok\"/>")),
         "precedence 'on' must be"},
        {"bad delimiter",
         Wrap(Step("A", "<BulkInsert connection=\"DW\" table=\"t\" file=\"f\" delimiter=\";;\"/>")),
         "'delimiter' must be"},
        {"bad variable type",
         "<Package name=\"P\"><GlobalVariables><GlobalVariable name=\"N\" type=\"integer\">"
         "x</GlobalVariable></GlobalVariables></Package>",
         "not an integer value"},
        {"text after the document", "<Package name=\"P\"/>\ngarbage", "line 2, column"},
        {"second document element", "<Package name=\"P\"/><Package name=\"Q\"/>", "column"},
        {"name leaves the log directory", "<Package name=\"../x\"/>", "must not hold '/'"},
        {"name breaks the line", "<Package name=\"a&#10;b\"/>", "control characters"},
        {"connection without target",
         "<Package name=\"P\"><Connections><Connection name=\"C\" user=\"u\"/></Connections>"
         "</Package>",
         "needs a server, a directory or a data link"},
    };
    for (const BadCase& c : cases) {
        QStringList errors;
        EXPECT_FALSE(ParsePackageDocument(c.xml, nullptr, &errors)) << c.what;
        ASSERT_EQ(errors.size(), 1) << c.what << ": " << errors.join(" | ").toStdString();
        EXPECT_TRUE(errors[0].contains(QLatin1String(c.expected)))
            << c.what << ": " << errors[0].toStdString();
    }
}

// Each of many steps follows the next, and the last the first: one cycle through them all,
// reported once and named by its ends. Found without a recursion per step (that would exhaust the
// stack long before the end) and without a search of the steps per constraint.
TEST(PackageDocument, LongChainsOfStepsAreValidated) {
    const int n = 300000;
    PackageDocument doc;
    for (int i = 0; i < n; ++i) {
        PackageStep step;
        step.name = QStringLiteral("s%1").arg(i);
        step.task = RunProgramTask{QStringLiteral("true"), {}, {}, 0, 0};
        step.line = i + 1;
        step.precedence.push_back(
            {QStringLiteral("S%1").arg((i + 1) % n), PrecedenceOn::Success, 0});
        doc.steps.push_back(step);
    }
    doc.IndexNames();
    EXPECT_EQ(doc.StepIndex(QStringLiteral("S299999")), n - 1);
    EXPECT_EQ(ValidatePackageDocument(doc),
              QStringList({"line 1: the precedence constraints form a cycle: s0 <- s1 <- s2 <- s3 "
                           "<- ... 299992 more ... <- s299996 <- s299997 <- s299998 <- s299999 "
                           "<- s0"}));
}

// The example of docs/packages.md is valid; what is read of it that no other test writes (the
// engine tests read precedence and time-outs).
TEST(PackageDocument, ReadsTheDocumentedExample) {
    const QString text =
        QString::fromUtf8(testsupport::readAll(PENDRILL_SOURCE_DIR "/docs/packages.md"));
    const QRegularExpressionMatch m =
        QRegularExpression("```xml\\n(.*?)```", QRegularExpression::DotMatchesEverythingOption)
            .match(text, text.indexOf("## A complete example"));
    ASSERT_TRUE(m.hasMatch());
    PackageDocument doc;
    QStringList errors;
    ASSERT_TRUE(ParsePackageDocument(m.captured(1).toUtf8(), &doc, &errors))
        << errors.join("\n").toStdString();
    EXPECT_EQ(std::tuple(doc.variables.size(), doc.connections.size(), doc.steps.size()),
              std::tuple(qsizetype(14), qsizetype(2), qsizetype(5)));
    EXPECT_EQ(doc.variables[doc.VariableIndex("maxrejected")].value, QVariant(qlonglong(25)));
    const auto& bulk = std::get<BulkInsertTask>(doc.steps[1].task);
    EXPECT_EQ(std::tuple(bulk.delimiter, bulk.quote, bulk.header, bulk.codePage),
              std::tuple(';', '"', true, CodePage::Latin1));
    EXPECT_EQ(std::tuple(bulk.batchSize, bulk.maxErrors, bulk.columns.size()),
              std::tuple(100000, 25, qsizetype(4)));
}

TEST(PackageDocument, VariableReferencesExpand) {
    auto lookup = [](const QString& n) -> std::optional<QString> {
        if (n == "A")
            return QString("1");
        return std::nullopt;
    };
    QStringList unknown;
    EXPECT_EQ(ExpandVariables("x${A}y${ B }z$${A}${open", lookup, &unknown), "x1yz${A}${open");
    EXPECT_EQ(unknown, QStringList({"B"}));
    // A hostile text of many unclosed references is read in one pass (one per reference would
    // take minutes here).
    const QString unclosed = QString("${").repeated(1 << 20);
    EXPECT_TRUE(ExpandVariables(unclosed + "$${A", lookup) == unclosed + "${A");
    EXPECT_EQ(CountParameterMarkers("a = ? and b = 'it''s ?' and \"c?\" = ? /* ? */"), 2);
}

}  // namespace
