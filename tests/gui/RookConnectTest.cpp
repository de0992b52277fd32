#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <functional>

#include "GuiTestHelpers.h"
#include "config/CRegSettings.h"
#include "db/ServerResolver.h"
#include "gui/uRookConnect.h"
#include "support/TestSupport.h"

namespace {

RookConnectModel warehouseModel() {
    RookConnectModel m;
    m.ServerName = QStringLiteral("Warehouse");
    m.DatabaseName = QStringLiteral("dwh");
    m.TrustedLogin = false;
    m.UserName = QStringLiteral("loader");
    m.Password = QStringLiteral("s3cret");
    m.Status = 3;
    return m;
}

// Every test on a private home: the settings store and the local server's directory.
class uRookConnectTest : public ::testing::Test {
  protected:
    testsupport::IsolatedHome home;
};

}  // namespace

TEST_F(uRookConnectTest, ServerListHoldsLocalAndTheAliasesOfTheSettingsStore) {
    const QString key = QString::fromLatin1(ServerAliasKey);
    ASSERT_TRUE(WriteRegistryValue(key, QStringLiteral("Warehouse"), QStringLiteral("sqlite:/x")));
    ASSERT_TRUE(WriteRegistryValue(key, QStringLiteral("(LOCAL)"), QStringLiteral("sqlite:/y")));
    ASSERT_TRUE(
        WriteRegistryValue(key, QStringLiteral("pg"), QStringLiteral("postgresql://db:5433")));

    uRookConnect control;
    EXPECT_EQ(comboItems(control.ServerBox()), QStringList({"(local)", "Warehouse", "pg"}));

    // Aliases defined later show up when the list opens again.
    ASSERT_TRUE(WriteRegistryValue(key, QStringLiteral("odbc1"), QStringLiteral("odbc:DSN=x")));
    control.SetServerName(QStringLiteral("typed"));
    control.RefreshServerList();
    EXPECT_EQ(comboItems(control.ServerBox()).last(), "odbc1");
    EXPECT_EQ(control.ServerBox()->currentText(), "typed");
}

TEST_F(uRookConnectTest, ShowsTheBoundModelAndProgramChangesRaiseNoNotification) {
    RookConnectModel model = warehouseModel();
    uRookConnect control;
    QSignalSpy changed(&control, &uRookConnect::SettingsChanged);
    control.Bind(&model);

    EXPECT_EQ(QStringList({control.ServerBox()->currentText(), control.DatabaseBox()->currentText(),
                           control.UserBox()->text(), control.PasswordBox()->text()}),
              QStringList({"Warehouse", "dwh", "loader", "s3cret"}));
    EXPECT_FALSE(control.TrustedBox()->isChecked());
    EXPECT_TRUE(control.UserBox()->isEnabled());
    EXPECT_EQ(control.Status(), 3);

    // The form model changes its values (a configuration was opened) and the control follows.
    model.ServerName = QStringLiteral("(local)");
    model.TrustedLogin = true;
    model.UserName.clear();
    control.Refresh();
    EXPECT_EQ(control.ServerBox()->currentText(), "(local)");
    EXPECT_TRUE(control.TrustedBox()->isChecked());
    EXPECT_FALSE(control.UserBox()->isEnabled());
    EXPECT_FALSE(control.PasswordBox()->isEnabled());

    control.SetDatabaseName(QStringLiteral("other"));
    control.SetUserName(QStringLiteral("u"));
    control.SetPassword(QStringLiteral("p"));
    control.SetTrustedLogin(false);
    control.SetServerName(QStringLiteral("pg"));
    EXPECT_EQ(model.DatabaseName, "other");
    EXPECT_EQ(model.ServerName, "pg");
    EXPECT_EQ(control.DatabaseBox()->currentText(), "other");
    EXPECT_EQ(control.Status(), 3);
    EXPECT_EQ(changed.count(), 0);
}

// Every operator edit reaches the model and raises SettingsChanged; the Test button raises only
// TestConnection.
TEST_F(uRookConnectTest, OperatorEditsAndTheTestButton) {
    struct Edit {
        const char* what;
        std::function<void(uRookConnect&)> act;
        std::function<bool(const RookConnectModel&)> check;
        bool test = false;
    };
    const Edit edits[] = {
        {"test button clicked",
         [](uRookConnect& c) { QTest::mouseClick(c.TestButton(), Qt::LeftButton); },
         [](const RookConnectModel& m) { return m.ServerName == "Warehouse" && m.Status == 3; },
         true},
        {"server typed",
         [](uRookConnect& c) {
             c.ServerBox()->lineEdit()->clear();
             QTest::keyClicks(c.ServerBox(), "pg2");
         },
         [](const RookConnectModel& m) { return m.ServerName == "pg2"; }},
        {"server chosen from the list", [](uRookConnect& c) { c.ServerBox()->setCurrentIndex(0); },
         [](const RookConnectModel& m) { return m.ServerName == "(local)"; }},
        {"trusted login clicked",
         [](uRookConnect& c) {
             QTest::mouseClick(c.TrustedBox(), Qt::LeftButton, {},
                               QPoint(4, c.TrustedBox()->height() / 2));
         },
         [](const RookConnectModel& m) { return m.TrustedLogin; }},
        {"user typed", [](uRookConnect& c) { QTest::keyClicks(c.UserBox(), "x"); },
         [](const RookConnectModel& m) { return m.UserName == "loaderx"; }},
        {"password typed", [](uRookConnect& c) { QTest::keyClicks(c.PasswordBox(), "!"); },
         [](const RookConnectModel& m) { return m.Password == "s3cret!"; }},
        {"database typed", [](uRookConnect& c) { QTest::keyClicks(c.DatabaseBox(), "2"); },
         [](const RookConnectModel& m) { return m.DatabaseName == "dwh2"; }},
    };
    for (const Edit& e : edits) {
        SCOPED_TRACE(e.what);
        RookConnectModel model = warehouseModel();
        uRookConnect control;
        control.Bind(&model);
        control.show();
        QSignalSpy changed(&control, &uRookConnect::SettingsChanged);
        QSignalSpy tested(&control, &uRookConnect::TestConnection);
        e.act(control);
        EXPECT_TRUE(e.check(model));
        EXPECT_EQ(tested.count(), e.test ? 1 : 0);
        if (e.test) {
            EXPECT_EQ(changed.count(), 0);
        } else {
            EXPECT_GE(changed.count(), 1);
            EXPECT_EQ(model.Status, uRookConnect::StatusUnknown);
        }
    }
}

TEST_F(uRookConnectTest, KeyboardFocusGoesToTheServerBox) {
    QWidget window;
    auto* other = new QLineEdit(&window);
    auto* control = new uRookConnect(&window);
    control->move(0, 30);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    other->setFocus();
    control->setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(control->ServerBox()->hasFocus());
}

TEST_F(uRookConnectTest, DatabasesAreListedFromTheServer) {
    const QString dir = LocalServerDirectory();
    ASSERT_TRUE(QDir().mkpath(dir));
    for (const char* name : {"msdb.db", "Sales.db", "dwh.db"})
        ASSERT_TRUE(testsupport::writeAll(dir + "/" + name, QByteArray()));

    RookConnectModel model;
    model.ResetToLocal();
    model.DatabaseName = QStringLiteral("SALES");
    uRookConnect control;
    control.Bind(&model);
    QSignalSpy changed(&control, &uRookConnect::SettingsChanged);
    control.show();
    EXPECT_EQ(control.DatabaseBox()->count(), 0);
    // Opening the list reads it from the server.
    control.DatabaseBox()->showPopup();
    control.DatabaseBox()->hidePopup();
    EXPECT_EQ(comboItems(control.DatabaseBox()), QStringList({"dwh", "msdb", "Sales"}));
    EXPECT_EQ(control.DatabaseBox()->currentText(), "Sales");

    ASSERT_TRUE(testsupport::writeAll(dir + "/crm.db", QByteArray()));
    QString error;
    ASSERT_TRUE(control.ListDatabases(error)) << error.toStdString();
    EXPECT_EQ(comboItems(control.DatabaseBox()), QStringList({"crm", "dwh", "msdb", "Sales"}));
    EXPECT_EQ(control.DatabaseBox()->currentText(), "Sales");
    EXPECT_EQ(model.Status, 3);
    EXPECT_EQ(changed.count(), 0);

    // A database the server lacks stays typed in the box.
    model.DatabaseName = QStringLiteral("missing");
    control.Refresh();
    ASSERT_TRUE(control.ListDatabases(error));
    EXPECT_EQ(control.DatabaseBox()->currentText(), "missing");
    EXPECT_EQ(model.DatabaseName, "missing");

    control.SetServerName(QStringLiteral("nowhere"));
    EXPECT_FALSE(control.ListDatabases(error));
    EXPECT_TRUE(error.startsWith("Error while connecting to : nowhere")) << error.toStdString();
    EXPECT_EQ(model.Status, uRookConnect::StatusFailed);
}
