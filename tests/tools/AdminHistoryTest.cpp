// pendrill-admin history where a case file cannot say it: the JSON listing against the stored
// records, stored texts that could forge a line, standard output on a full disk. (The listing's
// options and prune: cases/3NN-history-*.case; the reader's filters: the history tests.)
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "AdminRun.h"
#include "history/JobHistoryReader.h"
#include "history/JobRecord.h"

using testsupport::admin;

// The listing writes its JSON itself, record by record: it must say what the stored records say.
TEST(AdminHistory, ListingsSayWhatIsStored) {
    testsupport::IsolatedHome home;
    const QString awkward[] = {"quote \" backslash \\ slash /",
                               "line\r\nbreak\tand tab",
                               QString("bell \x07 nul-free"),
                               "Grüße, Пароль, 日本",
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

    QList<QJsonObject> stored;
    QString error;
    ASSERT_TRUE(ReadJobHistory(stored, -1, &error)) << error.toStdString();
    const auto json = admin({"history", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err.constData();
    const QJsonArray listed = QJsonDocument::fromJson(json.out).array();
    ASSERT_EQ(listed.size(), stored.size());
    for (qsizetype i = 0; i < stored.size(); ++i)
        EXPECT_EQ(listed.at(i).toObject(), stored.at(i))
            << QJsonDocument(stored.at(i)).toJson().constData();

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

    // Standard output on a full disk: the listing is not whole, and says so.
    for (const QStringList& args : {QStringList{"history", "--json"}, QStringList{"history"}}) {
        QProcess p;
        p.setStandardOutputFile("/dev/full");
        p.start(QString(PENDRILL_BIN_DIR) + "/pendrill-admin", args);
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 1) << args.join(' ').toStdString();
        EXPECT_TRUE(p.readAllStandardError().contains("cannot write the listing"));
    }
}
