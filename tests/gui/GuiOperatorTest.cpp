#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include "GuiTestHelpers.h"
#include "gui/GuiOperator.h"
#include "support/TestSupport.h"
#include "util/ErrLogging.h"
#include "util/ProgramState.h"

TEST(GuiOperator, RunLogReachesStatusBarAndMessageBoxOnlyInteractively) {
    QMainWindow window;
    GuiOperator op;
    op.Attach(&window, window.statusBar());
    SetOperator(&op);
    QTemporaryDir dir;
    const QString log = dir.filePath("run.log");
    ProgramState::SetExceptionFileSource([&] { return log; });
    BoxAnswerer answerer;

    ProgramState::StartInConfigMode = false;
    LogMessage("unattended", true, 16, "DTS load error");
    EXPECT_EQ(window.statusBar()->currentMessage(), "unattended");
    EXPECT_TRUE(answerer.boxes.isEmpty());

    ProgramState::StartInConfigMode = true;
    LogMessage("Cannot connect to the Rook Repository.   ", true, 16, "Pendrill");
    EXPECT_EQ(answerer.boxes, QStringList({QString::number(int(QMessageBox::Critical)) +
                                           "|Pendrill|Cannot connect to the Rook Repository.   "}));
    EXPECT_EQ(testsupport::readAll(log),
              "unattended\r\nCannot connect to the Rook Repository.   \r\n");

    ProgramState::StartInConfigMode = false;
    ProgramState::SetExceptionFileSource(nullptr);
    SetOperator(nullptr);
}

// After SIGTERM or SIGINT no box may wait: an open one is rejected, a later one is not shown.
TEST(GuiOperator, TerminationClosesModalBoxesAndShowsNoMore) {
    GuiOperator op;
    bool shownAfterSignal = false;
    int closed = -1;
    QTimer::singleShot(100, [&] {
        ProgramState::TerminationSignalled = true;
        closed = GuiOperator::CloseModalWindows();
    });
    op.ShowMessageBox("waiting for the operator", 16, "Pendrill");  // returns when rejected
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            shownAfterSignal = true;
            w->close();
        }
    });
    probe.start(10);
    op.ShowMessageBox("after the signal", 16, "Pendrill");
    EXPECT_FALSE(shownAfterSignal);
    EXPECT_EQ(GuiOperator::CloseModalWindows(), 0);
    ProgramState::TerminationSignalled = false;
}
