#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include "gui/AnimationClip.h"
#include "gui/AnimationWindow.h"
#include "util/CopyProgress.h"

// The copy-progress window as core code uses it while remote data is copied: Create shows it
// with a caption, an animation clip, a label, an optional busy bar and an optional Cancel button;
// the copy asks IsCancelled between files. The members are those of the operator's copy-progress
// object (CopyProgress), so the GUI operator can hand this class out as that object.
//
// Everything runs on the program's one thread: Cancel is only seen while events are processed
// (LabelCaption, the busy bar's timer, the copy loop between files).
class CopyProgressWindow : public QObject, public CopyProgress {
    Q_OBJECT

  public:
    // Loads the window without showing it; `owner` (may be null) is the window it stays above.
    explicit CopyProgressWindow(QWidget* owner = nullptr);
    // Destroy, then the window goes away.
    ~CopyProgressWindow() override;

    // True once the operator pressed Cancel; it never goes back to false.
    bool IsCancelled() const override { return cancelled_; }
    // Sets the caption and the label, shows the Cancel button when `allowCancel` and the bar
    // (0 of 100) when `showProgressBar`, shows the window and starts clip `clip` (1 is the
    // copy clip) in the 300 x 60 area at its top. The busy bar's timer stays off.
    void Create(qint32 clip, const QString& caption, const QString& label, bool allowCancel,
                bool showProgressBar) override;
    // Plays the clip for ever and starts the busy bar.
    void AnimatePlay();
    // Stops the clip and the busy bar.
    void AnimateStop() override;
    // Stops and removes the animation (when there is one) and hides the window; harmless before
    // Create.
    void Destroy() override;
    // Kept for callers of the original interface; starts the clip over.
    void AutoPlay();
    // Replaces the label text and lets it show at once (pending events run).
    void LabelCaption(const QString& text) override;
    void PercentDone(qint32 value) override;
    void Visible(bool flag) override;

    // The window and the playing animation control (null when there is none), for tests.
    AnimationWindow* Window() const { return window_; }
    AnimationClip* Animation() const { return animation_; }

  Q_SIGNALS:
    // The operator pressed Cancel.
    void Cancelled();

  private:
    void Refresh();

    QPointer<AnimationWindow> window_;
    QPointer<AnimationClip> animation_;
    bool cancelled_ = false;
};
