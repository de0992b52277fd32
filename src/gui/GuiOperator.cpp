#include "gui/GuiOperator.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QStatusBar>

#include "util/ProgramState.h"

void GuiOperator::ProcessPendingEvents() {
    QApplication::processEvents();
}

void GuiOperator::ShowMessageBox(const QString& text, int style, const QString& title) {
    // The program is ending: nobody is left to close the box.
    if (ProgramState::TerminationSignalled)
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
    box.exec();
}

void GuiOperator::SetStatusText(const QString& text) {
    if (statusBar_)
        statusBar_->showMessage(text);
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
