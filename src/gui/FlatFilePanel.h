#pragma once

#include <QFrame>
#include <functional>

#include "app/FlatFilePanelRules.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class DataLink;

// The editor of a data source whose data are files in a directory, perhaps first fetched from an
// FTP server or a share. Every edit is written straight into the bound data source.
class FlatFilePanel : public QFrame {
    Q_OBJECT
  public:
    // Opens a folder dialog (owner, title, start folder) and returns the chosen folder, or the
    // empty text when cancelled.
    using FolderChooser =
        std::function<QString(QWidget* owner, const QString& title, const QString& start)>;

    explicit FlatFilePanel(QWidget* parent = nullptr);

    // Binds a data source (not owned; may be null): clears its database fields, then LoadFields.
    void setObjDataSource(DataLink* source);
    DataLink* objDataSource() const { return source_; }

    // Replaces the folder dialog (tests).
    void SetFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }
    // The folder dialog of the system: QFileDialog::getExistingDirectory.
    static QString BrowseForFolder(QWidget* owner, const QString& title, const QString& start);

    // The panel's input controls in keyboard order.
    QList<QWidget*> KeyboardOrder() const;

    // Copies the data source into the controls.
    void LoadFields();
    // True while LoadFields runs; the change handlers do not write back then.
    bool IsLoading() const { return isLoading_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CheckBoxClicked();
    void FtpClicked();
    void ShareClicked();
    void PollChanged(QLineEdit* box, short DataLink::*field);
    void BrowseSource();
    void BrowseRemote();
    void TestConnection();
    void ApplyState();

    DataLink* source_ = nullptr;
    bool isLoading_ = false;
    FlatFileRemoteState state_;
    FolderChooser chooseFolder_;

  public:
    QLabel* Label4 = nullptr;
    QLabel* lblSourceDataDir = nullptr;
    QLineEdit* txtSourceDataDir = nullptr;
    QPushButton* cmdSourceDataDir = nullptr;
    QLabel* Label18 = nullptr;
    QCheckBox* cbSourceCopyRemData = nullptr;
    QRadioButton* optSourceFromFTP = nullptr;
    QRadioButton* optSourceFromShare = nullptr;
    QLabel* lblSourceRemDataDir = nullptr;
    QLineEdit* txtSourceRemDataDir = nullptr;
    QPushButton* cmdSourceRemDataDir = nullptr;
    QLabel* lblSourceFTPServer = nullptr;
    QLineEdit* txtSourceFTPServer = nullptr;
    QLabel* lblSourceFTPUsername = nullptr;
    QLineEdit* txtSourceFTPUsername = nullptr;
    QLabel* lblSourceFTPPassword = nullptr;
    QLineEdit* txtSourceFTPPassword = nullptr;
    QPushButton* cmdTestFTP = nullptr;
    QLabel* lblSourceRemPollInterval = nullptr;
    QLineEdit* txtSourceRemPollInterval = nullptr;
    QLabel* lblPollIntMinutes = nullptr;
    QLabel* lblSourceRemPollDuration = nullptr;
    QLineEdit* txtSourceRemPollDuration = nullptr;
    QLabel* lblPollDurMinutes = nullptr;
    QLabel* imgColorSourceRemDataDir = nullptr;
    QLabel* imgGraySourceRemDataDir = nullptr;
};
