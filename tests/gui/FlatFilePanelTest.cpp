// The flat-file panel on the offscreen platform. What the Test button's check reports of a real
// FTP site is tested below the panel (remote/FtpTest, CheckAccess).

#include "GuiTestHelpers.h"
#include "datasources/DataLink.h"
#include "gui/FlatFilePanel.h"

namespace {

DataLink ftpSource() {
    DataLink s;
    s.etlType = DataLink::FlatFiles;
    s.strDSServer = "db1";
    s.strDSDatabase = "orders";
    s.strDSUser = "sa";
    s.strDSPassword = "pw";
    s.strDSConnectString = "Provider=SQLOLEDB.1";
    s.blnDSTrustedLogin = true;
    s.strDSDirectory = "/data/orders/";
    s.intTransferData = DataLink::TransferFtp;
    s.strRemoteDir = "/out/";
    s.strFTPServer = "ftp.example";
    s.strFTPUser = "loader";
    s.strFTPPassword = "s3cret";
    s.intPollInterval = 5;
    s.intPollDuration = 120;
    return s;
}

bool hasBackground(const QLineEdit* box, const QColor& colour) {
    return box->palette().color(QPalette::Base) == colour;
}

// The controls of the remote section that follow the check box (the folder button aside).
QList<QWidget*> remoteSection(const FlatFilePanel& p) {
    return {p.lblSourceRemDataDir,      p.txtSourceRemDataDir,      p.lblSourceRemPollInterval,
            p.lblSourceRemPollDuration, p.lblPollIntMinutes,        p.lblPollDurMinutes,
            p.txtSourceRemPollInterval, p.txtSourceRemPollDuration, p.optSourceFromFTP,
            p.optSourceFromShare};
}
QList<QWidget*> ftpControls(const FlatFilePanel& p) {
    return {p.lblSourceFTPServer, p.lblSourceFTPUsername, p.lblSourceFTPPassword,
            p.txtSourceFTPServer, p.txtSourceFTPUsername, p.txtSourceFTPPassword,
            p.cmdTestFTP};
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
    EXPECT_EQ(p.cbSourceCopyRemData->isChecked(), copy);
    EXPECT_EQ(p.optSourceFromFTP->isChecked(), ftp);
    expectEnabled(remoteSection(p), copy);
    expectEnabled(ftpControls(p), copy && ftp);
    EXPECT_EQ(p.cmdSourceRemDataDir->isEnabled(), folderButton);
}

}  // namespace

TEST(FlatFilePanel, StartState) {
    FlatFilePanel p;
    EXPECT_EQ(p.lblSourceDataDir->buddy(), p.txtSourceDataDir);
    EXPECT_EQ(p.lblSourceRemPollDuration->buddy(), p.txtSourceRemPollDuration);

    expectState(p, false, false, false);
    EXPECT_TRUE(p.optSourceFromShare->isChecked());
    EXPECT_TRUE(p.txtSourceDataDir->isEnabled());
    EXPECT_TRUE(p.imgGraySourceRemDataDir->isVisibleTo(&p));
    EXPECT_FALSE(p.imgColorSourceRemDataDir->isVisibleTo(&p));
}

TEST(FlatFilePanel, BindingFtpNoTransferFtpAndShareSourcesInTurn) {
    FlatFilePanel p;
    DataLink s = ftpSource();
    p.setObjDataSource(&s);
    EXPECT_EQ(p.objDataSource(), &s);
    EXPECT_TRUE(s.strDSServer.isEmpty() && s.strDSDatabase.isEmpty() && s.strDSUser.isEmpty() &&
                s.strDSPassword.isEmpty() && s.strDSConnectString.isEmpty());
    EXPECT_FALSE(s.blnDSTrustedLogin);
    EXPECT_EQ(s.intTransferData, 1);

    QStringList shown;
    for (QLineEdit* box :
         {p.txtSourceDataDir, p.txtSourceRemDataDir, p.txtSourceFTPServer, p.txtSourceFTPUsername,
          p.txtSourceFTPPassword, p.txtSourceRemPollInterval, p.txtSourceRemPollDuration})
        shown << box->text();
    EXPECT_EQ(shown, QStringList({"/data/orders/", "/out/", "ftp.example", "loader", "s3cret", "5",
                                  "120"}));
    expectState(p, true, true, false);  // no folder browsing for FTP paths
    EXPECT_TRUE(p.imgColorSourceRemDataDir->isVisibleTo(&p));
    EXPECT_FALSE(p.imgGraySourceRemDataDir->isVisibleTo(&p));
    EXPECT_FALSE(p.IsLoading());

    // No transfer after FTP: the remote boxes empty, the section disabled, type kept at 0.
    DataLink none;
    none.etlType = DataLink::FlatFiles2;
    none.strDSDirectory = "/local/";
    none.strFTPServer = "kept";
    p.setObjDataSource(&none);
    EXPECT_EQ(none.intTransferData, 0);
    EXPECT_EQ(none.strFTPServer, "kept");
    for (QLineEdit* box : {p.txtSourceRemDataDir, p.txtSourceFTPServer, p.txtSourceFTPUsername,
                           p.txtSourceFTPPassword})
        EXPECT_TRUE(box->text().isEmpty()) << box->objectName().toStdString();
    // An emptied poll box shows the stored number.
    EXPECT_EQ(p.txtSourceRemPollInterval->text() + p.txtSourceRemPollDuration->text(), "00");
    expectState(p, false, true, false);
    EXPECT_EQ(s.strFTPServer, "ftp.example");  // the previous source is left alone

    // FTP again, with the FTP option still selected: the folder button stays disabled.
    p.setObjDataSource(&s);
    expectState(p, true, true, false);

    // Share: the FTP boxes empty and disabled, the folder button enabled, FTP values kept.
    DataLink share = ftpSource();
    share.intTransferData = DataLink::TransferShare;
    share.strRemoteDir = "//host/share/";
    p.setObjDataSource(&share);
    expectState(p, true, false, true);
    EXPECT_EQ(share.intTransferData, 2);
    EXPECT_EQ(share.strFTPServer, "ftp.example");
    EXPECT_TRUE(p.txtSourceFTPServer->text().isEmpty());
    EXPECT_EQ(p.txtSourceRemDataDir->text(), "//host/share/");
}

TEST(FlatFilePanel, CheckBoxAndOptionsSetTheTransferType) {
    FlatFilePanel p;
    DataLink s;
    s.etlType = DataLink::FlatFiles;
    p.setObjDataSource(&s);
    // The folder button follows the selected option, whatever the order of the clicks.
    const struct {
        QAbstractButton* clicked;
        int type;
        bool copy, ftp, folderButton;
    } steps[] = {
        {p.cbSourceCopyRemData, 2, true, false, true},  // Share is selected
        {p.optSourceFromFTP, 1, true, true, false},
        {p.cbSourceCopyRemData, 0, false, true, false},
        {p.cbSourceCopyRemData, 1, true, true, false},
        {p.optSourceFromShare, 2, true, false, true},
    };
    p.txtSourceRemDataDir->setText("/in");
    for (const auto& c : steps) {
        SCOPED_TRACE(c.type);
        c.clicked->click();
        EXPECT_EQ(s.intTransferData, c.type);
        expectState(p, c.copy, c.ftp, c.folderButton);
        EXPECT_EQ(s.strRemoteDir, "/in") << "stored remote values are kept";
    }
}

TEST(FlatFilePanel, PollBoxesKeepDigitsAndShowTheStoredNumber) {
    FlatFilePanel p;
    p.show();
    DataLink s = ftpSource();
    p.setObjDataSource(&s);
    const struct {
        QLineEdit* box;
        short DataLink::*field;
    } boxes[] = {{p.txtSourceRemPollInterval, &DataLink::intPollInterval},
                 {p.txtSourceRemPollDuration, &DataLink::intPollDuration}};
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
        // Deleting the last digit stores and shows 0.
        b.box->setText("7");
        b.box->end(false);
        QTest::keyClick(b.box, Qt::Key_Backspace);
        EXPECT_EQ(s.*b.field, 0);
        EXPECT_EQ(b.box->text(), "0");
        // Text that arrives without keys (pasted) is converted, not filtered.
        b.box->setText("12x");
        EXPECT_EQ(s.*b.field, 0);
        EXPECT_EQ(b.box->text(), "0");
    }
}

// The source directory gets its separator when left, stays empty when cleared, and is chosen in
// folder dialogs with their titles.
TEST(FlatFilePanel, SourceDirectoryLeftAndFolderDialogs) {
    FlatFilePanel p;
    p.show();
    DataLink s;
    s.etlType = DataLink::FlatFiles;
    s.strDSDirectory = "/start/";
    s.intTransferData = DataLink::TransferShare;
    s.strRemoteDir = "//host/in/";
    p.setObjDataSource(&s);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&p));
    p.activateWindow();
    QApplication::setActiveWindow(&p);
    p.txtSourceDataDir->setFocus();
    p.txtSourceDataDir->clear();
    p.cmdSourceDataDir->setFocus();
    EXPECT_EQ(p.txtSourceDataDir->text() + s.strDSDirectory, "");
    p.txtSourceDataDir->setFocus();
    p.txtSourceDataDir->setText("/start");
    p.cmdSourceDataDir->setFocus();
    EXPECT_EQ(s.strDSDirectory, "/start/");

    QStringList asked;
    QString answer;
    p.SetFolderChooser([&](QWidget* owner, const QString& title, const QString& start) {
        asked << title + "|" + start + "|" + (owner == p.window() ? "owner" : "other");
        return answer;
    });

    p.cmdSourceDataDir->click();  // cancelled: the box keeps its text
    EXPECT_EQ(s.strDSDirectory, "/start/");
    answer = "/chosen";
    p.cmdSourceDataDir->click();
    EXPECT_EQ(s.strDSDirectory, "/chosen/");
    QTest::mouseDClick(p.txtSourceDataDir, Qt::LeftButton);
    p.cmdSourceRemDataDir->click();
    EXPECT_EQ(s.strRemoteDir, "/chosen/");
    EXPECT_EQ(asked, QStringList({"Select local Directory.|/start/|owner",
                                  "Select local Directory.|/start/|owner",
                                  "Select local Directory.|/chosen/|owner",
                                  "Select Remote Directory.|//host/in/|owner"}));
}

