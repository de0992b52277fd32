#include "gui/GuiOperator.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QStatusBar>
#include <QUrl>

#include "gui/CopyProgressWindow.h"
#include "gui/MainWindow.h"
#include "util/StopFlags.h"

void GuiOperator::ProcessPendingEvents() {
    QApplication::processEvents();
}

void GuiOperator::ShowMessageBox(const QString& text, int style, const QString& title) {
    // The program is ending: nobody is left to close the box.
    if (StopFlags::TerminationSignalled)
        return;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (style & 0x70) {
        case 16:
            icon = QMessageBox::Critical;
            break;
        case 32:
            icon = QMessageBox::Question;
            break;
        case 48:
            icon = QMessageBox::Warning;
            break;
        case 64:
            icon = QMessageBox::Information;
            break;
        default:
            break;
    }
    QMessageBox box(icon, title.isEmpty() ? QStringLiteral("Pendrill") : title, text,
                    QMessageBox::Ok, window_.data());
    // A busy pointer must not hide that the box waits for an answer.
    const bool busy = pointerSet_;
    if (busy)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    if (busy)
        QApplication::restoreOverrideCursor();
}

void GuiOperator::SetStatusText(const QString& text) {
    if (statusBar_)
        statusBar_->showMessage(text);
    if (mainWindow_)
        mainWindow_->RefreshFromModel();
}

void GuiOperator::SetMousePointer(int style) {
    if (style == DefaultPointer) {
        if (pointerSet_)
            QApplication::restoreOverrideCursor();
        pointerSet_ = false;
        return;
    }
    const QCursor cursor(style == ArrowHourglassPointer ? Qt::BusyCursor : Qt::WaitCursor);
    if (pointerSet_)
        QApplication::changeOverrideCursor(cursor);
    else
        QApplication::setOverrideCursor(cursor);
    pointerSet_ = true;
}

void GuiOperator::ShowMainWindowPage(int page) {
    if (mainWindow_)
        mainWindow_->ShowPage(page);
}

void GuiOperator::SetFocusTo(const QString& controlName) {
    if (mainWindow_)
        mainWindow_->FocusControl(controlName);
}

void GuiOperator::UnloadAllForms() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible())
            w->close();
    // A main window that was never shown still has to hear that it is gone.
    if (mainWindow_ && !mainWindow_->isVisible())
        mainWindow_->close();
}

void GuiOperator::OpenInTextEditor(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QStringList GuiOperator::LogViewers() {
    return {QStringLiteral("gnome-logs"), QStringLiteral("ksystemlog")};
}

bool GuiOperator::OpenSystemLogViewer() {
    for (const QString& viewer : LogViewers()) {
        const QString program = QStandardPaths::findExecutable(viewer);
        if (!program.isEmpty() && QProcess::startDetached(program, {}))
            return true;
    }
    return false;
}

void GuiOperator::Attach(QWidget* window, QStatusBar* statusBar) {
    window_ = window;
    statusBar_ = statusBar;
}

int GuiOperator::CloseModalWindows() {
    int closed = 0;
    // Each pass closes the topmost modal window; a window that refuses to go is not retried.
    for (QWidget* last = nullptr; QWidget* w = QApplication::activeModalWidget(); last = w) {
        if (w == last)
            break;
        if (auto* dialog = qobject_cast<QDialog*>(w))
            dialog->reject();
        else
            w->close();
        ++closed;
    }
    return closed;
}

void GuiOperator::AttachMainWindow(MainWindow* window) {
    mainWindow_ = window;
    Attach(window, window != nullptr ? window->sbStatus : nullptr);
}

std::unique_ptr<CopyProgress> GuiOperator::CreateCopyProgress() {
    QWidget* owner = mainWindow_ ? static_cast<QWidget*>(mainWindow_.data()) : window_.data();
    return std::make_unique<CopyProgressWindow>(owner);
}
