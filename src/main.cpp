#include <QApplication>
#include <QCoreApplication>
#include <QTimer>
#include <memory>

#include "app/RunnerMain.h"
#include "gui/GuiOperator.h"
#include "util/OperatorInterface.h"
#include "util/TerminationSignals.h"

namespace {

// A window can be shown only on a display: an X server or a Wayland compositor. QT_QPA_PLATFORM
// alone (offscreen, minimal) gives windows nobody sees, so it does not count.
bool haveDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// After SIGTERM or SIGINT no modal window may keep the program waiting: the open ones are
// closed at once, and any that opens later is closed at the next tick.
void closeModalWindowsOnSignal() {
    GuiOperator::CloseModalWindows();
    static QTimer* sweeper = nullptr;
    if (sweeper != nullptr)
        return;
    sweeper = new QTimer(QCoreApplication::instance());
    QObject::connect(sweeper, &QTimer::timeout, [] { GuiOperator::CloseModalWindows(); });
    sweeper->start(100);
}

}  // namespace

int main(int argc, char** argv) {
    InstallTerminationHandlers();
    // Taken before the application object exists: QApplication removes the options it knows
    // (-style, -platform, ...) from argv, and every argument here belongs to the program.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    std::unique_ptr<QCoreApplication> app;
    GuiOperator guiOperator;
    if (haveDisplay()) {
        app = std::make_unique<QApplication>(argc, argv);
        SetOperator(&guiOperator);
        WatchTerminationSignals(closeModalWindowsOnSignal);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
        WatchTerminationSignals(nullptr);
    }
    QCoreApplication::setApplicationName(QStringLiteral("Pendrill"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PENDRILL_VERSION));
    const int status = RunnerMain(arguments);
    SetOperator(nullptr);
    return status;
}
