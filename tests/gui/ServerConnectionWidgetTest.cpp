#include <functional>

#include "GuiTestHelpers.h"
#include "config/SettingsStore.h"
#include "db/ServerResolver.h"
#include "gui/ServerConnectionWidget.h"
#include "support/TestSupport.h"

namespace {

const ServerConnectionModel kWarehouse = {"Warehouse", "dwh", false, "loader", "s3cret", 3};

// Every test on a private home: the settings store and the local server's directory.
class ServerConnectionWidgetTest : public ::testing::Test {
  protected:
    testsupport::IsolatedHome home;
};

}  // namespace

TEST_F(ServerConnectionWidgetTest, ServerListHoldsLocalAndTheAliasesOfTheSettingsStore) {
    const QString key = QString::fromLatin1(ServerAliasKey);
    ASSERT_TRUE(WriteRegistryValue(key, "Warehouse", "sqlite:/x"));
    ASSERT_TRUE(WriteRegistryValue(key, "(LOCAL)", "sqlite:/y"));
    ASSERT_TRUE(WriteRegistryValue(key, "pg", "postgresql://db:5433"));

    ServerConnectionWidget control;
    EXPECT_EQ(comboItems(control.ServerBox()), QStringList({"(local)", "Warehouse", "pg"}));

    // Aliases defined later show up when the list opens again.
    ASSERT_TRUE(WriteRegistryValue(key, "odbc1", "odbc:DSN=x"));
    control.SetServerName("typed");
    control.RefreshServerList();
    EXPECT_EQ(comboItems(control.ServerBox()).last(), "odbc1");
    EXPECT_EQ(control.ServerBox()->currentText(), "typed");
}

TEST_F(ServerConnectionWidgetTest, ShowsTheBoundModelAndProgramChangesRaiseNoNotification) {
    ServerConnectionModel model = kWarehouse;
    ServerConnectionWidget control;
    QSignalSpy changed(&control, &ServerConnectionWidget::SettingsChanged);
    control.Bind(&model);

    EXPECT_EQ(QStringList({control.ServerBox()->currentText(), control.DatabaseBox()->currentText(),
                           control.UserBox()->text(), control.PasswordBox()->text()}),
              QStringList({"Warehouse", "dwh", "loader", "s3cret"}));
    EXPECT_FALSE(control.TrustedBox()->isChecked());
    EXPECT_TRUE(control.UserBox()->isEnabled());
    EXPECT_EQ(control.Status(), 3);

    // The form model changes its values (a configuration was opened) and the control follows.
    model.ServerName = "(local)";
    model.TrustedLogin = true;
    model.UserName.clear();
    control.Refresh();
    EXPECT_EQ(control.ServerBox()->currentText(), "(local)");
    EXPECT_TRUE(control.TrustedBox()->isChecked());
    EXPECT_FALSE(control.UserBox()->isEnabled());
    EXPECT_FALSE(control.PasswordBox()->isEnabled());

    control.SetDatabaseName("other");
    control.SetUserName("u");
    control.SetPassword("p");
    control.SetTrustedLogin(false);
    control.SetServerName("pg");
    EXPECT_EQ(model.DatabaseName, "other");
    EXPECT_EQ(model.ServerName, "pg");
    EXPECT_EQ(control.DatabaseBox()->currentText(), "other");
    EXPECT_EQ(control.Status(), 3);
    EXPECT_EQ(changed.count(), 0);
}

// Every operator edit reaches the model and raises SettingsChanged; the Test button raises only
// TestConnection.
TEST_F(ServerConnectionWidgetTest, OperatorEditsAndTheTestButton) {
    auto fields = [](const ServerConnectionModel& m) {
        return QStringList({m.ServerName, m.DatabaseName, m.TrustedLogin ? "trusted" : "",
                            m.UserName, m.Password})
            .join('|');
    };
    const struct {
        const char* what;
        std::function<void(ServerConnectionWidget&)> act;
        const char* fields;
    } edits[] = {
        {"test button clicked",
         [](ServerConnectionWidget& c) { QTest::mouseClick(c.TestButton(), Qt::LeftButton); },
         "Warehouse|dwh||loader|s3cret"},
        {"server typed",
         [](ServerConnectionWidget& c) {
             c.ServerBox()->lineEdit()->clear();
             QTest::keyClicks(c.ServerBox(), "pg2");
         },
         "pg2|dwh||loader|s3cret"},
        {"server chosen from the list",
         [](ServerConnectionWidget& c) { c.ServerBox()->setCurrentIndex(0); },
         "(local)|dwh||loader|s3cret"},
        {"trusted login clicked",
         [](ServerConnectionWidget& c) {
             QTest::mouseClick(c.TrustedBox(), Qt::LeftButton, {},
                               QPoint(4, c.TrustedBox()->height() / 2));
         },
         "Warehouse|dwh|trusted|loader|s3cret"},
        {"user typed", [](ServerConnectionWidget& c) { QTest::keyClicks(c.UserBox(), "x"); },
         "Warehouse|dwh||loaderx|s3cret"},
        {"password typed",
         [](ServerConnectionWidget& c) { QTest::keyClicks(c.PasswordBox(), "!"); },
         "Warehouse|dwh||loader|s3cret!"},
        {"database typed",
         [](ServerConnectionWidget& c) { QTest::keyClicks(c.DatabaseBox(), "2"); },
         "Warehouse|dwh2||loader|s3cret"},
    };
    for (const auto& e : edits) {
        SCOPED_TRACE(e.what);
        const bool test = QString(e.what).startsWith("test");
        ServerConnectionModel model = kWarehouse;
        ServerConnectionWidget control;
        control.Bind(&model);
        control.show();
        QSignalSpy changed(&control, &ServerConnectionWidget::SettingsChanged);
        QSignalSpy tested(&control, &ServerConnectionWidget::TestConnection);
        e.act(control);
        EXPECT_EQ(fields(model), e.fields);
        EXPECT_EQ(tested.count(), test ? 1 : 0);
        EXPECT_EQ(changed.count() > 0, !test);
        EXPECT_EQ(model.Status, test ? 3 : ServerConnectionWidget::StatusUnknown);
    }
}

TEST_F(ServerConnectionWidgetTest, DatabasesAreListedFromTheServer) {
    const QString dir = LocalServerDirectory();
    ASSERT_TRUE(QDir().mkpath(dir));
    for (const char* name : {"msdb.db", "Sales.db", "dwh.db"})
        ASSERT_TRUE(testsupport::writeAll(dir + "/" + name, QByteArray()));

    ServerConnectionModel model;
    model.ResetToLocal();
    model.DatabaseName = "SALES";
    ServerConnectionWidget control;
    control.Bind(&model);
    QSignalSpy changed(&control, &ServerConnectionWidget::SettingsChanged);
    control.show();
    EXPECT_EQ(control.DatabaseBox()->count(), 0);
    // Opening the list reads it from the server.
    control.DatabaseBox()->showPopup();
    control.DatabaseBox()->hidePopup();
    EXPECT_EQ(comboItems(control.DatabaseBox()), QStringList({"dwh", "msdb", "Sales"}));
    EXPECT_EQ(control.DatabaseBox()->currentText(), "Sales");

    ASSERT_TRUE(testsupport::writeAll(dir + "/crm.db", QByteArray()));
    QString error;
    ASSERT_TRUE(control.ListDatabases(&error)) << error.toStdString();
    EXPECT_EQ(comboItems(control.DatabaseBox()), QStringList({"crm", "dwh", "msdb", "Sales"}));
    EXPECT_EQ(control.DatabaseBox()->currentText(), "Sales");
    EXPECT_EQ(model.Status, 3);
    EXPECT_EQ(changed.count(), 0);

    // A database the server lacks stays typed in the box.
    model.DatabaseName = "missing";
    control.Refresh();
    ASSERT_TRUE(control.ListDatabases(&error));
    EXPECT_EQ(control.DatabaseBox()->currentText(), "missing");
    EXPECT_EQ(model.DatabaseName, "missing");

    control.SetServerName("nowhere");
    EXPECT_FALSE(control.ListDatabases(&error));
    EXPECT_TRUE(error.startsWith("Error while connecting to : nowhere")) << error.toStdString();
    EXPECT_EQ(model.Status, ServerConnectionWidget::StatusFailed);
}
