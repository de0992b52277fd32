// The GUI operator: boxes after a termination signal, and the copy window it hands out. (Its
// status text and message boxes: gui/MainWindowTest, CloseDuringARunOnlyStopsIt.)

#include "GuiTestHelpers.h"
#include "gui/AnimationWindow.h"
#include "gui/CopyProgressWindow.h"
#include "gui/GuiOperator.h"
#include "util/StopFlags.h"

namespace {

const QString kCaption = QStringLiteral("Copying");
const QString kLabel = QStringLiteral("Please wait..... Transfering remote data with FTP");

}  // namespace

// After SIGTERM or SIGINT no box may wait: an open one is rejected, a later one is not shown.
TEST(GuiOperator, TerminationClosesModalBoxesAndShowsNoMore) {
    GuiOperator op;
    bool shownAfterSignal = false;
    int closed = -1;
    QTimer::singleShot(100, [&] {
        StopFlags::TerminationSignalled = true;
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
    StopFlags::TerminationSignalled = false;
}

// The window the GUI operator hands out is owned by its main window; Destroy before Create and an
// unknown clip leave it usable.
TEST(CopyProgress, CreateUpdateAndDestroy) {
    QWidget window;
    GuiOperator op;
    op.Attach(&window, nullptr);
    std::unique_ptr<CopyProgress> made = op.CreateCopyProgress();
    auto* dlg = dynamic_cast<CopyProgressWindow*>(made.get());
    ASSERT_NE(dlg, nullptr);
    AnimationWindow* w = dlg->Window();
    EXPECT_EQ(w->parentWidget(), &window);
    dlg->Destroy();
    EXPECT_FALSE(w->isVisible());

    dlg->Create(1, kCaption, kLabel, false, true);  // no Cancel button, a progress bar
    EXPECT_EQ(w->windowTitle() + "|" + w->detailsLabel->text(), kCaption + "|" + kLabel);
    EXPECT_TRUE(w->isVisible() && w->progressBar->isVisible());
    EXPECT_FALSE(w->cancelButton->isVisible());
    EXPECT_FALSE(w->progressTimer.isActive()) << "no busy bar beside a playing clip";
    ASSERT_NE(dlg->Animation(), nullptr);
    EXPECT_TRUE(dlg->Animation()->IsPlaying());
    dlg->LabelCaption(QStringLiteral("orders.csv"));
    dlg->PercentDone(40);
    EXPECT_EQ(w->detailsLabel->text() + " " + w->progressBar->text(), "orders.csv 40%");
    dlg->AnimateStop();
    EXPECT_FALSE(dlg->Animation()->IsPlaying());
    dlg->Destroy();
    EXPECT_EQ(dlg->Animation(), nullptr);
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(dlg->IsCancelled());

    dlg->Create(42, kCaption, kLabel, true, false);  // a Cancel button, no progress bar
    EXPECT_TRUE(w->cancelButton->isVisible());
    EXPECT_FALSE(w->progressBar->isVisible());
    ASSERT_NE(dlg->Animation(), nullptr);
    dlg->AnimatePlay();
    EXPECT_FALSE(dlg->Animation()->IsPlaying()) << "an unknown clip does not play";
}

TEST(CopyProgress, CancelHidesTheWindowAndStaysCancelled) {
    CopyProgressWindow dlg;
    QSignalSpy cancelled(&dlg, &CopyProgressWindow::Cancelled);
    dlg.Create(1, kCaption, kLabel, true, true);
    ASSERT_TRUE(dlg.Window()->isVisible());

    QTest::mouseClick(dlg.Window()->cancelButton, Qt::LeftButton);
    EXPECT_FALSE(dlg.Window()->isVisible());
    EXPECT_TRUE(dlg.IsCancelled());
    EXPECT_EQ(cancelled.count(), 1);

    // Escape works as the button does.
    CopyProgressWindow other;
    other.Create(1, kCaption, kLabel, true, true);
    other.Window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(other.Window()));
    QTest::keyClick(other.Window(), Qt::Key_Escape);
    EXPECT_TRUE(other.IsCancelled());
    EXPECT_FALSE(other.Window()->isVisible());

    // Nothing the copy does afterwards turns the flag back.
    dlg.LabelCaption(QStringLiteral("next.csv"));
    dlg.Visible(true);
    dlg.Destroy();
    dlg.Create(1, kCaption, kLabel, true, true);
    EXPECT_TRUE(dlg.IsCancelled());
    EXPECT_EQ(cancelled.count(), 1);
}

TEST(CopyProgress, BusyBarRunsWhilePlayingAndHoldsStillWhenStopped) {
    CopyProgressWindow dlg;
    dlg.Create(1, kCaption, kLabel, true, true);
    AnimationWindow* w = dlg.Window();
    // AnimatePlay runs the bar on its own; AnimateStop holds it still.
    dlg.AnimatePlay();
    EXPECT_TRUE(w->progressTimer.isActive());
    const int before = w->busyValue;
    QTest::qWait(150);
    EXPECT_NE(w->busyValue, before);
    dlg.AnimateStop();
    EXPECT_FALSE(w->progressTimer.isActive());
    const int held = w->busyValue;
    QTest::qWait(80);
    EXPECT_EQ(w->busyValue, held);
}
