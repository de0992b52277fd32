// The flat-file panel's Test connection against a real FTP server on loopback, through the same
// FtpCheckAccess the program installs at start-up.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>

#include "datasources/FlatFileLink.h"
#include "datasources/cDataSource.h"
#include "gui/ctDLlFlatFile.h"
#include "remote/FtpFuncModule.h"
#include "support/RecordingOperator.h"
#include "support/TestFtp.h"
#include "support/TestSupport.h"
#include "util/ProgramState.h"

using testsupport::FtpServerOptions;
using testsupport::TestFtp;

TEST(FlatFileFtpCheck, TestConnectionReportsTheUsersRights) {
    if (!TestFtp::available())
        GTEST_SKIP() << "python3-pyftpdlib is not installed";
    testsupport::IsolatedHome home;
    testsupport::setFtpTimeouts(20, 20);
    const QString site = home.file("site");
    QDir().mkpath(site + "/in");
    testsupport::writeAll(site + "/in/status", "idle\r\n");
    const QString logPath = home.file("run.log");
    ProgramState::SetExceptionFileSource([&] { return logPath; });
    ProgramState::StartInConfigMode = true;
    // Undone however the test ends: the other GUI tests share these globals.
    struct Restore {
        ~Restore() {
            SetOperator(nullptr);
            SetFtpCheckAccess({});
            ProgramState::StartInConfigMode = false;
            ProgramState::SetExceptionFileSource(nullptr);
        }
    } restore;
    SetFtpCheckAccess([](const QString& server, const QString& fileName, const QString& remoteDir,
                         const std::optional<QString>& user,
                         const std::optional<QString>& password) {
        return FtpCheckAccess(server, fileName, remoteDir, user, password);
    });

    FtpServerOptions readOnly;
    readOnly.readOnlyUser = "reader:pw";
    FtpServerOptions refusing;
    refusing.refuseLogin = true;
    const struct {
        const char* name;
        FtpServerOptions options;
        QString user, password, box;
    } cases[] = {
        {"read and write",
         {},
         "pendrill",
         "secret",
         "64|FTP check|Check operation succeeded! The user has read and write rights."},
        {"read only", readOnly, "reader", "pw",
         "48|FTP check|Error occurred! The user doesn't have write rights!"},
        {"login refused", refusing, "pendrill", "secret",
         "48|FTP check|Login failed! FTP site doesn't exist or the password is incorrect!"},
    };
    for (const auto& c : cases) {
        TestFtp ftp;
        ASSERT_TRUE(ftp.start(site, c.options)) << ftp.error().toStdString();
        cDataSource s;
        s.etlType = cDataSource::FlatFiles;
        s.strDSDirectory = home.file("local") + "/";
        s.intTransferData = cDataSource::TransferFtp;
        s.strRemoteDir = "in";
        s.strFTPServer = ftp.server();
        s.strFTPUser = c.user;
        s.strFTPPassword = c.password;
        ctDLlFlatFile panel;
        panel.setObjDataSource(&s);
        ASSERT_EQ(panel.txtSourceFTPServer->text(), ftp.server()) << c.name;

        RecordingOperator op;
        SetOperator(&op);
        panel.cmdTestFTP->click();
        SetOperator(nullptr);
        EXPECT_EQ(op.boxes.join('\n').toStdString(), c.box.toStdString()) << c.name;
        EXPECT_EQ(op.pointers, QList<int>({OperatorInterface::HourglassPointer,
                                           OperatorInterface::DefaultPointer}))
            << c.name;
        EXPECT_FALSE(QFile::exists(site + "/in/statustest")) << c.name;
    }
}
