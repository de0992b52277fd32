#pragma once

#include <QSize>
#include <QTimer>
#include <QWidget>

class QPainter;

// Plays one of the program's animation clips, which it draws itself frame by frame. The clip is
// centred in the control; once opened it plays at once and repeats until stopped.
//
// Clips (all 260 x 40 pixels, 17 frames of 100 ms): 1 a sheet flying from folder to folder (the
// copy clip), 2 from the network to a folder (download), 3 from a folder to the network
// (upload), 4 from a folder to the waste bin, 5 from a server to a folder, 6 from a folder to a
// server.
class AnimationClip : public QWidget {
    Q_OBJECT

  public:
    static constexpr int FirstClip = 1;
    static constexpr int LastClip = 6;
    static constexpr int FrameCount = 17;
    static constexpr int FrameMilliseconds = 100;
    static QSize ClipSize() { return {260, 40}; }

    explicit AnimationClip(QWidget* parent = nullptr);

    // Opens clip `number` and starts playing it; false (and nothing shown) for a clip the program
    // does not have.
    bool Open(int number);
    // Plays the open clip over and over from the current frame.
    void Play();
    void Stop();
    bool IsPlaying() const { return timer_.isActive(); }
    int Clip() const { return clip_; }
    int Frame() const { return frame_; }

    // Draws frame `frame` of clip `number` with its top left corner at the painter's origin.
    static void PaintFrame(QPainter& painter, int number, int frame);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QTimer timer_;
    int clip_ = 0;
    int frame_ = 0;
};
