// The main window's commands and events, each a call into the form model followed by a refresh,
// the refresh itself, and what the window does as the form model's view.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDropEvent>
#include <QFileDialog>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QUrl>

#include "datasources/DataLink.h"
#include "gui/BusyPointer.h"
#include "gui/DataLinkPanels.h"
#include "gui/FlatFilePanel.h"
#include "gui/MainWindow.h"
#include "gui/ServerConnectionWidget.h"

namespace {

// Shows a list of the form model in a combo box or list widget, touching it only when it differs.
void showList(QComboBox* box, const StringChoiceList& list) {
    QStringList shown;
    for (int i = 0; i < box->count(); ++i)
        shown << box->itemText(i);
    if (shown != list.Items()) {
        box->clear();
        box->addItems(list.Items());
    }
    if (box->currentIndex() != list.CurrentIndex())
        box->setCurrentIndex(list.CurrentIndex());
}

void showList(QListWidget* box, const StringChoiceList& list) {
    QStringList shown;
    for (int i = 0; i < box->count(); ++i)
        shown << box->item(i)->text();
    if (shown != list.Items()) {
        box->clear();
        box->addItems(list.Items());
    }
    if (box->currentRow() != list.CurrentIndex())
        box->setCurrentRow(list.CurrentIndex());
}

void setText(QLineEdit* edit, const QString& text) {
    if (edit->text() != text)
        edit->setText(text);
}

// Whether the connection control shows the model's values already; Refresh would otherwise
// move the cursor of the box being typed in.
bool controlShows(const ServerConnectionWidget* control, const ServerConnectionModel& model) {
    return control->ServerBox()->currentText() == model.ServerName &&
           control->TrustedBox()->isChecked() == model.TrustedLogin &&
           control->UserBox()->text() == model.UserName &&
           control->PasswordBox()->text() == model.Password &&
           (!control->DatabaseVisible() ||
            control->DatabaseBox()->currentText() == model.DatabaseName);
}

QString panelCaption(const DataLink* source) {
    if (source == nullptr)
        return QString();
    return QStringLiteral("Data source: ") + source->name;
}

}  // namespace

void MainWindow::Call(const std::function<void()>& call) {
    call();
    RefreshFromModel();
}

void MainWindow::RefreshFromModel() {
    if (refreshing_)
        return;
    refreshing_ = true;
    const MainFormModel& f = form_;
    if (windowTitle() != f.Caption)
        setWindowTitle(f.Caption);
    executeButton->setText(f.executeCaption());
    closeButton->setText(f.closeCaption());
    executeButton->setEnabled(f.Enabled.executeButton);
    executeAction->setEnabled(f.Enabled.executeButton);
    saveButton->setEnabled(f.Enabled.saveButton);
    saveAction->setEnabled(f.Enabled.saveButton);

    if (!controlShows(packageServerWidget, f.packageServerWidget))
        packageServerWidget->Refresh();
    if (!controlShows(warehouseServerWidget, f.warehouseServerWidget))
        warehouseServerWidget->Refresh();
    RefreshLists();

    setText(errorFile, f.errorFile);
    setText(logFilesDir, f.logFilesDir);
    logFilesDir->setEnabled(f.Enabled.logFilesDir);
    logFilesDirButton->setEnabled(f.Enabled.logFilesDirButton);
    truncateErrorFile->setChecked(f.truncateErrorFile);
    truncateErrorFile->setEnabled(f.Enabled.truncateErrorFile);
    useDefaultLogFilesDir->setChecked(f.useDefaultLogFilesDir);
    showErrorFileButton->setEnabled(f.Enabled.showErrorFileButton);
    writeCompletionEvent->setChecked(f.writeCompletionEvent);

    pages->setTabEnabled(MainFormModel::DataSourcePage, f.Page2Available);
    const bool pageLeft = !pages->isTabEnabled(f.CurrentPage);
    if (pages->currentIndex() != f.CurrentPage && !pageLeft)
        pages->setCurrentIndex(f.CurrentPage);
    RefreshPanels();

    if (sbStatus->currentMessage() != f.StatusText)
        sbStatus->showMessage(f.StatusText);
    refreshing_ = false;
    // The data-source page became unavailable while it was shown: the tab control has moved to
    // another page, which the operator now sees.
    if (pageLeft)
        Call([this] { form_.ChangePage(pages->currentIndex()); });
}

void MainWindow::RefreshLists() {
    // The combo boxes and the list raise no operator events while they are refilled.
    const QSignalBlocker a(models), b(packages), c(dataLinks);
    showList(models, form_.models);
    showList(packages, form_.packages);
    showList(dataLinks, form_.dataLinks);
}

void MainWindow::RefreshPanels() {
    const int shown = static_cast<int>(form_.CurrentPanel()) - 1;  // None is -1
    for (int i = 0; i < DataLinkPanels.size(); ++i) {
        QFrame* panel = DataLinkPanels.at(i);
        if (i != shown) {
            panel->setVisible(false);
            continue;
        }
        if (auto* flatFile = qobject_cast<FlatFilePanel*>(panel)) {
            // Bound afresh whenever it is shown for another data source.
            if (flatFile->isHidden() || flatFile->DataSource() != form_.PanelDataSource())
                flatFile->SetDataSource(form_.PanelDataSource());
            QWidget* previous = dataLinks;
            for (QWidget* control : flatFile->KeyboardOrder()) {
                setTabOrder(previous, control);
                previous = control;
            }
            setTabOrder(previous, openButton);
        } else if (auto* editor = dynamic_cast<DataLinkPanel*>(panel)) {
            if (editor->isHidden() || editor->DataSource() != form_.PanelDataSource())
                editor->SetDataSource(form_.PanelDataSource());
            // The panel's controls follow the list in the keyboard order while it is shown.
            QWidget* previous = dataLinks;
            for (QWidget* control : editor->KeyboardOrder()) {
                setTabOrder(previous, control);
                previous = control;
            }
            setTabOrder(previous, openButton);
        } else if (auto* caption =
                       panel->findChild<QLabel*>(QStringLiteral("panelDataLinkLabel"))) {
            caption->setText(panelCaption(form_.PanelDataSource()));
        }
        panel->setVisible(true);
    }
}

void MainWindow::ShowPage(int page) {
    const bool was = refreshing_;
    refreshing_ = true;
    pages->setCurrentIndex(page);
    refreshing_ = was;
}

void MainWindow::FocusControl(const QString& name) {
    QWidget* control = objectName() == name ? this : findChild<QWidget*>(name);
    if (control == nullptr)
        return;
    control->setFocus(Qt::OtherFocusReason);
}

void MainWindow::SetMousePointer(int style) {
    SetPointerStyle(style);
}

void MainWindow::CloseAllWindows() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible())
            w->close();
    // A main window that was never shown still has to hear that it is gone.
    if (!isVisible())
        close();
}

void MainWindow::OpenInTextEditor(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QStringList MainWindow::LogViewers() {
    return {QStringLiteral("gnome-logs"), QStringLiteral("ksystemlog")};
}

bool MainWindow::OpenSystemLogViewer() {
    for (const QString& viewer : LogViewers()) {
        const QString program = QStandardPaths::findExecutable(viewer);
        if (!program.isEmpty() && QProcess::startDetached(program, {}))
            return true;
    }
    return false;
}

QString MainWindow::ShowFileDialog(QWidget* parent, const MainFormModel::FileDialogSettings& d) {
    QFileDialog dialog(parent, d.Title, d.Directory, d.Filter);
    dialog.setObjectName(d.Save ? QStringLiteral("cdOpenSaveConfigSave")
                                : QStringLiteral("cdOpenSaveConfig"));
    dialog.setAcceptMode(d.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(d.Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!d.DefaultExtension.isEmpty())
        dialog.setDefaultSuffix(d.DefaultExtension);
    if (!d.FileName.isEmpty())
        dialog.selectFile(d.FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

void MainWindow::NewConfiguration() {
    Call([this] { form_.NewConfiguration(); });
}

void MainWindow::OpenConfiguration() {
    const QString file = chooseFile_(this, form_.ConfigFileDialog(false));
    if (file.isEmpty())
        return;
    form_.ConfigFileChosen(file);
    Call([this, file] { form_.OpenConfiguration(file); });
}

void MainWindow::DropFile(const QString& file) {
    Call([this, file] { form_.DropFile(file); });
}

void MainWindow::SaveConfiguration() {
    if (form_.SaveNeedsName()) {
        SaveConfigurationAs();
        return;
    }
    Call([this] { form_.SaveConfiguration(); });
}

void MainWindow::SaveConfigurationAs() {
    const QString file = chooseFile_(this, form_.ConfigFileDialog(true));
    if (file.isEmpty())
        return;
    form_.ConfigFileChosen(file);
    Call([this, file] { form_.SaveConfiguration(file); });
}

void MainWindow::Execute() {
    // One run at a time: while a run is in progress Execute is disabled.
    if (!form_.Enabled.executeButton)
        return;
    Call([this] { form_.Execute(); });
}

void MainWindow::CloseCommand() {
    Call([this] { form_.Close(); });
}

void MainWindow::About() {
    QMessageBox::about(this, QStringLiteral("About Pendrill"),
                       QStringLiteral("<b>Pendrill %1</b><p>Configures and executes the ETL "
                                      "packages that load a data warehouse.</p>")
                           .arg(QCoreApplication::applicationVersion()));
}

void MainWindow::ShowErrorFile() {
    Call([this] { form_.ShowErrorFile(); });
}

void MainWindow::ShowEventViewer() {
    Call([this] { form_.ShowEventViewer(); });
}

void MainWindow::BrowseLogFile() {
    const QString file = chooseFile_(this, form_.LogFileDialog());
    Call([this, file] { form_.BrowsedLogFile(file); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The window's own close button is the Close command; during a run it only asks the run to
    // stop and the window stays.
    if (!form_.Unloaded)
        CloseCommand();
    if (!form_.Unloaded) {
        event->ignore();
        return;
    }
    event->accept();
    Q_EMIT Unloaded();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == errorFile) {
        if (type == QEvent::FocusOut) {
            // Leaving the box, not the window (a message box, a menu).
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                Call([this] { form_.LeaveLogFileBox(); });
        } else if (type == QEvent::MouseButtonDblClick) {
            BrowseLogFile();
            return true;
        }
    } else if (watched == errorFilePicture || watched == eventLogPicture) {
        bool activated = type == QEvent::MouseButtonDblClick;
        if (type == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            activated = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
        }
        if (activated) {
            if (watched == errorFilePicture)
                ShowErrorFile();
            else
                ShowEventViewer();
            return true;
        }
    } else if (watched == pages) {
        if (type == QEvent::DragEnter || type == QEvent::DragMove) {
            auto* drag = static_cast<QDropEvent*>(event);
            if (drag->mimeData()->hasUrls()) {
                drag->acceptProposedAction();
                return true;
            }
        } else if (type == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            const QList<QUrl> urls = drop->mimeData()->urls();
            if (!urls.isEmpty() && urls.constFirst().isLocalFile()) {
                drop->acceptProposedAction();
                DropFile(urls.constFirst().toLocalFile());
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
