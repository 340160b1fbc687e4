// The OpenGL 3D view: camera, light, mouse navigation, the animation clock
// and the composition of one picture from the model and the stored frames.
// Mouse: left drag orbits about the view centre (pans after T, orbits again
// after R), middle drag or Shift + left drag pans, the wheel zooms towards
// the cursor, right drag zooms.
#pragma once

#include <QGLWidget>
#include <QImage>

#include "view/camera.h"
#include "view/drawing.h"
#include <chrono>
#include <memory>
#include <vector>

class QTimer;

namespace orv {
struct Histories;
}

class GLWidget : public QGLWidget {
  Q_OBJECT

 public:
  // Reads the settings files (a missing one ends the process) and starts the timer.
  explicit GLWidget(QWidget* parent = nullptr);
  ~GLWidget() override;

  // View operations of the main window's slots.
  void startAnimation();
  void setFrame(int frame);
  int frame() const;
  // Playback (view/playback.h): play from the shown frame, pause, one frame
  // back or forward, speed (0: every frame), loop.
  void play();
  void pause();
  void togglePlay();
  bool playing() const;
  void stepFrame(int delta);
  void setSpeed(double speed);
  void setLoop(bool on);

  // Camera (view/camera.h). Fit keeps the direction; reset looks from the
  // isometric direction; both fit what is drawn at the shown frame.
  void fitView();
  void resetView();
  void viewAlong(int axis, int sign);
  void setGridShown(bool on);
  // The ground grid goes under what the model occupies over the frames held:
  // called when the model or the histories change.
  void updateGround();
  void setTriadShown(bool on);

  // The picture of the shown frame at `size`, drawn off screen (renderPixmap).
  QImage renderImage(const QSize& size);
  void setFrameStep(int step);
  void setCenterLC(int id);
  void setCameraLC(int comboIndex);
  void translateMode();
  void rotateMode();

  // Draws one state row (StateLayout, the sample at `time`) in place of the
  // stored frames until clearPreview(): the latest sample of a run in progress,
  // whose histories are not g_hist yet.
  void setPreview(double time, const std::vector<double>& state);
  void clearPreview();
  bool previewing() const { return preview_ != nullptr; }

  // Creates texture objects for the images of the current model (context made current).
  void updateTextures();

 public slots:
  void advanceGears();

 signals:
  // About once a second while an animation runs: the frames shown per second
  // over that second; 0 once it has stopped.
  void framesPerSecond(double fps);
  // The frame drawn changed (the clock, a step or setFrame).
  void frameShown(int frame);
  void playingChanged(bool playing);

 protected:
  void initializeGL() override;
  void resizeGL(int width, int height) override;
  void paintGL() override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  float xy_aspect = 4.0f / 3.0f;
  float viewWidth = 1.0f, viewHeight = 1.0f;
  int lastX = 0, lastY = 0;
  QTimer* timer = nullptr;
  bool texturesPending = false;  // asked for before the context existed
  orv::MeshLists meshLists_;     // made in this widget's context
  std::unique_ptr<orv::Histories> preview_;
  // The frame and the clock state last announced.
  void announce();
  int shownFrame_ = -1;
  bool shownPlaying_ = false;
  bool panning_ = false;  // the drag in progress pans
  orv::Box ground_;       // under which the grid lies
  double aspect() const;

  // The animation's frame rate over the current second; frames_ < 0 while
  // no animation runs.
  void noteFrame(double paintMs);
  std::chrono::steady_clock::time_point rateStart_;
  int frames_ = -1;
  int paints_ = 0;
  double paintMs_ = 0.0;
};
