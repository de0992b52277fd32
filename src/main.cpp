#include <QApplication>
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/Startup.h"
#include "gui/AppIcon.h"
#include "gui/GuiOperator.h"
#include "gui/MainWindowHost.h"
#include "util/OperatorInterface.h"
#include "util/RunTargets.h"
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

// Qt's own notes about the environment are not the program's to pass on: under cron or systemd
// every byte on standard error is mailed or logged as a problem. "QStandardPaths: XDG_RUNTIME_DIR
// not set" (no login session) is dropped always; the platform plugin's notes (a display named but
// not reachable, the offscreen platform) are dropped in an unattended run, which says itself when
// it goes on without a window. Everything else reaches Qt's own handler.
bool unattended = false;
QtMessageHandler qtHandler = nullptr;

void filterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    const QLatin1String category(context.category != nullptr ? context.category : "");
    const bool environmentNote = text.startsWith(QLatin1String("QStandardPaths: ")) ||
                                 (unattended && type != QtFatalMsg &&
                                  (category.startsWith(QLatin1String("qt.qpa.")) ||
                                   text.startsWith(QLatin1String("This plugin does not support"))));
    if (!environmentNote && qtHandler != nullptr)
        qtHandler(type, context, text);
}

}  // namespace

// The earliest code a program can run: the loader calls the program's pre-initialisers before
// any library initialiser (Qt's among them, which take several milliseconds), so that a SIGTERM
// in the program's first milliseconds already reaches the handler.
void takeTerminationSignalsFirst(int, char**, char**) {
    InstallTerminationHandlers();
}
__attribute__((section(".preinit_array"),
               used)) void (*const takeSignalsAtLoad)(int, char**,
                                                      char**) = takeTerminationSignalsFirst;

int main(int argc, char** argv) {
    // Taken at load time already (above); again here in case the loader ran no pre-initialiser.
    // A SIGTERM in the program's first milliseconds must end the run as a stop ("failure", exit
    // status 6), never by the signal's default action, which would leave the previous run's word
    // in the status file.
    InstallTerminationHandlers();
    qtHandler = qInstallMessageHandler(filterQtMessages);
    // Taken before the application object exists: QApplication removes the options it knows
    // (-style, -platform, ...) from argv, and every argument here belongs to the program.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    unattended = std::any_of(arguments.cbegin(), arguments.cend(), [](const QString& a) {
        return a.compare(QLatin1String("-configfile"), Qt::CaseInsensitive) == 0 ||
               a.compare(QLatin1String("--configfile"), Qt::CaseInsensitive) == 0;
    });
    std::unique_ptr<QCoreApplication> app;
    GuiOperator guiOperator;
    const bool platformChosen = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (haveDisplay() && !platformChosen) {
        // A display that is named but cannot be reached (a stale DISPLAY in a scheduler's
        // environment) must not abort the program before it has written its status: Qt falls
        // back to the offscreen platform, and the program goes on as without a display.
        qputenv("QT_QPA_PLATFORM", !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                                       ? "wayland;xcb;offscreen"
                                       : "xcb;offscreen");
    }
    if (haveDisplay()) {
        app = std::make_unique<QApplication>(argc, argv);
        if (!platformChosen && QGuiApplication::platformName() == QLatin1String("offscreen")) {
            // A run says it in its run log only: under cron a stale DISPLAY is common, and a
            // line on standard error after an "ok" run would be mailed every night.
            const QString note =
                QStringLiteral("the display %1 cannot be reached; going on without a window")
                    .arg(qEnvironmentVariable(
                        qEnvironmentVariableIsEmpty("DISPLAY") ? "WAYLAND_DISPLAY" : "DISPLAY"));
            if (ParseCommandLine(arguments).StartInConfigMode)
                fprintf(stderr, "pendrill: %s\n", note.toLocal8Bit().constData());
            else
                RunTargets::AddRunLogNote(note);
            qunsetenv("DISPLAY");
            qunsetenv("WAYLAND_DISPLAY");
            WatchTerminationSignals(nullptr);
        } else {
            // The desktop entry pendrill.desktop and the window icon belong together.
            QApplication::setWindowIcon(AppIcon());
            QGuiApplication::setDesktopFileName(QStringLiteral("pendrill"));
            SetOperator(&guiOperator);
            SetMainWindowHost(
                [&guiOperator](MainFormModel& form, const std::function<void()>& unattendedRun) {
                    HostMainWindow(form, guiOperator, unattendedRun);
                });
            WatchTerminationSignals(closeModalWindowsOnSignal);
        }
        if (!platformChosen)
            qunsetenv("QT_QPA_PLATFORM");  // not handed on to programs the run starts
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
