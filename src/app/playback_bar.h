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
  // While an analysis runs nothing here may start the clock; while the view
  // follows it, the timeline and the steps are the run's and stand still.
  void setRunning(bool running, bool following);
  // The view draws the run's sample `sample` at `time`: the timeline spans
  // the samples so far and stands on it.
  void showRunSample(int sample, double time);

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
