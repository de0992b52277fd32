#include "gui/GuiOperator.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QStatusBar>

#include "gui/BusyPointer.h"
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
    const bool busy = PointerIsBusy();
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
