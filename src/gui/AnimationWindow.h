#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

// The copy-progress window: room for an animation at the top (300 x 60), a line of text, a
// progress bar and a Cancel button. It is modeless and has no close box; CopyProgressWindow drives
// it.
class AnimationWindow : public QWidget {
    Q_OBJECT

  public:
    // The area the animation control takes, relative to the window.
    static constexpr int AnimationLeft = -2;
    static constexpr int AnimationTop = 0;
    static constexpr int AnimationWidth = 300;
    static constexpr int AnimationHeight = 60;
    // The busy bar's step per timer tick and the tick interval.
    static constexpr int BusyStep = 7;
    static constexpr int BusyInterval = 25;

    explicit AnimationWindow(QWidget* parent = nullptr);

    QProgressBar* progressBar = nullptr;  // 0 to 100
    QLabel* detailsLabel = nullptr;
    QPushButton* cancelButton = nullptr;  // "Cancel"
    QTimer progressTimer;
    int busyValue = 0;  // the busy bar's value

    // Timer tick: the bar climbs by BusyStep and starts again at 0 after passing 100.
    void AdvanceBusyBar();
    // The Cancel button: raises Cancelled and hides the window.
    void CancelClicked();

  Q_SIGNALS:
    void Cancelled();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};
