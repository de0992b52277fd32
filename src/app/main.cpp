#include <signal.h>

#include <QApplication>
#include <QCoreApplication>
#include <memory>

#include "app/RunnerMain.h"
#include "gui/AppIcon.h"
#include "gui/GuiOperator.h"
#include "gui/MainWindowHost.h"
#include "util/OperatorInterface.h"
#include "util/ProgramState.h"

namespace {

void onTerminationSignal(int) {
    ProgramState::StopRequested = true;
    ProgramState::RemoteStopRequested = true;
    ProgramState::TerminationSignalled = true;
}

void installSignalHandlers() {
    struct sigaction sa = {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

// A window can be shown when a display is there (or Qt was told which platform to use).
bool haveDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

}  // namespace

int main(int argc, char** argv) {
    installSignalHandlers();
    // Taken before the application object exists: QApplication removes the options it knows
    // (-style, -platform, ...) from argv, and every argument here belongs to the program.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    std::unique_ptr<QCoreApplication> app;
    GuiOperator guiOperator;
    if (haveDisplay()) {
        app = std::make_unique<QApplication>(argc, argv);
        // The desktop entry pendrill.desktop and the window icon belong together.
        QApplication::setWindowIcon(AppIcon());
        QGuiApplication::setDesktopFileName(QStringLiteral("pendrill"));
        SetOperator(&guiOperator);
        SetMainWindowHost(
            [&guiOperator](frmRunnerMain& form) { HostMainWindow(form, guiOperator); });
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("Pendrill"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PENDRILL_VERSION));
    const int status = RunnerMain(arguments);
    SetOperator(nullptr);
    return status;
}
