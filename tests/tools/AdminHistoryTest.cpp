// pendrill-admin history where a case file cannot say it: the JSON listing against the stored
// records, stored texts that could forge a line, standard output on a full disk. (The listing's
// options and prune: cases/3NN-history-*.case; the reader's filters: the history tests.)
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlQuery>

#include "AdminRun.h"
#include "history/JobHistoryReader.h"
#include "history/JobRecord.h"
#include "history/Repository.h"

using testsupport::admin;

// The listing writes its JSON itself, record by record: it must say what the stored records say,
// byte for byte as Qt's own writer lays them out, in both layouts.
TEST(AdminHistory, ListingsSayWhatIsStored) {
    testsupport::IsolatedHome home;
    const QString awkward[] = {"quote \" backslash \\ slash /",
                               "line\r\nbreak\tand tab",
                               QString("bell \x07 \x01\x1f\x7f \b\f nul-free"),
                               "Grüße, Пароль, 日本, 🦀",
                               QString::fromUtf16(u"separators \u2028\u2029 bom \ufeff"),
                               QString::fromUtf16(u"lone \xd800 halves \xdc00\xd83e"),
                               QString(70000, QChar(u'\u00e9')) + "\\u0041\"",
                               "",
                               "{\"not\": [\"json\"]}"};
    double quantity = 0.1;
    for (const QString& text : awkward) {
        JobRecord r;
        r.setMessage(text);
        r.setSourcePath(text);
        r.setQuantity(quantity);
        quantity *= -1234.5;
        r.setStartTime(QDateTime::fromString("2026-03-10T12:00:00Z", Qt::ISODate));
        ASSERT_TRUE(r.Close(2, "Pendrill Copy", JobRecord::CloseArgumentsFor("FTP", text)));
    }
    JobRecord bare;  // nothing set: nulls
    ASSERT_TRUE(bare.Close(4, "Pendrill"));
    {  // bytes that are no UTF-8, written by another program
        Repository::Connection repo;
        ASSERT_TRUE(repo.Open());
        QSqlQuery q(repo.Db());
        ASSERT_TRUE(
            q.exec("UPDATE job_history SET Message = CAST(X'41ff80c3282de28228f09f' AS "
                   "TEXT), Arguments = '[1, 2.5, -0.0, 1e300, true, null, {\"b\": [], "
                   "\"a\": {}}, [[]]]' WHERE Id = 1"));
        // One fault a text: a surrogate, overlong forms, U+FFFE, beyond U+10FFFF, cut short.
        const char* notStrict[] = {"eda080", "c0af", "e080af", "efbfbe", "f4908080", "e282"};
        for (int i = 0; i < 6; ++i)
            ASSERT_TRUE(q.exec(QString("UPDATE job_history SET SourcePath = CAST(X'41%1c3a9' AS "
                                       "TEXT) WHERE Id = %2")
                                   .arg(notStrict[i])
                                   .arg(i + 2)));
    }

    QList<QJsonObject> stored;
    QString error;
    ASSERT_TRUE(ReadJobHistory(stored, -1, &error)) << error.toStdString();
    const auto json = admin({"history", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err.constData();
    const QJsonArray listed = QJsonDocument::fromJson(json.out).array();
    ASSERT_EQ(listed.size(), stored.size());
    QByteArray laidOut = "[\n";
    for (qsizetype i = 0; i < stored.size(); ++i) {
        // Key by key: QJsonObject's own comparison tells a long Latin-1 text parsed from a
        // document from the same text built in memory.
        const QJsonObject record = listed.at(i).toObject();
        EXPECT_EQ(record.keys(), stored.at(i).keys());
        for (const QString& key : stored.at(i).keys())
            EXPECT_EQ(record.value(key), stored.at(i).value(key)) << key.toStdString();
        laidOut += (i ? ",\n    " : "    ") + QJsonDocument(stored.at(i))
                                                  .toJson(QJsonDocument::Indented)
                                                  .trimmed()
                                                  .replace('\n', "\n    ");
    }
    EXPECT_EQ(json.out, laidOut + "\n]\n");
    QByteArray compact;
    for (const QJsonObject& record : stored)
        compact += QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
    EXPECT_EQ(admin({"history", "--json-lines"}).out, compact);

    // Stored texts with control characters are shown escaped: they cannot forge a record line.
    JobRecord forged;
    forged.setJobIdentifier("x\n#999  2026-03-13 00:00:00 +01:00  status 0 success\t");
    forged.setExceptionFile("log\x1b[2J.txt\r");
    ASSERT_TRUE(forged.Close(4, "Pendrill"));
    const QString text = QString::fromUtf8(admin({"history", "--limit", "1"}).out);
    EXPECT_TRUE(text.contains(
        "  Job             x\\n#999  2026-03-13 00:00:00 +01:00  status 0 success\\t\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("  Exception file  log\\x1b[2J.txt\\r\n"));
    // The same in the monitoring lines, also for marks that turn a line's direction.
    JobRecord turned;
    turned.setJobIdentifier(QString::fromUtf8("a\u202Eb\u2028c"));
    turned.setMessage(QString(100000, QLatin1Char('m')));
    ASSERT_TRUE(turned.Close(4, "Pendrill"));
    const QString latest = QString::fromUtf8(admin({"history", "latest"}).out);
    EXPECT_TRUE(latest.contains("a?b?c")) << latest.toStdString();
    const QString check =
        QString::fromUtf8(admin({"history", "check", "--max-age", "9d", "--job", "a*"}).out);
    EXPECT_TRUE(check.contains("a?b?c")) << check.toStdString();
    EXPECT_LT(check.size(), 2000) << "a long message is cut";

    // Standard output on a full disk: the output is not whole, and every command says so.
    for (const QStringList& args :
         {QStringList{"history", "--json"}, QStringList{"history"},
          QStringList{"history", "latest"}, QStringList{"history", "metrics"}}) {
        QProcess p;
        p.setStandardOutputFile("/dev/full");
        p.start(QString(PENDRILL_BIN_DIR) + "/pendrill-admin", args);
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 1) << args.join(' ').toStdString();
        EXPECT_TRUE(p.readAllStandardError().contains("cannot write"))
            << args.join(' ').toStdString();
    }
}
