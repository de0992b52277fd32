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
    InteractiveForm form;  // its run log, handed to a panel, shows the panel's boxes
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

    // A panel shows its type's fields and writes edits through; the fields it clears are checked
    // below the panels (app/DataLinkPanelRulesTest), the other panels' binding in their tests.
    DataLink o = everyField(6);
    oracle.SetDataSource(&o);
    EXPECT_EQ(oracle.oracleDatabaseBox->currentText() + "|" + o.file, "db|");
    oracle.oracleServerBox->setText("edited");
    EXPECT_EQ(o.server, "edited");
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

TEST_F(DataLinkPanelsTest, DataLinkFileAndConnectTextEditor) {
    UdlPanel udl;
    udl.SetRunLog(&form.Log);
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
    EXPECT_EQ(shown, QStringList{"Provider=SQLOLEDB;Data Source=srv"});

    ConnectTextDialog dialog("Provider=MSDASQL.1;DSN=sales;Uid=etl", nullptr);
    EXPECT_EQ(dialog.providerBox->currentText(), "MSDASQL.1");
    EXPECT_EQ(dialog.tblProperties->rowCount(), 2);
    EXPECT_EQ(dialog.connectTextBox->text(), "Provider=MSDASQL.1;DSN=sales;Uid=etl");
    dialog.tblProperties->item(1, 1)->setText("dw");
    dialog.providerBox->setEditText("SQLOLEDB.1");
    EXPECT_EQ(dialog.ConnectText(), "Provider=SQLOLEDB.1;DSN=sales;Uid=dw");
    EXPECT_EQ(dialog.connectTextBox->text(), dialog.ConnectText());
}
