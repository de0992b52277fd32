#pragma once

#include <QString>

// The small window shown while remote data is copied: a caption, an animation, a line naming the
// file being copied, an optional progress bar and an optional Cancel button. Core code gets one
// from the operator (OperatorInterface::CreateCopyProgress) and asks it between files whether the
// user cancelled; the window itself belongs to the GUI.
class CopyProgress {
  public:
    virtual ~CopyProgress() = default;

    // Shows the window with animation clip `clip` (1 is the copy clip), its caption and label,
    // the Cancel button when `allowCancel`, the progress bar (0 of 100) when
    // `showProgressBar`.
    virtual void Create(qint32 clip, const QString& caption, const QString& label, bool allowCancel,
                        bool showProgressBar) = 0;
    // Stops the animation and hides the window; harmless before Create.
    virtual void Destroy() = 0;
    // Replaces the label text and lets it show at once.
    virtual void LabelCaption(const QString& text) = 0;
    virtual void AnimateStop() = 0;
    // True once the user pressed Cancel; it never goes back to false.
    virtual bool IsCancelled() const = 0;
    virtual void PercentDone(qint32 value) = 0;
    virtual void Visible(bool flag) = 0;
};

// The progress object of a run without a screen: never cancelled, shows and prints nothing.
class HeadlessCopyProgress : public CopyProgress {
  public:
    void Create(qint32, const QString&, const QString&, bool, bool) override {}
    void Destroy() override {}
    void LabelCaption(const QString&) override {}
    void AnimateStop() override {}
    bool IsCancelled() const override { return false; }
    void PercentDone(qint32) override {}
    void Visible(bool) override {}
};
