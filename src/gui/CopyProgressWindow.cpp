#include "gui/CopyProgressWindow.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "gui/AnimationClip.h"
#include "gui/AnimationWindow.h"

CopyProgressWindow::CopyProgressWindow(QWidget* owner) : window_(new AnimationWindow(owner)) {
    connect(window_, &AnimationWindow::Cancelled, this, [this] {
        cancelled_ = true;
        Q_EMIT Cancelled();
    });
}

CopyProgressWindow::~CopyProgressWindow() {
    Destroy();
    delete window_.data();
}

void CopyProgressWindow::Create(qint32 clip, const QString& caption, const QString& label,
                                bool allowCancel, bool showProgressBar) {
    if (!window_)
        return;
    window_->setWindowTitle(caption);
    window_->detailsLabel->setText(label);
    window_->cancelButton->setVisible(allowCancel);
    window_->progressBar->setVisible(showProgressBar);
    window_->progressBar->setMaximum(100);
    window_->progressBar->setValue(0);
    window_->progressTimer.setInterval(AnimationWindow::BusyInterval);

    window_->show();

    // A second Create replaces the animation of the first.
    delete animation_.data();
    animation_ = new AnimationClip(window_);
    animation_->setObjectName(QStringLiteral("copyAnimation"));
    animation_->setGeometry(AnimationWindow::AnimationLeft, AnimationWindow::AnimationTop,
                            AnimationWindow::AnimationWidth, AnimationWindow::AnimationHeight);
    animation_->show();
    animation_->Open(clip);

    window_->show();
    window_->repaint();
    QApplication::processEvents();
}

void CopyProgressWindow::AnimatePlay() {
    if (animation_)
        animation_->Play();
    if (window_)
        window_->progressTimer.start();
    Refresh();
}

void CopyProgressWindow::AnimateStop() {
    if (animation_)
        animation_->Stop();
    if (window_)
        window_->progressTimer.stop();
    Refresh();
}

void CopyProgressWindow::Destroy() {
    if (animation_) {
        AnimateStop();
        delete animation_.data();
        animation_ = nullptr;
    }
    if (window_)
        window_->hide();
}

void CopyProgressWindow::AutoPlay() {
    if (animation_)
        animation_->Open(animation_->Clip());
    Refresh();
}

void CopyProgressWindow::LabelCaption(const QString& text) {
    if (window_)
        window_->detailsLabel->setText(text);
    QApplication::processEvents();
}

void CopyProgressWindow::PercentDone(qint32 value) {
    if (window_)
        window_->progressBar->setValue(value);
}

void CopyProgressWindow::Visible(bool flag) {
    if (window_)
        window_->setVisible(flag);
}

void CopyProgressWindow::Refresh() {
    if (window_ && window_->isVisible())
        window_->repaint();
}
