#pragma once

#include <QPointer>

#include "util/OperatorInterface.h"

class QStatusBar;
class QWidget;

// The operator with a screen: message boxes over the main window and its status bar.
class GuiOperator : public OperatorInterface {
  public:
    void ProcessPendingEvents() override;
    // Shows nothing once SIGTERM or SIGINT has arrived.
    void ShowMessageBox(const QString& text, int style, const QString& title) override;
    void SetStatusText(const QString& text) override;

    // Rejects every open modal dialog (a message box's wait returns) and closes any other modal
    // window, topmost first. Returns how many were closed.
    static int CloseModalWindows();

    // The window that owns the message boxes and the status bar they write to (may be null).
    void Attach(QWidget* window, QStatusBar* statusBar);

  private:
    QPointer<QWidget> window_;
    QPointer<QStatusBar> statusBar_;
};
