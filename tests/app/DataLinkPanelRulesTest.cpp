// The data-link panels' rules without widgets: fields cleared per panel, provider versions, the
// data-link file and the name/value form of connection texts.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/DataLinkPanelRules.h"
#include "datasources/DataLink.h"

namespace {

using P = MainFormModel::DataLinkPanel;

DataLink everyField() {
    DataLink s;
    s.server = "srv", s.database = "db", s.trustedLogin = true, s.user = "u";
    s.password = "p", s.file = "f", s.directory = "d", s.connectString = "c";
    return s;
}

// Which fields are still set, as a string of letters: s d t u p f r c.
QString kept(const DataLink& s) {
    const QString* texts[] = {&s.server,   &s.database, nullptr,      &s.user,
                              &s.password, &s.file,     &s.directory, &s.connectString};
    QString out;
    for (int i = 0; i < 8; ++i)
        if (texts[i] == nullptr ? s.trustedLogin : !texts[i]->isEmpty())
            out += "sdtupfrc"[i];
    return out;
}

}  // namespace

TEST(DataLinkPanelRules, FieldsClearedPerPanel) {
    const struct {
        P panel;
        const char* kept;
    } cases[] = {
        {P::SQLServer, "sdtup"},   {P::Access, "upf"},  {P::Excel, "upf"},
        {P::Oracle, "sdup"},       {P::XMLFiles, "fr"}, {P::UDL, "sdtupfrc"},
        {P::FlatFile, "sdtupfrc"},
    };
    for (const auto& c : cases) {
        DataLink s = everyField();
        s.name = "Link";
        ClearFieldsForPanel(c.panel, s);
        EXPECT_EQ(kept(s), QString(c.kept)) << int(c.panel);
        EXPECT_EQ(s.name, "Link");
    }
}

TEST(DataLinkPanelRules, ProviderVersions) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"Provider=MSDASQL;DSN=x", "Provider=MSDASQL.1;DSN=x"},
        {"Provider=MSDAORA;Data Source=ora", "Provider=MSDAORA.1;Data Source=ora"},
        {"Provider=SQLOLEDB;Data Source=s;Initial Catalog=dw",
         "Provider=SQLOLEDB.1;Data Source=s;Initial Catalog=dw"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AddProviderVersion(c.in), QString(c.out)) << c.in;
    for (const char* unchanged :
         {"Provider=SQLOLEDB.1;Data Source=s", "provider=SQLOLEDB;Data Source=s",
          "Provider=sqloledb;x=1", "Provider=MSDASQL", "Data Source=s;Provider=SQLOLEDB;", ""})
        EXPECT_EQ(AddProviderVersion(unchanged), QString(unchanged));
}

TEST(DataLinkPanelRules, DataLinkFiles) {
    const QString text = "Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=srv";
    const QString windows =
        "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n" + text + "\r\n";
    auto utf16 = [](const QString& s, bool little) {
        QByteArray b = little ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
        for (QChar c : s) {
            const char lo = char(c.unicode() & 0xFF), hi = char(c.unicode() >> 8);
            b.append(little ? lo : hi).append(little ? hi : lo);
        }
        return b;
    };
    const struct {
        QByteArray bytes;
        bool valid;
    } cases[] = {
        {utf16(windows, true), true},
        {utf16(windows, false), true},
        {windows.toUtf8(), true},
        {"\xEF\xBB\xBF" + windows.toUtf8(), true},
        {("[oledb]\n" + text + "\n").toUtf8(), true},
        {"[oledb]\r\n; comment only\r\n", false},
        {"[oledb]\r\n\r\n", false},
        {("; no header\r\n" + text).toUtf8(), false},
        {"", false},
        {"[other]\r\nx=1\r\n[oledb]\r\n", false},
    };
    for (const auto& c : cases) {
        QString got = "old";
        EXPECT_EQ(ParseDataLinkText(c.bytes, got), c.valid) << c.bytes.toHex().toStdString();
        EXPECT_EQ(got, c.valid ? text : QString());
    }

    // The GUI panel test reads a good and a bad file; here a missing one.
    QString got = "old";
    EXPECT_FALSE(ReadDataLinkFile(QTemporaryDir().filePath("missing.udl"), got));
    EXPECT_TRUE(got.isEmpty());
}

TEST(DataLinkPanelRules, ConnectTextPairs) {
    const QString text = "Provider=MSDASQL.1;DSN=sales;Extended Properties=\"a=1;b=2\";Pwd=x";
    const auto pairs = SplitConnectText(text);
    ASSERT_EQ(pairs.size(), 4);
    EXPECT_EQ(pairs.at(0), (QPair<QString, QString>{"Provider", "MSDASQL.1"}));
    EXPECT_EQ(pairs.at(2), (QPair<QString, QString>{"Extended Properties", "a=1;b=2"}));
    EXPECT_EQ(JoinConnectText(pairs), text);
    EXPECT_TRUE(SplitConnectText(";;").isEmpty());
    EXPECT_EQ(JoinConnectText({{"A", "1"}, {" ", "skipped"}, {"B", ""}}), "A=1;B=");
}
