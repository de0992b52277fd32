#pragma once

// The mouse pointer over all of the program's windows, as the form model and the widgets set it
// (MainFormView::PointerStyle): a busy style overrides the pointer of every window until
// DefaultPointer restores it.
void SetPointerStyle(int style);
// True while a busy style is set (a message box then shows the arrow over it).
bool PointerIsBusy();
