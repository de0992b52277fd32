#include "gui/MainWindowHost.h"

#include <QApplication>
#include <QEventLoop>

#include "app/frmRunnerMain.h"
#include "gui/GuiOperator.h"
#include "gui/MainWindow.h"

void HostMainWindow(frmRunnerMain& form, GuiOperator& op) {
    RunnerMainWindow window(form);
    op.AttachMainWindow(&window);
    window.show();
    if (form.StartInConfigMode) {
        QEventLoop loop;
        QObject::connect(&window, &RunnerMainWindow::Unloaded, &loop, &QEventLoop::quit);
        if (!form.Unloaded)
            loop.exec();
    } else {
        QApplication::processEvents();
        form.Run();
    }
    op.AttachMainWindow(nullptr);
}
