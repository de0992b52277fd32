#include "gui/BusyPointer.h"

#include <QApplication>
#include <QCursor>

#include "app/MainFormView.h"

namespace {
bool busy = false;
}  // namespace

void SetPointerStyle(int style) {
    if (style == MainFormView::DefaultPointer) {
        if (busy)
            QApplication::restoreOverrideCursor();
        busy = false;
        return;
    }
    const QCursor cursor(style == MainFormView::ArrowHourglassPointer ? Qt::BusyCursor
                                                                      : Qt::WaitCursor);
    if (busy)
        QApplication::changeOverrideCursor(cursor);
    else
        QApplication::setOverrideCursor(cursor);
    busy = true;
}

bool PointerIsBusy() {
    return busy;
}
