#pragma once

#include <QMainWindow>
#include <functional>

#include "app/MainFormModel.h"
#include "app/MainFormView.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QStatusBar;
class QTabWidget;
class ServerConnectionWidget;

// The main window MainFormModel: the widgets that show the form model and forward the operator's
// events to it. Every rule is the form model's; after each call into it the window reads the whole
// model again (RefreshFromModel), because the model sends no notifications. It is the form
// model's view while it exists (pointer, page, focus, closing, desktop programs).
class MainWindow : public QMainWindow, public MainFormView {
    Q_OBJECT

  public:
    // Answers a file dialog: the chosen file, or the empty text when the operator cancelled.
    using FileChooser =
        std::function<QString(QWidget* parent, const MainFormModel::FileDialogSettings&)>;

    // The window of `form` (not owned; it outlives the window), which it hands itself as view.
    explicit MainWindow(MainFormModel& form, QWidget* parent = nullptr);
    ~MainWindow() override;

    MainFormModel& Form() { return form_; }
    // Shows every value, text, enabled state and list of the form model.
    void RefreshFromModel();

    // Replaces the file dialogs (tests answer them); the default shows a QFileDialog.
    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    static QString ShowFileDialog(QWidget* parent, const MainFormModel::FileDialogSettings& d);

    // ---- The form model's view.
    // Sets the pointer of every window of the program (gui/BusyPointer.h).
    void SetMousePointer(int style) override;
    // Brings a page of the tab control to the front without the page-change reaction.
    void ShowPage(int page) override;
    // Moves the keyboard focus to the control of that name; a control that takes no focus
    // itself passes it to its first child that does.
    void FocusControl(const QString& name) override;
    // Closes every visible window of the program, and this one even when it was never shown.
    void CloseAllWindows() override;
    void OpenInTextEditor(const QString& path) override;
    // Starts the first of LogViewers() that is installed.
    bool OpenSystemLogViewer() override;
    // The desktop log viewers looked for, in order.
    static QStringList LogViewers();

    // ---- The commands, as the buttons and menu entries call them.
    void NewConfiguration();
    void OpenConfiguration();
    void SaveConfiguration();
    void SaveConfigurationAs();
    void Execute();
    void CloseCommand();
    void About();
    void ShowErrorFile();
    void ShowEventViewer();
    void BrowseLogFile();
    void DropFile(const QString& file);

  Q_SIGNALS:
    // The form model was unloaded and the window has closed.
    void Unloaded();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildMenus();
    QWidget* BuildPackagePage();
    QWidget* BuildWarehousePage();
    QWidget* BuildDataSourcePage();
    void BuildKeyboardOrder();
    void ConnectControls();
    // Runs a call into the form model and shows the outcome.
    void Call(const std::function<void()>& call);
    void RefreshLists();
    void RefreshPanels();

    MainFormModel& form_;
    FileChooser chooseFile_;
    bool refreshing_ = false;

  public:
    // ---- The controls, named as in the form, for the keyboard order and for tests.
    QAction* newAction = nullptr;
    QAction* openAction = nullptr;
    QAction* saveAction = nullptr;
    QAction* saveAsAction = nullptr;
    QAction* executeAction = nullptr;
    QAction* exitAction = nullptr;
    QAction* aboutAction = nullptr;
    QMenu* fileMenu = nullptr;
    QMenu* helpMenu = nullptr;

    QFrame* pagesFrame = nullptr;
    QTabWidget* pages = nullptr;
    QPushButton* openButton = nullptr;
    QPushButton* saveButton = nullptr;
    QPushButton* executeButton = nullptr;
    QPushButton* closeButton = nullptr;
    QStatusBar* sbStatus = nullptr;

    ServerConnectionWidget* packageServerWidget = nullptr;
    QComboBox* models = nullptr;
    QComboBox* packages = nullptr;
    QLineEdit* errorFile = nullptr;
    QPushButton* errorFileButton = nullptr;
    QCheckBox* truncateErrorFile = nullptr;
    QPushButton* showErrorFileButton = nullptr;
    QLineEdit* logFilesDir = nullptr;
    QCheckBox* useDefaultLogFilesDir = nullptr;
    QPushButton* logFilesDirButton = nullptr;
    QLabel* errorFilePicture = nullptr;

    ServerConnectionWidget* warehouseServerWidget = nullptr;
    QCheckBox* writeCompletionEvent = nullptr;
    QLabel* eventLogPicture = nullptr;

    QListWidget* dataLinks = nullptr;
    // The editor panels, in the order of MainFormModel::DataLinkPanel (SQLServer first).
    QList<QFrame*> DataLinkPanels;
};
