// The flat-file panel on the offscreen platform. What the Test button's check reports of a real
// FTP site is tested below the panel (remote/FtpTest, CheckAccess).

#include "GuiTestHelpers.h"
#include "datasources/DataLink.h"
#include "gui/FlatFilePanel.h"

namespace {

DataLink ftpSource() {
    DataLink s;
    s.etlType = DataLink::FlatFiles;
    s.server = "db1";
    s.database = "orders";
    s.user = "sa";
    s.password = "pw";
    s.connectString = "Provider=SQLOLEDB.1";
    s.trustedLogin = true;
    s.directory = "/data/orders/";
    s.transferData = DataLink::TransferFtp;
    s.remoteDirectory = "/out/";
    s.ftpServer = "ftp.example";
    s.ftpUser = "loader";
    s.ftpPassword = "s3cret";
    s.pollInterval = 5;
    s.pollDuration = 120;
    return s;
}

bool hasBackground(const QLineEdit* box, const QColor& colour) {
    return box->palette().color(QPalette::Base) == colour;
}

// The controls of the remote section that follow the check box (the folder button aside).
QList<QWidget*> remoteSection(const FlatFilePanel& p) {
    return {p.remoteDirectoryLabel, p.remoteDirectoryBox,    p.pollIntervalLabel,
            p.pollDurationLabel,    p.pollIntervalUnitLabel, p.pollDurationUnitLabel,
            p.pollIntervalBox,      p.pollDurationBox,       p.fromFtpOption,
            p.fromShareOption};
}
QList<QWidget*> ftpControls(const FlatFilePanel& p) {
    return {p.ftpServerLabel, p.ftpUserLabel,   p.ftpPasswordLabel, p.ftpServerBox,
            p.ftpUserBox,     p.ftpPasswordBox, p.testFtpButton};
}

void expectEnabled(const QList<QWidget*>& controls, bool enabled) {
    for (QWidget* w : controls) {
        EXPECT_EQ(w->isEnabled(), enabled) << w->objectName().toStdString();
        if (auto* box = qobject_cast<QLineEdit*>(w)) {
            EXPECT_TRUE(hasBackground(
                box, QApplication::palette().color(enabled ? QPalette::Base : QPalette::Button)))
                << w->objectName().toStdString();
        }
    }
}

// The check box and option states with the enable states that follow from them: the remote
// section with the check box, the FTP controls with FTP as well; the folder button as given.
void expectState(const FlatFilePanel& p, bool copy, bool ftp, bool folderButton) {
    EXPECT_EQ(p.copyRemoteDataBox->isChecked(), copy);
    EXPECT_EQ(p.fromFtpOption->isChecked(), ftp);
    expectEnabled(remoteSection(p), copy);
    expectEnabled(ftpControls(p), copy && ftp);
    EXPECT_EQ(p.remoteDirectoryButton->isEnabled(), folderButton);
}

}  // namespace

TEST(FlatFilePanel, BindingFtpNoTransferFtpAndShareSourcesInTurn) {
    FlatFilePanel p;
    DataLink s = ftpSource();
    p.SetDataSource(&s);
    EXPECT_EQ(p.DataSource(), &s);
    EXPECT_TRUE(s.server.isEmpty() && s.database.isEmpty() && s.user.isEmpty() &&
                s.password.isEmpty() && s.connectString.isEmpty());
    EXPECT_FALSE(s.trustedLogin);
    EXPECT_EQ(s.transferData, 1);

    QStringList shown;
    for (QLineEdit* box : {p.directoryBox, p.remoteDirectoryBox, p.ftpServerBox, p.ftpUserBox,
                           p.ftpPasswordBox, p.pollIntervalBox, p.pollDurationBox})
        shown << box->text();
    EXPECT_EQ(shown, QStringList({"/data/orders/", "/out/", "ftp.example", "loader", "s3cret", "5",
                                  "120"}));
    expectState(p, true, true, false);  // no folder browsing for FTP paths
    EXPECT_TRUE(p.remoteColourPicture->isVisibleTo(&p));
    EXPECT_FALSE(p.remoteGreyPicture->isVisibleTo(&p));
    EXPECT_FALSE(p.IsLoading());

    // No transfer after FTP: the remote boxes empty, the section disabled, type kept at 0.
    DataLink none;
    none.etlType = DataLink::FlatFiles2;
    none.directory = "/local/";
    none.ftpServer = "kept";
    p.SetDataSource(&none);
    EXPECT_EQ(none.transferData, 0);
    EXPECT_EQ(none.ftpServer, "kept");
    for (QLineEdit* box : {p.remoteDirectoryBox, p.ftpServerBox, p.ftpUserBox, p.ftpPasswordBox})
        EXPECT_TRUE(box->text().isEmpty()) << box->objectName().toStdString();
    // An emptied poll box shows the stored number.
    EXPECT_EQ(p.pollIntervalBox->text() + p.pollDurationBox->text(), "00");
    expectState(p, false, true, false);
    EXPECT_EQ(s.ftpServer, "ftp.example");  // the previous source is left alone

    // Share: the FTP boxes empty and disabled, the folder button enabled, FTP values kept.
    DataLink share = ftpSource();
    share.transferData = DataLink::TransferShare;
    share.remoteDirectory = "//host/share/";
    p.SetDataSource(&share);
    expectState(p, true, false, true);
    EXPECT_EQ(share.transferData, 2);
    EXPECT_EQ(share.ftpServer, "ftp.example");
    EXPECT_TRUE(p.ftpServerBox->text().isEmpty());
    EXPECT_EQ(p.remoteDirectoryBox->text(), "//host/share/");
}

TEST(FlatFilePanel, CheckBoxAndOptionsSetTheTransferType) {
    FlatFilePanel p;
    DataLink s;
    s.etlType = DataLink::FlatFiles;
    p.SetDataSource(&s);
    // The folder button follows the selected option, whatever the order of the clicks.
    const struct {
        QAbstractButton* clicked;
        int type;
        bool copy, ftp, folderButton;
    } steps[] = {
        {p.copyRemoteDataBox, 2, true, false, true},  // Share is selected
        {p.fromFtpOption, 1, true, true, false},     {p.copyRemoteDataBox, 0, false, true, false},
        {p.copyRemoteDataBox, 1, true, true, false}, {p.fromShareOption, 2, true, false, true},
    };
    p.remoteDirectoryBox->setText("/in");
    for (const auto& c : steps) {
        SCOPED_TRACE(c.type);
        c.clicked->click();
        EXPECT_EQ(s.transferData, c.type);
        expectState(p, c.copy, c.ftp, c.folderButton);
        EXPECT_EQ(s.remoteDirectory, "/in") << "stored remote values are kept";
    }
}

TEST(FlatFilePanel, PollBoxesKeepDigitsAndShowTheStoredNumber) {
    FlatFilePanel p;
    p.show();
    DataLink s = ftpSource();
    p.SetDataSource(&s);
    const struct {
        QLineEdit* box;
        short DataLink::*field;
    } boxes[] = {{p.pollIntervalBox, &DataLink::pollInterval},
                 {p.pollDurationBox, &DataLink::pollDuration}};
    // Which texts give which numbers is checked below the panel; here the keys are filtered.
    const struct {
        const char* typed;
        short stored;
        const char* shown;
    } cases[] = {{"04a-5 ", 45, "45"}, {"", 0, "0"}};
    for (const auto& b : boxes) {
        for (const auto& c : cases) {
            b.box->setFocus();
            b.box->selectAll();
            QTest::keyClick(b.box, Qt::Key_Backspace);
            QTest::keyClicks(b.box, QString::fromLatin1(c.typed));
            EXPECT_EQ(s.*b.field, c.stored) << c.typed;
            EXPECT_EQ(b.box->text(), c.shown) << c.typed;
        }
        // Text that arrives without keys (pasted) is converted, not filtered.
        b.box->setText("12x");
        EXPECT_EQ(s.*b.field, 0);
        EXPECT_EQ(b.box->text(), "0");
    }
}

// The source directory gets its separator when left (which texts give what: app/FlatFilePanelRules)
// and is chosen in folder dialogs with their titles.
TEST(FlatFilePanel, SourceDirectoryLeftAndFolderDialogs) {
    FlatFilePanel p;
    p.show();
    DataLink s;
    s.etlType = DataLink::FlatFiles;
    s.directory = "/start/";
    s.transferData = DataLink::TransferShare;
    s.remoteDirectory = "//host/in/";
    p.SetDataSource(&s);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&p));
    p.activateWindow();
    QApplication::setActiveWindow(&p);
    p.directoryBox->setFocus();
    p.directoryBox->setText("/start");
    p.directoryButton->setFocus();
    EXPECT_EQ(s.directory, "/start/");

    QStringList asked;
    QString answer;
    p.SetFolderChooser([&](QWidget* owner, const QString& title, const QString& start) {
        asked << title + "|" + start + "|" + (owner == p.window() ? "owner" : "other");
        return answer;
    });

    p.directoryButton->click();  // cancelled: the box keeps its text
    EXPECT_EQ(s.directory, "/start/");
    answer = "/chosen";
    p.directoryButton->click();
    EXPECT_EQ(s.directory, "/chosen/");
    QTest::mouseDClick(p.directoryBox, Qt::LeftButton);
    p.remoteDirectoryButton->click();
    EXPECT_EQ(s.remoteDirectory, "/chosen/");
    EXPECT_EQ(asked, QStringList({"Select local Directory.|/start/|owner",
                                  "Select local Directory.|/start/|owner",
                                  "Select local Directory.|/chosen/|owner",
                                  "Select Remote Directory.|//host/in/|owner"}));
}
