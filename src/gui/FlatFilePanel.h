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
class MainFormView;
class RunLog;

// The editor of a data source whose data are files in a directory, perhaps first fetched from an
// FTP server or a share. Every edit is written straight into the bound data source.
class FlatFilePanel : public QFrame {
    Q_OBJECT
  public:
    // Opens a folder dialog (owner, title, start folder) and returns the chosen folder, or the
    // empty text when cancelled.
    using FolderChooser =
        std::function<QString(QWidget* owner, const QString& title, const QString& start)>;

    // `view` (not owned; none: a do-nothing one) sets the pointer while the FTP check runs.
    explicit FlatFilePanel(QWidget* parent = nullptr, MainFormView* view = nullptr);

    // Binds a data source (not owned; may be null): clears its database fields, then LoadFields.
    void SetDataSource(DataLink* source);
    DataLink* DataSource() const { return source_; }

    // Where the FTP check's texts go: the window's run log (not owned). Without one, a run log
    // without file whose texts go to the operator.
    void SetRunLog(const RunLog* log) { runLog_ = log; }
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
    MainFormView* view_;
    const RunLog* runLog_ = nullptr;

  public:
    QLabel* directoryIntro = nullptr;
    QLabel* directoryLabel = nullptr;
    QLineEdit* directoryBox = nullptr;
    QPushButton* directoryButton = nullptr;
    QLabel* remoteIntro = nullptr;
    QCheckBox* copyRemoteDataBox = nullptr;
    QRadioButton* fromFtpOption = nullptr;
    QRadioButton* fromShareOption = nullptr;
    QLabel* remoteDirectoryLabel = nullptr;
    QLineEdit* remoteDirectoryBox = nullptr;
    QPushButton* remoteDirectoryButton = nullptr;
    QLabel* ftpServerLabel = nullptr;
    QLineEdit* ftpServerBox = nullptr;
    QLabel* ftpUserLabel = nullptr;
    QLineEdit* ftpUserBox = nullptr;
    QLabel* ftpPasswordLabel = nullptr;
    QLineEdit* ftpPasswordBox = nullptr;
    QPushButton* testFtpButton = nullptr;
    QLabel* pollIntervalLabel = nullptr;
    QLineEdit* pollIntervalBox = nullptr;
    QLabel* pollIntervalUnitLabel = nullptr;
    QLabel* pollDurationLabel = nullptr;
    QLineEdit* pollDurationBox = nullptr;
    QLabel* pollDurationUnitLabel = nullptr;
    QLabel* remoteColourPicture = nullptr;
    QLabel* remoteGreyPicture = nullptr;
};
