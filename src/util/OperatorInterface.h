#pragma once

#include <QString>
#include <memory>

#include "util/CopyProgress.h"

// What core logic needs from the person in front of the program. The GUI implements it with a
// window, message boxes and a status bar; an unattended run uses HeadlessOperator, which has no
// screen. Core code reaches the current implementation through Operator().
class OperatorInterface {
  public:
    // Mouse pointer styles as the design numbers them.
    enum PointerStyle : int {
        DefaultPointer = 0,
        HourglassPointer = 11,       // busy
        ArrowHourglassPointer = 13,  // busy, but the window still answers
    };

    virtual ~OperatorInterface() = default;

    // Let the user interface handle what is waiting (repaints, button clicks).
    virtual void ProcessPendingEvents() = 0;
    // Shows a modal message box and returns when it is closed. Style as the design gives it:
    // 16 critical, 48 exclamation, 64 information, 0 plain.
    virtual void ShowMessageBox(const QString& text, int style, const QString& title) = 0;
    // Puts a text on the main window's status bar.
    virtual void SetStatusText(const QString& text) = 0;

    // The mouse pointer over the program's windows (PointerStyle).
    virtual void SetMousePointer(int style) { (void)style; }
    // Brings a page of the main window's tab control to the front (0 to 2).
    virtual void ShowMainWindowPage(int page) { (void)page; }
    // Moves the keyboard focus to the main window's control of that name ("packages",
    // "errorFile", "warehouseServerWidget", ...).
    virtual void SetFocusTo(const QString& controlName) { (void)controlName; }
    // The main window was unloaded: every window of the program goes away.
    virtual void UnloadAllForms() {}
    // Opens a text file in the desktop's text editor without waiting.
    virtual void OpenInTextEditor(const QString& path) { (void)path; }
    // Starts the desktop's system-log viewer without waiting; false when none is installed.
    virtual bool OpenSystemLogViewer() { return false; }
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
