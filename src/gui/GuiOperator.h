#pragma once

#include <QPointer>

#include "util/OperatorInterface.h"

class QStatusBar;
class QWidget;
class MainWindow;

// The operator with a screen: message boxes over the main window, its status bar, the
// copy-progress window. (What the form model asks of the window itself is MainWindow's, as its
// MainFormView.)
class GuiOperator : public OperatorInterface {
  public:
    void ProcessPendingEvents() override;
    // Shows nothing once SIGTERM or SIGINT has arrived.
    void ShowMessageBox(const QString& text, int style, const QString& title) override;
    void SetStatusText(const QString& text) override;
    // The progress window over the main window (or the attached window).
    std::unique_ptr<CopyProgress> CreateCopyProgress() override;

    // Rejects every open modal dialog (a message box's wait returns) and closes any other modal
    // window, topmost first. Returns how many were closed.
    static int CloseModalWindows();

    // The window that owns the message boxes and the status bar they write to (may be null).
    void Attach(QWidget* window, QStatusBar* statusBar);
    // The main window: also shown afresh with every status text, so that a run's changes (Execute
    // and Save disabled) are seen while it goes on.
    void AttachMainWindow(MainWindow* window);

  private:
    QPointer<QWidget> window_;
    QPointer<QStatusBar> statusBar_;
    QPointer<MainWindow> mainWindow_;
};
