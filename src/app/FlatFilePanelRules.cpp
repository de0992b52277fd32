#include "app/FlatFilePanelRules.h"

#include <QVariant>
#include <optional>

#include "app/MainFormView.h"
#include "datasources/DataLink.h"
#include "datasources/FieldConversions.h"
#include "remote/FtpTransfer.h"
#include "util/FileUtils.h"
#include "util/RunLog.h"

namespace {

const QString kFtpCheckTitle = QStringLiteral("FTP check");

}  // namespace

bool PollBoxAcceptsKey(QChar typed) {
    return (typed >= QLatin1Char('0') && typed <= QLatin1Char('9')) || typed == QLatin1Char('\b');
}

short PollBoxValue(const QString& text) {
    if (text.trimmed().isEmpty())
        return 0;
    return GetFieldInteger(QVariant(text), 0);
}

QString SourceDirectoryOnLeave(const QString& text) {
    // An empty box stays empty: a lone separator would name the root directory as the place the
    // remote files are copied to.
    if (text.isEmpty())
        return text;
    QString path = text;
    return AddBackslash(path);
}

short TransferTypeOfCheckBox(bool checked, bool shareSelected) {
    if (!checked)
        return 0;
    return shareSelected ? DataLink::TransferShare : DataLink::TransferFtp;
}

void ClearDatabaseFields(DataLink& source) {
    source.server.clear();
    source.user.clear();
    source.password.clear();
    source.database.clear();
    source.connectString.clear();
    source.trustedLogin = false;
}

void FlatFileRemoteState::CheckBoxClicked(bool checked) {
    Checked = checked;
    ColouredIcon = checked;
    RemoteSection = checked;
    Follow();
}

void FlatFileRemoteState::FtpClicked() {
    FtpSelected = true;
    Follow();
}

void FlatFileRemoteState::ShareClicked() {
    FtpSelected = false;
    Follow();
}

void FlatFileRemoteState::Follow() {
    // Folder browsing does not reach FTP paths; the FTP controls serve FTP alone. Both follow the
    // check box and the selected option together, whatever order the events came in.
    RemoteDirButton = Checked && !FtpSelected;
    FtpControls = Checked && FtpSelected;
}

bool TestFtpConnection(MainFormView& view, const QString& server, const QString& remoteDir,
                       const QString& user, const QString& password, const RunLog& log) {
    view.SetMousePointer(MainFormView::HourglassPointer);
    const std::optional<QString> u = user.isEmpty() ? std::nullopt : std::optional<QString>(user);
    const std::optional<QString> p =
        password.isEmpty() ? std::nullopt : std::optional<QString>(password);
    QString error;
    const bool ok = FtpCheckAccess(server, QStringLiteral("status"), remoteDir, u, p, &error);
    view.SetMousePointer(MainFormView::DefaultPointer);
    if (!ok && error == FtpNoSessionText())
        log.Info(error);
    if (ok)
        log.Message(
            QStringLiteral("Check operation succeeded! The user has read and write rights."), true,
            64, kFtpCheckTitle);
    return ok;
}
