#include <gtest/gtest.h>

#include <QDir>
#include <QDomDocument>
#include <QTemporaryDir>

#include "db/PlainCsvRecord.h"
#include "engine/PackageEngine.h"
#include "engine/tasks/FlatFileReadAhead.h"
#include "engine/tasks/FlatFileReader.h"
#include "support/TestSupport.h"

using testsupport::readAll;
using testsupport::writeAll;

namespace {

// Every record of a file as "line:field|field" (null fields as ~), or "line:! reason [text]",
// read by the reader itself or, with `ahead`, through a read-ahead (stopped after `limit`; with
// `skimSwitch`, skimming plain records is switched on and off every so many records, and a
// skimmed one is taken apart as a sink would).
QStringList ReadAllRecords(const QByteArray& content, FlatFileReader::Format format = {},
                           bool ahead = false, int limit = -1, int skimSwitch = 0) {
    QTemporaryDir dir;
    const QString path = dir.filePath("f.csv");
    writeAll(path, content);
    FlatFileReader reader(format);
    QString error;
    if (!reader.Open(path, &error))
        return {error};
    std::unique_ptr<FlatFileReadAhead> readAhead;
    if (ahead)
        readAhead = std::make_unique<FlatFileReadAhead>(reader);
    QStringList out;
    std::vector<BulkField> fields, split;
    std::string splitText;
    QString reason;
    while (out.size() != limit) {
        if (skimSwitch > 0 && out.size() % skimSwitch == 0)
            readAhead->SkimPlainRecords(out.size() / skimSwitch % 2 == 0);
        const BulkField* row = fields.data();
        int count = static_cast<int>(fields.size());
        const FlatFileReader::Status s =
            ahead ? readAhead->Next(&row, &count, &reason) : reader.Next(&fields, &reason);
        if (s == FlatFileReader::Status::End)
            break;
        if (!ahead) {
            row = fields.data();
            count = static_cast<int>(fields.size());
        }
        if (s == FlatFileReader::Status::Record && row == nullptr) {
            SplitPlainRecord(readAhead->PlainRecord(), format.delimiter, format.quote, &split,
                             &splitText);
            EXPECT_EQ(static_cast<int>(split.size()), count);
            row = split.data();
        }
        QStringList texts;
        for (int i = 0; i < count; ++i)
            texts << (row[i].null ? QString("~")
                                  : QString::fromUtf8(row[i].text.data(), row[i].text.size()));
        out << QString::number(ahead ? readAhead->RecordLine() : reader.RecordLine()) + ":" +
                   (s == FlatFileReader::Status::Record
                        ? texts.join('|')
                        : "! " + reason + " [" +
                              (ahead ? readAhead->RecordText() : reader.RecordText()) + "]");
    }
    return out;
}

// Records handed over in runs, with copied fields among them, come out as the reader gives them,
// also when the load stops before the end of the file, and whether they were skimmed or not.
TEST(FlatFileReadAhead, GivesWhatTheReaderGives) {
    QByteArray content;
    for (int i = 0; i < 40000; ++i)
        content += i % 1000 == 7 ? QByteArray("bad,\"x\"y\n")
                                 : QByteArray::number(i) + ",\"say \"\"" + QByteArray::number(i) +
                                       "\"\"\",,caf\xC3\xA9\n";
    const QStringList all = ReadAllRecords(content);
    ASSERT_EQ(all.size(), 40000);
    EXPECT_EQ(ReadAllRecords(content, {}, true), all);
    EXPECT_EQ(ReadAllRecords(content, {}, true, 5000), all.mid(0, 5000));
    EXPECT_EQ(ReadAllRecords(content, {}, true, -1, 10000), all);
}

TEST(FlatFileReader, QuotingLineEndsAndLineNumbers) {
    EXPECT_EQ(ReadAllRecords("\xEF\xBB\xBF"
                             "a,\"b,c\",\"say \"\"hi\"\"\"\r\n"
                             "\r\n"
                             "1,,\"\"\n"
                             "\"multi\nline\",x,y\n"
                             "p,\"q\"junk,r\n"
                             "s,t,\n"
                             "last,\"no\"\"end\"\"\",z"),
              QStringList({"1:a|b,c|say \"hi\"", "3:1|~|", "4:multi\nline|x|y",
                           "6:! text follows the closing quote of field 2 [p,\"q\"junk,r]",
                           "7:s|t|~", "8:last|no\"end\"|z"}));
    EXPECT_EQ(ReadAllRecords("a,\"open\nb,c\n"),
              QStringList({"1:! a quoted field is not closed [a,\"open\nb,c]"}));
    EXPECT_EQ(ReadAllRecords(""), QStringList());
}

// Fields of every length up to a few words, with every byte but the delimiter and the line
// feed in them (Latin-1, so any byte is text), end exactly at their delimiter, wherever it falls
// among the bytes the reader looks at together.
TEST(FlatFileReader, FieldsOfEveryLengthEndAtTheirDelimiter) {
    for (const char delimiter : {',', '\t', '\xA7'}) {
        QByteArray content;
        QStringList expected;
        unsigned seed = 7;
        for (int line = 1; line <= 300; ++line) {
            QStringList fields;
            const int count = 1 + line % 5;
            for (int f = 0; f < count; ++f) {
                QByteArray field;
                // (A record of one empty field would be an empty line, which is skipped.)
                const int length = std::max((line * 7 + f * 3) % 21, count == 1 ? 1 : 0);
                while (field.size() < length) {
                    seed = seed * 1103515245u + 12345u;
                    const char ch = char(seed >> 16);
                    if (ch != delimiter && ch != '\n' && ch != '\r')
                        field += ch;
                }
                content += field + (f + 1 < count ? QByteArray(1, delimiter) : "");
                fields << (field.isEmpty() ? QString("~") : QString::fromLatin1(field));
            }
            content += line % 3 == 0 ? "\r\n" : "\n";
            expected << QString::number(line) + ":" + fields.join('|');
        }
        EXPECT_EQ(ReadAllRecords(content, {delimiter, '\0', CodePage::Latin1}), expected)
            << int(delimiter);
    }
}

TEST(FlatFileReader, CodePagesAndOtherDelimiters) {
    EXPECT_EQ(ReadAllRecords("caf\xE9\t\"x\"\n", {'\t', '\0', CodePage::Latin1}),
              QStringList({QString::fromUtf8("1:café|\"x\"")}));
    EXPECT_EQ(ReadAllRecords("ok;caf\xC3\xA9\nbad;\xE9t\xE9\n", {';', '"', CodePage::Utf8}),
              QStringList(
                  {QString::fromUtf8("1:ok|café"),
                   QString::fromUtf8("2:! field 2 is not valid UTF-8 text [bad;\uFFFDt\uFFFD]")}));
    EXPECT_EQ(ReadAllRecords("caf\xC3\xA9,\"a\"\"\xC3\",\xE9\n"),
              QStringList({QString::fromUtf8(
                  "1:! field 2 is not valid UTF-8 text [café,\"a\"\"\uFFFD\",\uFFFD]")}));
    // A delimiter beyond ASCII can cut a valid sequence (here U+279E7) into fields that are not.
    EXPECT_EQ(ReadAllRecords("\xF0\xA7\xA7\xA7\n", {'\xA7', '"', CodePage::Utf8}),
              QStringList({QString::fromUtf8("1:! field 1 is not valid UTF-8 text [\U000279E7]")}));
}

// A table in memory: rows become visible on commit; a row whose last field is "NaN" is refused
// as it is added, one whose last field is "late" when its batch is committed. With `overlap`, a
// batch is committed only when the next one is handed over (or on Flush), as a sink that stores
// one batch while the next is sent does.
struct Table {
    QStringList columns;
    QList<QStringList> rows, pending, handed;
    int commits = 0, rollbacks = 0;
    bool overlap = false;
};

struct MemorySink : BulkRowSink {
    explicit MemorySink(Table* table) : t(table) {}
    bool Begin(const QStringList& columns, int, QString*) override {
        t->columns = columns;
        return true;
    }
    RowResult AddRow(const BulkField* fields, int count, QString* reason) override {
        QStringList row;
        for (int i = 0; i < count; ++i)
            row << QString::fromUtf8(fields[i].text.data(), fields[i].text.size());
        if (row.last() == "NaN") {
            *reason = "'NaN' is not a number";
            return RowResult::Rejected;
        }
        t->pending << row;
        return RowResult::Accepted;
    }
    bool RejectsAtCommit() const override { return true; }
    bool CommitBatch(QString* error) override {
        if (t->overlap && !t->handed.isEmpty())
            Flush(error);
        t->handed = std::exchange(t->pending, {});
        return t->overlap || Flush(error);
    }
    bool Flush(QString*) override {
        std::vector<LateRejection> refused;
        for (int i = 0; i < t->handed.size(); ++i) {
            if (t->handed[i].last() == "late")
                refused.push_back({i, "refused late", t->handed[i]});
            else
                t->rows << t->handed[i];
        }
        if (!t->handed.isEmpty()) {
            ++t->commits;
            BatchCommitted(std::move(refused));
        }
        t->handed.clear();
        return true;
    }
    void Rollback() override {
        t->pending.clear();
        t->handed.clear();
        ++t->rollbacks;
    }
    Table* t;
};

class BulkInsertTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    Table table;
    const QString file = dir.filePath("in/orders.csv");

    // Runs a one-step package loading `file` through the data link `link`; the warehouse that
    // the package's variables name has the link "Inbox" alone. Returns the step's result.
    int Run(int maxErrors, const QString& link = "Inbox",
            const QByteArray& rows = "1,10\n2\n3,NaN\n4,\"40\"x\n5,50\n6,60\n7,70\n") {
        PackageServices s = DefaultPackageServices();
        s.openBulkSink = [this](const ResolvedConnection&, const QString&, QString*) {
            return std::make_unique<MemorySink>(&table);
        };
        s.resolveDataLink = [this](const QString& link, const PackageServices::Warehouse& w,
                                   ResolvedConnection* c, QString* error) {
            if (link != "Inbox" || w.server != "dw1" || w.database != "Sales") {
                *error = "no such data link";
                return false;
            }
            c->directory = dir.filePath("in");
            return true;
        };
        QDir().mkpath(dir.filePath("in"));
        writeAll(file, "id,amount\n" + rows);
        const QString xml =
            QStringLiteral(
                "<Package name=\"Pkg\"><GlobalVariables>"
                "<GlobalVariable name=\"ExceptionFilePath\">%1</GlobalVariable>"
                "<GlobalVariable name=\"DestinationServer\">dw1</GlobalVariable>"
                "<GlobalVariable name=\"DestServerDatabaseName\">Sales</GlobalVariable>"
                "</GlobalVariables><Connections>"
                "<Connection name=\"DW\" server=\"${DestinationServer}\"/>"
                "<Connection name=\"Files\" dataLink=\"%2\"/></Connections><Steps>"
                "<Step name=\"Load\"><BulkInsert connection=\"DW\" table=\"orders\" "
                "fileConnection=\"Files\" file=\"orders.csv\" header=\"true\" batchSize=\"2\" "
                "maxErrors=\"%3\"/></Step></Steps></Package>")
                .arg(dir.path(), link)
                .arg(maxErrors);
        EnginePackage p(s);
        QString error;
        EXPECT_TRUE(p.LoadFromDocument(xml.toUtf8(), &error)) << error.toStdString();
        EXPECT_TRUE(p.Execute());
        return p.StepItem(1)->ExecutionResult;
    }

    // The descriptions of the step's error file.
    QStringList Errors() {
        QDomDocument doc;
        doc.setContent(readAll(dir.filePath("Pkg_Load_Bulkload.xml")));
        const QDomNodeList d = doc.elementsByTagName("Description");
        QStringList out;
        for (int i = 0; i < d.size(); ++i)
            out << d.at(i).toElement().text().remove("File '" + file + "', ");
        return out;
    }
};

// How the rows reach the exception file of a run is tested with the run (dts/PackageRunTest,
// tools/AdminBulkLoadTest).
TEST_F(BulkInsertTest, BadRowsAreDescribedAndTheOthersLoadedInBatches) {
    EXPECT_EQ(Run(3), DTSStepExecResult_Success);
    EXPECT_EQ(table.columns, QStringList({"id", "amount"}));
    EXPECT_EQ(table.rows, (QList<QStringList>{{"1", "10"}, {"5", "50"}, {"6", "60"}, {"7", "70"}}));
    EXPECT_EQ(table.commits, 2);
    EXPECT_EQ(Errors(),
              QStringList({"line 3: expected 2 fields, found 1", "line 4: 'NaN' is not a number",
                           "line 5: text follows the closing quote of field 2"}));
    EXPECT_TRUE(readAll(dir.filePath("Pkg.log")).contains("rows affected 4."));
}

TEST_F(BulkInsertTest, TooManyErrorsCancelTheLoad) {
    EXPECT_EQ(Run(1), DTSStepExecResult_Failure);
    EXPECT_EQ(table.rows, (QList<QStringList>{})) << "the open batch (row 1) is discarded";
    EXPECT_EQ(table.rollbacks, 1);
    EXPECT_EQ(Errors().last(), "line 4: the load was cancelled: more than 1 error");
}

// A sink that commits a batch only once the next one is sent gives the same rows, errors and
// order of errors as one that commits each batch at once, also when the errors end the load. A
// row refused at commit is written to the error file as its record stands in the file.
TEST_F(BulkInsertTest, OverlappingBatchesKeepTheFilesOrder) {
    const QByteArray rows = "1,10\n\"2,b\",late\n3,30\n4\n5,NaN\n6,late\n7,70\n";
    for (int maxErrors : {5, 0, 2}) {
        QList<QList<QStringList>> tables;
        QList<QStringList> errors;
        for (bool overlap : {false, true}) {
            table = Table();
            table.overlap = overlap;
            Run(maxErrors, "Inbox", rows);
            tables << table.rows;
            errors << Errors();
        }
        EXPECT_EQ(tables[1], tables[0]) << maxErrors;
        EXPECT_EQ(errors[1], errors[0]) << maxErrors;
        if (maxErrors == 5) {
            EXPECT_EQ(errors[0],
                      QStringList({"line 3: refused late", "line 5: expected 2 fields, found 1",
                                   "line 6: 'NaN' is not a number", "line 7: refused late"}));
            QDomDocument doc;
            doc.setContent(readAll(dir.filePath("Pkg_Load_Bulkload.xml")));
            EXPECT_EQ(doc.elementsByTagName("Data").at(0).toElement().text(), "\"2,b\",late");
        }
    }
}

TEST_F(BulkInsertTest, UnresolvableDataLinkFailsTheStep) {
    EXPECT_EQ(Run(10, "Elsewhere"), DTSStepExecResult_Failure);
    EXPECT_TRUE(readAll(dir.filePath("Pkg.log")).contains("no such data link"));
}

}  // namespace
