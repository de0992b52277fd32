#include <gtest/gtest.h>

#include <QDir>
#include <QDomDocument>
#include <QTemporaryDir>

#include "config/ExecDTSPackage.h"
#include "engine/PackageEngine.h"
#include "engine/tasks/FlatFileReader.h"
#include "support/TestSupport.h"

using testsupport::readAll;
using testsupport::writeAll;

namespace {

// Every record of a file as "line:field|field" (null fields as ~), or "line:! reason".
QStringList ReadAllRecords(const QByteArray& content, FlatFileReader::Format format = {}) {
    QTemporaryDir dir;
    const QString path = dir.filePath("f.csv");
    writeAll(path, content);
    FlatFileReader reader(format);
    QString error;
    if (!reader.Open(path, &error))
        return {error};
    QStringList out;
    std::vector<BulkField> fields;
    QString reason;
    for (;;) {
        const FlatFileReader::Status s = reader.Next(&fields, &reason);
        if (s == FlatFileReader::Status::End)
            break;
        QStringList texts;
        for (const BulkField& f : fields)
            texts << (f.null ? QString("~") : QString::fromUtf8(f.text.data(), f.text.size()));
        out << QString::number(reader.RecordLine()) + ":" +
                   (s == FlatFileReader::Status::Record ? texts.join('|') : "! " + reason);
    }
    return out;
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
                           "6:! text follows the closing quote of field 2", "7:s|t|~",
                           "8:last|no\"end\"|z"}));
    EXPECT_EQ(ReadAllRecords("a,\"open\nb,c\n"), QStringList({"1:! a quoted field is not closed"}));
    EXPECT_EQ(ReadAllRecords(""), QStringList());
}

TEST(FlatFileReader, CodePagesAndOtherDelimiters) {
    EXPECT_EQ(ReadAllRecords("caf\xE9\t\"x\"\n", {'\t', '\0', CodePage::Latin1}),
              QStringList({QString::fromUtf8("1:café|\"x\"")}));
    EXPECT_EQ(ReadAllRecords("ok;caf\xC3\xA9\nbad;\xE9t\xE9\n", {';', '"', CodePage::Utf8}),
              QStringList({QString::fromUtf8("1:ok|café"), "2:! field 2 is not valid UTF-8 text"}));
}

// A table in memory: rows become visible on commit.
struct Table {
    QStringList columns;
    QList<QStringList> rows;
    int commits = 0;
    int rollbacks = 0;
};

class MemorySink : public BulkRowSink {
  public:
    explicit MemorySink(Table* t) : t_(t) {}
    bool Begin(const QStringList& columns, int, QString*) override {
        t_->columns = columns;
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
        pending_ << row;
        return RowResult::Accepted;
    }
    bool CommitBatch(QString*) override {
        t_->rows += pending_;
        pending_.clear();
        ++t_->commits;
        return true;
    }
    void Rollback() override {
        pending_.clear();
        ++t_->rollbacks;
    }

  private:
    Table* t_;
    QList<QStringList> pending_;
};

class BulkInsertTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    Table table;
    QString oldCwd = QDir::currentPath();
    void TearDown() override { QDir::setCurrent(oldCwd); }

    PackageServices Services() {
        PackageServices s = DefaultPackageServices();
        s.openBulkSink = [this](const ResolvedConnection&, const QString&, QString*) {
            return std::make_unique<MemorySink>(&table);
        };
        // The data link "Inbox" of the warehouse named by the run's variables.
        s.resolveDataLink = [this](const QString& link, const PackageServices::Warehouse& w,
                                   ResolvedConnection* c, QString* error) {
            if (link != "Inbox" || w.server != "dw1" || w.database != "Sales") {
                *error = "no such data link";
                return false;
            }
            c->directory = dir.filePath("in");
            return true;
        };
        s.completionEvent = [](bool, const QString&) {};
        return s;
    }

    QByteArray Document(int maxErrors) {
        QString globals;
        for (const QString v :
             {"ExceptionFilePath", "DTSServer", "DTSServerLoginUserName", "DTSServerLoginPassword",
              "DestinationServer", "JobID", "DestServerLoginUserName", "DestServerLoginPassword",
              "DestServerDatabaseName", "?DTSServerTrustedLogin", "?DestServerTrustedLogin",
              "?WriteCompletionStatusToNT", "?OverwriteGlobalSettings"})
            globals += QStringLiteral("<GlobalVariable name=\"%1\"%2/>")
                           .arg(QString(v).remove('?'), v[0] == '?' ? " type=\"boolean\"" : "");
        return QStringLiteral(
                   "<Package name=\"Pkg\"><GlobalVariables>%1</GlobalVariables><Connections>"
                   "<Connection name=\"DW\" server=\"${DestinationServer}\"/>"
                   "<Connection name=\"Files\" dataLink=\"Inbox\"/></Connections><Steps>"
                   "<Step name=\"Load\"><BulkInsert connection=\"DW\" table=\"orders\" "
                   "fileConnection=\"Files\" file=\"orders.csv\" header=\"true\" batchSize=\"2\" "
                   "maxErrors=\"%2\"/></Step></Steps></Package>")
            .arg(globals)
            .arg(maxErrors)
            .toUtf8();
    }

    // Runs the package the way a run does, with the exception file holding a line already.
    bool Run(int maxErrors, ExecDTSPackage* s) {
        const QByteArray xml = Document(maxErrors);
        s->PackageFactory = [this, xml]() -> std::unique_ptr<DtsPackage> {
            PackageServices services = Services();
            services.loadDocument = [xml](const QString&, const QString&, const QString&, bool,
                                          const QString& name, QByteArray* out, QString*) {
                *out = xml;
                return name == "Pkg";
            };
            return std::make_unique<EnginePackage>(services);
        };
        QDir().mkpath(dir.filePath("in"));
        writeAll(dir.filePath("in/orders.csv"),
                 "id,amount\n1,10\n2\n3,NaN\n4,\"40\"x\n5,50\n6,60\n7,70\n");
        writeAll(dir.filePath("exception.txt"), "Executing DTS package : Pkg\r\n");
        s->DTSPackageName = "Pkg";
        s->LogFileDir = dir.filePath("logs");
        s->ExceptionLogFile = dir.filePath("exception.txt");
        s->DWServer = "dw1";
        s->DWDatabaseName = "Sales";
        if (!s->LoadPackage())
            return false;
        return s->ExecPackage();
    }
};

TEST_F(BulkInsertTest, BadRowsGoToTheErrorFileAndIntoTheExceptionFile) {
    ExecDTSPackage s;
    ASSERT_TRUE(Run(3, &s)) << s.LastError().toStdString();
    EXPECT_EQ(table.columns, QStringList({"id", "amount"}));
    EXPECT_EQ(table.rows, (QList<QStringList>{{"1", "10"}, {"5", "50"}, {"6", "60"}, {"7", "70"}}));
    EXPECT_EQ(table.commits, 2);

    QFile xml(dir.filePath("logs/Pkg_Load_Bulkload.xml"));
    ASSERT_TRUE(xml.open(QIODevice::ReadOnly));
    QDomDocument doc;
    ASSERT_TRUE(doc.setContent(&xml));
    const QDomNodeList descriptions = doc.elementsByTagName("Description");
    const QString file = dir.filePath("in/orders.csv");
    ASSERT_EQ(descriptions.size(), 3);
    EXPECT_EQ(descriptions.at(0).toElement().text(),
              "File '" + file + "', line 3: expected 2 fields, found 1");
    EXPECT_EQ(descriptions.at(1).toElement().text(),
              "File '" + file + "', line 4: 'NaN' is not a number");

    const QString merged = QString::fromUtf8(readAll(dir.filePath("exception.txt")));
    EXPECT_TRUE(merged.startsWith("Executing DTS package : Pkg\r\n"));
    EXPECT_TRUE(merged.contains("Step 'Load' succeeded.") && merged.contains("rows affected 4."));
    EXPECT_TRUE(merged.contains("\"File '" + file + "', line 3: expected 2 fields, found 1\r\n"));
}

TEST_F(BulkInsertTest, TooManyErrorsCancelTheLoad) {
    ExecDTSPackage s;
    EXPECT_FALSE(Run(1, &s));
    EXPECT_EQ(s.LastError(), "Load in 'Pkg' failed.\r\n");
    EXPECT_EQ(table.rows, (QList<QStringList>{})) << "the open batch (row 1) is discarded";
    EXPECT_EQ(table.rollbacks, 1);
    const QString merged = QString::fromUtf8(readAll(dir.filePath("exception.txt")));
    EXPECT_TRUE(merged.contains("line 4: the load was cancelled: more than 1 error"));
}

TEST_F(BulkInsertTest, UnresolvableDataLinkFailsTheStep) {
    const QByteArray xml = Document(10).replace("dataLink=\"Inbox\"", "dataLink=\"Elsewhere\"");
    EnginePackage p(Services());
    ASSERT_TRUE(p.LoadFromDocument(xml, nullptr));
    p.SetGlobalVariableValue("ExceptionFilePath", dir.path());
    ASSERT_TRUE(p.Execute());
    EXPECT_EQ(p.StepItem(1)->ExecutionResult, DTSStepExecResult_Failure);
    EXPECT_TRUE(readAll(dir.filePath("Pkg.log")).contains("no such data link"));
}

}  // namespace
