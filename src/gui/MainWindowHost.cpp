#include "gui/MainWindowHost.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include "app/MainFormModel.h"
#include "gui/GuiOperator.h"
#include "gui/MainWindow.h"
#include "util/StopFlags.h"

void HostMainWindow(MainFormModel& form, GuiOperator& op,
                    const std::function<void()>& unattendedRun) {
    MainWindow window(form);
    op.AttachMainWindow(&window);
    window.show();
    if (form.StartInConfigMode) {
        QEventLoop loop;
        QObject::connect(&window, &MainWindow::Unloaded, &loop, &QEventLoop::quit);
        // SIGTERM or SIGINT outside a run is the Close command (a run turns them into its stop
        // request itself, and the window closes once it is over).
        QTimer signalled;
        QObject::connect(&signalled, &QTimer::timeout, &window, [&window, &form] {
            if (StopFlags::TerminationSignalled && !form.Running)
                window.CloseCommand();
        });
        signalled.start(100);
        if (!form.Unloaded)
            loop.exec();
    } else {
        QApplication::processEvents();
        if (unattendedRun)
            unattendedRun();
    }
    op.AttachMainWindow(nullptr);
}
