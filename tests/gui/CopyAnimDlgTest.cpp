#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "gui/AnimationClip.h"
#include "gui/GuiCopyAnimDlg.h"
#include "gui/GuiOperator.h"
#include "gui/frmAnimate.h"

namespace {

const QString kCaption = QStringLiteral("Copying");
const QString kLabel = QStringLiteral("Please wait..... Transfering remote data with FTP");

}  // namespace

TEST(CopyAnimDlg, CreateShowsTheWindowWithItsTextsAndAPlayingClipButNoBusyTimer) {
    GuiCopyAnimDlg dlg;
    frmAnimate* w = dlg.Window();
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(w->isVisible());

    dlg.Create(1, kCaption, kLabel, true, true);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), kCaption);
    EXPECT_EQ(w->lblDetails->text(), kLabel);
    EXPECT_EQ(w->prgCopyFiles->value(), 0);
    EXPECT_FALSE(w->tmrProgress.isActive());
    AnimationClip* clip = dlg.Animation();
    ASSERT_NE(clip, nullptr);
    EXPECT_EQ(clip->parentWidget(), w);
    EXPECT_TRUE(clip->IsPlaying());
    dlg.LabelCaption(QStringLiteral("orders.csv"));
    dlg.PercentDone(40);
    EXPECT_EQ(w->lblDetails->text() + " " + w->prgCopyFiles->text(), "orders.csv 40%");

    dlg.AnimateStop();
    EXPECT_FALSE(clip->IsPlaying());
    dlg.Destroy();
    EXPECT_EQ(dlg.Animation(), nullptr);
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(dlg.IsCancelled());
}

TEST(CopyAnimDlg, CancelButtonAndProgressBarFollowCreateArguments) {
    struct Case {
        bool allowCancel, showBar;
    };
    for (const Case c :
         {Case{true, true}, Case{true, false}, Case{false, true}, Case{false, false}}) {
        SCOPED_TRACE(testing::Message() << c.allowCancel << c.showBar);
        GuiCopyAnimDlg dlg;
        dlg.Create(1, kCaption, kLabel, c.allowCancel, c.showBar);
        EXPECT_EQ(dlg.Window()->cmdCancel->isVisible(), c.allowCancel);
        EXPECT_EQ(dlg.Window()->prgCopyFiles->isVisible(), c.showBar);
    }
}

TEST(CopyAnimDlg, CancelHidesTheWindowAndStaysCancelled) {
    GuiCopyAnimDlg dlg;
    QSignalSpy cancelled(&dlg, &GuiCopyAnimDlg::Cancelled);
    dlg.Create(1, kCaption, kLabel, true, true);
    ASSERT_TRUE(dlg.Window()->isVisible());

    QTest::mouseClick(dlg.Window()->cmdCancel, Qt::LeftButton);
    EXPECT_FALSE(dlg.Window()->isVisible());
    EXPECT_TRUE(dlg.IsCancelled());
    EXPECT_EQ(cancelled.count(), 1);

    // Escape works as the button does.
    GuiCopyAnimDlg other;
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

TEST(CopyAnimDlg, BusyBarClimbsBySevenAndWrapsAfterPassingOneHundred) {
    GuiCopyAnimDlg dlg;
    dlg.Create(1, kCaption, kLabel, true, true);
    frmAnimate* w = dlg.Window();

    // 14 ticks reach 98; the 15th passes 100 and starts again at 0.
    std::vector<int> seen;
    for (int tick = 0; tick < 17; ++tick) {
        w->tmrProgress_Timer();
        seen.push_back(w->prgCopyFiles->value());
    }
    EXPECT_EQ(std::vector<int>(seen.begin() + 12, seen.end()),
              std::vector<int>({91, 98, 0, 7, 14}));

    // AnimatePlay runs the bar on its own; AnimateStop holds it still.
    dlg.AnimatePlay();
    EXPECT_TRUE(w->tmrProgress.isActive());
    const int before = w->PrgCounter;
    QTest::qWait(150);
    EXPECT_NE(w->PrgCounter, before);
    dlg.AnimateStop();
    EXPECT_FALSE(w->tmrProgress.isActive());
    const int held = w->PrgCounter;
    QTest::qWait(80);
    EXPECT_EQ(w->PrgCounter, held);
}

TEST(CopyAnimDlg, DestroyBeforeCreateAndUnknownClipLeaveAUsableWindow) {
    GuiCopyAnimDlg dlg;
    dlg.Destroy();
    EXPECT_FALSE(dlg.Window()->isVisible());
    EXPECT_EQ(dlg.Animation(), nullptr);

    dlg.Create(42, kCaption, kLabel, true, false);
    EXPECT_TRUE(dlg.Window()->isVisible());
    ASSERT_NE(dlg.Animation(), nullptr);
    EXPECT_FALSE(dlg.Animation()->IsPlaying());
    dlg.AnimatePlay();
    EXPECT_FALSE(dlg.Animation()->IsPlaying());
}

TEST(CopyAnimDlg, EveryClipMovesItsSheetAcrossTheFrames) {
    for (int clip = AnimationClip::FirstClip; clip <= AnimationClip::LastClip; ++clip) {
        SCOPED_TRACE(clip);
        QList<QImage> frames;
        for (int f : {0, 4, 8, 12}) {
            QImage img(AnimationClip::ClipSize(), QImage::Format_ARGB32);
            img.fill(Qt::transparent);
            QPainter p(&img);
            AnimationClip::PaintFrame(p, clip, f);
            p.end();
            frames << img;
        }
        QImage blank(AnimationClip::ClipSize(), QImage::Format_ARGB32);
        blank.fill(Qt::transparent);
        EXPECT_NE(frames[0], blank);
        for (int i = 1; i < frames.size(); ++i)
            EXPECT_NE(frames[i], frames[i - 1]);
    }
}

TEST(CopyAnimDlg, GuiOperatorHandsOutTheWindowOwnedByItsMainWindow) {
    QWidget window;
    GuiOperator op;
    op.Attach(&window, nullptr);
    std::unique_ptr<CopyAnimDlg> dlg = op.CreateCopyAnimDlg();
    auto* gui = dynamic_cast<GuiCopyAnimDlg*>(dlg.get());
    ASSERT_NE(gui, nullptr);
    EXPECT_EQ(gui->Window()->parentWidget(), &window);
}
