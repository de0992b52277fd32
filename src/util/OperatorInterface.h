#pragma once

#include <QString>
#include <memory>

#include "util/CopyProgress.h"

// What core logic needs from the person in front of the program: pending events, message boxes,
// the status bar and the copy-progress window. The GUI implements it with message boxes over the
// main window and its status bar; an unattended run uses HeadlessOperator, which has no screen.
// Core code reaches the current implementation through Operator(). What the form model asks of
// the window itself (pages, focus, mouse pointer) is its view, app/MainFormView.h.
class OperatorInterface {
  public:
    virtual ~OperatorInterface() = default;

    // Let the user interface handle what is waiting (repaints, button clicks).
    virtual void ProcessPendingEvents() = 0;
    // Shows a modal message box and returns when it is closed. Style as the design gives it:
    // 16 critical, 48 exclamation, 64 information, 0 plain.
    virtual void ShowMessageBox(const QString& text, int style, const QString& title) = 0;
    // Puts a text on the main window's status bar.
    virtual void SetStatusText(const QString& text) = 0;

    // A new copy-progress object (not yet shown). The default is the headless one, which never
    // cancels; the GUI returns its window.
    virtual std::unique_ptr<CopyProgress> CreateCopyProgress();
};

// The operator of an unattended run: events are still processed (timers, sockets), message
// boxes are never shown, the status text is kept so that it can be inspected.
class HeadlessOperator : public OperatorInterface {
  public:
    void ProcessPendingEvents() override;
    void ShowMessageBox(const QString& text, int style, const QString& title) override;
    void SetStatusText(const QString& text) override;
    const QString& StatusText() const { return status_; }

  private:
    QString status_;
};

// The operator used by core code; never null (a HeadlessOperator until SetOperator is called).
OperatorInterface& Operator();
// Installs an implementation (not owned); nullptr goes back to the headless one.
void SetOperator(OperatorInterface* op);
