// The bar under the view that plays the stored frames: play/pause, one
// frame back or forward, the timeline (one step a frame, bound both ways to
// the frame the view draws), the speed (real time by default, x0.1 to x10,
// or every frame in turn) and loop.
#pragma once

#include <QWidget>

class GLWidget;
class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QToolButton;

class PlaybackBar : public QWidget {
  Q_OBJECT

 public:
  PlaybackBar(GLWidget* view, QWidget* parent = nullptr);

  // The frames held changed: the timeline spans 0 .. count - 1.
  void setFrameCount(int count);
  // While an analysis runs the view follows it: nothing here may start the clock.
  void setRunning(bool running);

  QToolButton* playButton() const { return play_; }
  QToolButton* backButton() const { return back_; }
  QToolButton* forwardButton() const { return forward_; }
  QSlider* timeline() const { return slider_; }
  QComboBox* speedBox() const { return speed_; }
  QCheckBox* loopBox() const { return loop_; }

  // The speeds offered, in simulated seconds per second (0: every frame).
  static double speedAt(int index);

 private:
  void showFrame(int frame);
  void showPlaying(bool playing);

  GLWidget* view_;
  QToolButton* play_;
  QToolButton* back_;
  QToolButton* forward_;
  QSlider* slider_;
  QLabel* time_;
  QComboBox* speed_;
  QCheckBox* loop_;
};
