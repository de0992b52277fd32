#pragma once

#include <QString>

// What the form model (and the rules of the editor panels) asks of the window that shows it:
// the mouse pointer, the page and keyboard focus of the main window, closing the windows, and
// the desktop programs it opens. The main window implements it; this base does nothing, which is
// what a form model without a window (an unattended run, the tests) gets.
class MainFormView {
  public:
    // Mouse pointer styles as the design numbers them.
    enum PointerStyle : int {
        DefaultPointer = 0,
        HourglassPointer = 11,       // busy
        ArrowHourglassPointer = 13,  // busy, but the window still answers
    };

    virtual ~MainFormView() = default;

    // The mouse pointer over the program's windows (PointerStyle).
    virtual void SetMousePointer(int style) { (void)style; }
    // Brings a page of the main window's tab control to the front (0 to 2).
    virtual void ShowPage(int page) { (void)page; }
    // Moves the keyboard focus to the main window's control of that name ("packages",
    // "errorFile", "warehouseServerWidget", ...).
    virtual void FocusControl(const QString& name) { (void)name; }
    // The main window was unloaded: every window of the program goes away.
    virtual void CloseAllWindows() {}
    // Opens a text file in the desktop's text editor without waiting.
    virtual void OpenInTextEditor(const QString& path) { (void)path; }
    // Starts the desktop's system-log viewer without waiting; false when none is installed.
    virtual bool OpenSystemLogViewer() { return false; }
};
