// The data-link editor panels on the offscreen platform: binding a data source of each type,
// edits written through, enable states, the server and file dialogs, the data-link file and the
// connection-text editor.

#include "GuiTestHelpers.h"
#include "app/MainFormFixture.h"
#include "datasources/DataLink.h"
#include "gui/DataLinkPanels.h"
#include "gui/FlatFilePanel.h"
#include "gui/InputBoxes.h"
#include "gui/ServerConnectionWidget.h"

namespace {

DataLink everyField(int type) {
    DataLink s;
    s.etlType = type;
    s.server = "srv";
    s.database = "db";
    s.trustedLogin = true;
    s.user = "usr";
    s.password = "secret";
    s.file = "/data/in.mdb";
    s.directory = "/data/schema.xml";
    s.connectString = "Provider=SQLOLEDB;Data Source=srv";
    return s;
}

// The text shown by a box or list of `panel`.
QString shown(QWidget* panel, const char* name) {
    if (auto* list = panel->findChild<QComboBox*>(name))
        return list->currentText();
    return panel->findChild<QLineEdit*>(name)->text();
}

class DataLinkPanelsTest : public FormModel {
  protected:
    void SetUp() override {
        FormModel::SetUp();
        DataLinkPanel::chooseFile = [this](QWidget*, const QString& title, const QString& dir,
                                           const QString& filter) {
            fileDialogs << title + "|" + dir + "|" + filter;
            return answers.isEmpty() ? QString() : answers.takeFirst();
        };
    }
    QStringList fileDialogs, answers;
    InteractiveForm form;  // the window's run log, which shows the panels' boxes
};

}  // namespace

TEST_F(DataLinkPanelsTest, PasswordBoxes) {
    SqlServerPanel sql;
    OraclePanel oracle;
    AccessFilesPanel access;
    ExcelFilesPanel excel;
    // One echo in every password box: "*".
    FlatFilePanel flat;
    ServerConnectionWidget control;
    for (QLineEdit* box : {sql.sqlPasswordBox, access.accessPasswordBox, excel.excelPasswordBox,
                           oracle.oraclePasswordBox, flat.ftpPasswordBox, control.PasswordBox()}) {
        EXPECT_EQ(box->echoMode(), QLineEdit::Password) << box->objectName().toStdString();
        EXPECT_EQ(box->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, box), '*')
            << box->objectName().toStdString();
    }
    EXPECT_FALSE(oracle.oracleDatabaseBox->isEnabled());
}

TEST_F(DataLinkPanelsTest, SqlServerPanelFollowsTheLoginOption) {
    // A dark theme: disabled boxes take its colours, not the light classic grey.
    const QPalette light = QApplication::palette();
    QApplication::setPalette(QPalette(QColor(0x30, 0x30, 0x30)));
    struct Restore {
        QPalette palette;
        ~Restore() { QApplication::setPalette(palette); }
    } restore{light};
    SqlServerPanel sql;
    DataLink s = everyField(1);
    sql.SetDataSource(&s);
    EXPECT_EQ(sql.DataSource(), &s);
    EXPECT_TRUE(s.file.isEmpty()) << "fields of other types are cleared";
    EXPECT_EQ(sql.sqlServerBox->text() + sql.sqlDatabaseBox->currentText(), "srvdb");
    EXPECT_TRUE(sql.sqlTrustedLoginOption->isChecked());
    EXPECT_FALSE(sql.sqlUserBox->isEnabled());
    EXPECT_FALSE(sql.sqlPasswordLabel->isEnabled());
    EXPECT_EQ(sql.sqlPasswordBox->palette().color(QPalette::Base),
              QApplication::palette().color(QPalette::Button));
    EXPECT_EQ(InputBoxBackground(false), QColor(0x30, 0x30, 0x30));

    QTest::mouseClick(sql.sqlUserLoginOption, Qt::LeftButton);
    EXPECT_FALSE(s.trustedLogin);
    EXPECT_TRUE(sql.sqlUserBox->isEnabled());
    EXPECT_EQ(sql.sqlUserBox->palette().color(QPalette::Base),
              QApplication::palette().color(QPalette::Base));
    sql.sqlServerBox->setText("other");
    sql.sqlUserBox->setText("sa");
    sql.sqlPasswordBox->setText("pw");
    sql.sqlDatabaseBox->setEditText("dw2");
    EXPECT_EQ(QStringList({s.server, s.user, s.password, s.database}),
              QStringList({"other", "sa", "pw", "dw2"}));

    // Another data source with the SQL option: the boxes follow the flag.
    DataLink t = everyField(1);
    t.trustedLogin = false;
    t.server.clear();
    sql.SetDataSource(&t);
    EXPECT_TRUE(sql.sqlUserLoginOption->isChecked());
    EXPECT_TRUE(sql.sqlPasswordBox->isEnabled());
    EXPECT_EQ(sql.sqlServerBox->text(), "");
    EXPECT_EQ(s.server, "other") << "the first data source is left alone";
}

// Each panel clears the fields its type does not use (which ones is checked below the panels),
// shows the others and writes edits through.
TEST_F(DataLinkPanelsTest, EachPanelBindsItsType) {
    AccessFilesPanel access;
    OraclePanel oracle;
    XmlFilesPanel xml;
    UdlPanel udl;
    const struct {
        DataLinkPanel* panel;
        int type;
        QString DataLink::*cleared;
        const char *shown, *shownText, *edited;
        QString DataLink::*field;
    } cases[] = {
        {&access, 5, &DataLink::server, "accessFileBox", "/data/in.mdb", "accessUserBox",
         &DataLink::user},
        {&oracle, 6, &DataLink::file, "oracleDatabaseBox", "db", "oracleServerBox",
         &DataLink::server},
        {&xml, 10, &DataLink::user, "xmlSchemaFileBox", "/data/schema.xml", "xmlSchemaFileBox",
         &DataLink::directory},
        {&udl, 9, nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        DataLink s = everyField(c.type);
        c.panel->SetDataSource(&s);
        if (!c.shown) {
            EXPECT_FALSE(s.server.isEmpty() || s.file.isEmpty() || s.connectString.isEmpty())
                << "the data-link panel keeps every field";
            continue;
        }
        EXPECT_TRUE((s.*c.cleared).isEmpty());
        EXPECT_EQ(shown(c.panel, c.shown), c.shownText);
        c.panel->findChild<QLineEdit*>(c.edited)->setText("edited");
        EXPECT_EQ(s.*c.field, "edited");
    }
}

TEST_F(DataLinkPanelsTest, FileAndServerBrowse) {
    AccessFilesPanel access;
    DataLink a = everyField(5);
    a.file.clear();
    access.SetDataSource(&a);
    answers << "/in/new.mdb";
    QTest::mouseClick(access.browseAccessFileButton, Qt::LeftButton);
    EXPECT_EQ(a.file, "/in/new.mdb");
    answers << "";
    QTest::mouseClick(access.browseAccessFileButton, Qt::LeftButton);
    EXPECT_EQ(a.file, "/in/new.mdb") << "cancel changes nothing";
    EXPECT_EQ(fileDialogs.value(0),
              "Browse for Access File||Microsoft Access Files "
              "(*.mdb)|*.mdb|All Files (*.*)|*.*");
    EXPECT_EQ(fileDialogs.value(1).section('|', 1, 1), "/in/") << "the second starts at the file";

    SqlServerPanel sql;
    DataLink s = everyField(1);
    sql.SetDataSource(&s);
    QStringList titles;
    QString answer = "dbhost";
    SqlServerPanel::browseForComputer = [&](const QString& title, QWidget*) {
        titles << title;
        return answer;
    };
    QTest::mouseClick(sql.browseSqlServerButton, Qt::LeftButton);
    EXPECT_EQ(s.server, "dbhost");
    answer.clear();
    QTest::mouseDClick(sql.sqlServerBox, Qt::LeftButton);
    EXPECT_EQ(s.server, "dbhost");
    EXPECT_EQ(titles, QStringList(2, "Select your DataSource SQLServer."));

    ServerBrowseDialog dialog("Select your DataSource SQLServer.", nullptr);
    EXPECT_EQ(dialog.serverBox->itemText(0), "(local)");
    dialog.serverBox->setEditText("  typed  ");
    EXPECT_EQ(dialog.ServerName(), "typed");
}

TEST_F(DataLinkPanelsTest, DatabaseListFromTheServer) {
    makeWarehouse({1});
    SqlServerPanel sql;
    DataLink s = everyField(1);
    s.server = server;
    s.trustedLogin = trusted;
    s.user = user;
    s.password = password;
    s.database = dw;
    sql.SetDataSource(&s);
    sql.FillDatabaseList();
    EXPECT_GE(sql.sqlDatabaseBox->findText(dw), 0);
    EXPECT_EQ(sql.sqlDatabaseBox->currentText(), dw);
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('\n').toStdString();

    const int entries = sql.sqlDatabaseBox->count();
    sql.sqlServerBox->setText("no-such-server");
    sql.FillDatabaseList();
    ASSERT_EQ(op.boxes.size(), 1);
    EXPECT_TRUE(op.boxes.at(0).startsWith(
        "16|Connect to SQL Server|Error while connecting to : no-such-server\r\n"))
        << op.boxes.at(0).toStdString();
    EXPECT_EQ(sql.sqlDatabaseBox->count(), entries) << "the list keeps its entries";
}

TEST_F(DataLinkPanelsTest, DataLinkFileAndConnectTextEditor) {
    UdlPanel udl;
    DataLink u = everyField(9);
    udl.SetDataSource(&u);

    // Which encodings of the file are read is checked below the panel.
    const QString text = "Provider=MSDASQL.1;Persist Security Info=False;Data Source=sales";
    const QString good = home.file("good.udl"), bad = home.file("bad.udl");
    ASSERT_TRUE(testsupport::writeAll(good, ("[oledb]\r\n" + text + "\r\n").toUtf8()));
    ASSERT_TRUE(testsupport::writeAll(bad, "not a data link\r\n"));

    answers << good;
    QTest::mouseClick(udl.loadUdlFileButton, Qt::LeftButton);
    EXPECT_EQ(u.connectString, text);
    EXPECT_EQ(fileDialogs.value(0),
              "Select Data Link File||Universal Data Link File (*.udl)|*.udl|All Files (*.*)|*.*");
    answers << bad;
    QTest::mouseClick(udl.loadUdlFileButton, Qt::LeftButton);
    EXPECT_TRUE(u.connectString.isEmpty());
    EXPECT_EQ(op.boxes, QStringList({"48|Invalid connect info|Connect string information in UDL "
                                     "is invalid.\r\nCleared Universal Data Link property info."}));

    // The editor: cancel leaves the text, a versionless provider gets its version.
    std::optional<QString> reply;
    QStringList shown;
    UdlPanel::editConnectText = [&](const QString& t, QWidget*) {
        shown << t;
        return reply;
    };
    u.connectString = "Provider=SQLOLEDB;Data Source=srv";
    QTest::mouseClick(udl.udlPropertiesButton, Qt::LeftButton);
    EXPECT_EQ(u.connectString, "Provider=SQLOLEDB.1;Data Source=srv");
    reply = "Provider=MSDAORA;Data Source=ora";
    QTest::mouseClick(udl.udlPropertiesButton, Qt::LeftButton);
    EXPECT_EQ(u.connectString, "Provider=MSDAORA.1;Data Source=ora");
    EXPECT_EQ(shown.value(1), "Provider=SQLOLEDB.1;Data Source=srv");

    ConnectTextDialog dialog("Provider=MSDASQL.1;DSN=sales;Uid=etl", nullptr);
    EXPECT_EQ(dialog.providerBox->currentText(), "MSDASQL.1");
    EXPECT_EQ(dialog.tblProperties->rowCount(), 2);
    EXPECT_EQ(dialog.connectTextBox->text(), "Provider=MSDASQL.1;DSN=sales;Uid=etl");
    dialog.tblProperties->item(1, 1)->setText("dw");
    dialog.providerBox->setEditText("SQLOLEDB.1");
    EXPECT_EQ(dialog.ConnectText(), "Provider=SQLOLEDB.1;DSN=sales;Uid=dw");
    EXPECT_EQ(dialog.connectTextBox->text(), dialog.ConnectText());
}
