#pragma once

#include <QString>

class DataLink;
class MainFormView;
class RunLog;

// Rules of the flat-file data-link editor that need no widget: the poll boxes' key filter and
// number conversion, the source directory's separator, the transfer type the check box and the
// options give, and the FTP access check the panel's Test button runs.

// True for the keys a poll box accepts: the digits "0" to "9" and Backspace.
bool PollBoxAcceptsKey(QChar typed);

// The 16-bit value of a poll box's text: a number gives its value, a value above 32767 gives
// 32767, empty or other text gives 0.
short PollBoxValue(const QString& text);

// The text a source directory box holds after it loses the focus: ended by a separator; an empty
// box stays empty.
QString SourceDirectoryOnLeave(const QString& text);

// transferData for the check box: 0 when clear; when checked 2 with Share selected, else 1.
short TransferTypeOfCheckBox(bool checked, bool shareSelected);

// A file data source does not use the database fields: server, user, password, database and
// connection text become empty and the trusted-login flag false.
void ClearDatabaseFields(DataLink& source);

// What the controls of the remote section show, after the events that reach the panel (the check
// box, the two options). The folder button and the FTP controls always match the check box and the
// selected option: the folder button only for a share, the FTP controls only for FTP.
struct FlatFileRemoteState {
    bool Checked = false;          // copyRemoteDataBox
    bool FtpSelected = false;      // fromFtpOption selected (else Share)
    bool RemoteSection = false;    // remote-directory label and box, poll labels and boxes, options
    bool RemoteDirButton = false;  // remoteDirectoryButton
    bool FtpControls = false;      // FTP labels, boxes and the Test button
    bool ColouredIcon = false;     // remoteColourPicture shown (else the grey one)

    // The check box was set or cleared.
    void CheckBoxClicked(bool checked);
    // The FTP option was selected.
    void FtpClicked();
    // The Share option was selected.
    void ShareClicked();

  private:
    void Follow();
};

// Runs the Test connection of the flat-file editor with the texts of its boxes through
// FtpCheckAccess (src/remote/FtpTransfer.h), which shows its own failure messages titled
// "FTP check": the file name "status", an empty user or password box passes no value (anonymous
// login); `view` shows the busy pointer meanwhile. A session that cannot start is logged to
// `log` without a box. On success logs "Check operation succeeded! The user has read and write
// rights." with an information box titled "FTP check".
bool TestFtpConnection(MainFormView& view, const QString& server, const QString& remoteDir,
                       const QString& user, const QString& password, const RunLog& log);
