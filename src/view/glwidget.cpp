#include "view/glwidget.h"

#include <GL/glu.h>
#include <GL/glut.h>

#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "model/globals.h"
#include "platform/console.h"
#include "view/camera.h"
#include "view/drawing.h"
#include "view/playback.h"
#include "view/view_state.h"
#include "files/settings_reader.h"

using orv::g_hist;
using orv::g_model;
using orv::g_settings;
using orv::g_view;

namespace {

constexpr int kDefaultTimerMs = 50;

// Seconds of the steady clock: the wall time of the playback clock.
double wallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void setLightColours() {
  const GLfloat white[4] = {1, 1, 1, 1};
  const GLfloat ambient[4] = {0.1f, 0.1f, 0.1f, 1.0f};
  glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
  glLightfv(GL_LIGHT0, GL_SPECULAR, white);
  glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
}

// The simulated time of frame f in the top-left corner.
void drawTimeLabel(const orv::Histories& h, int f) {
  glDisable(GL_LIGHTING);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluOrtho2D(0, 100, 0, 100);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glColor3d(0, 0, 0);
  glRasterPos2d(5, 95);
  if (f < 0 || static_cast<size_t>(f) >= h.p_time.size() || !orv::glutReady()) return;
  char text[64];
  std::snprintf(text, sizeof text, "%3.4f[s]", h.p_time[f]);
  for (const char* c = text; *c; ++c) glutBitmapCharacter(GLUT_BITMAP_HELVETICA_18, *c);
}

}  // namespace

GLWidget::GLWidget(QWidget* parent) : QGLWidget(parent) {
  // A click in the view takes the keys from a field, so F, Space, ... reach the window.
  setFocusPolicy(Qt::ClickFocus);
  orv::readSettings();
  int ms = g_settings.Qt_Timer_ms;
  if (ms < 1) {
    orv::cprintf(" Qt timer %d[ms] is not positive: %d[ms] is used\n", ms, kDefaultTimerMs);
    ms = kDefaultTimerMs;
  }
  timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &GLWidget::advanceGears);
  timer->start(ms);
  orv::cprintf(" Qt timer %d[ms]\n", ms);
}

GLWidget::~GLWidget() {
  if (preview_) orv::setDrawnHistories(nullptr);
  // Texture names belong to this widget's context.
  makeCurrent();
  orv::deleteTextureObjects();
  orv::pruneMeshLists(meshLists_, true);
}

void GLWidget::startAnimation() {
  orv::startAnimation(g_view);
  orv::play(g_view, g_hist, wallSeconds());
  announce();
}

void GLWidget::setFrame(int frame) {
  orv::setFrame(g_view, frame, g_hist.anime_num);
  announce();
  update();
}

int GLWidget::frame() const { return g_view.i_anime; }

void GLWidget::play() {
  orv::play(g_view, g_hist, wallSeconds());
  announce();
}

void GLWidget::pause() {
  g_view.animating = false;
  announce();
}

void GLWidget::togglePlay() {
  if (playing())
    pause();
  else
    play();
}

bool GLWidget::playing() const { return g_view.animating; }

void GLWidget::stepFrame(int delta) {
  orv::stepFrame(g_view, g_hist, delta);
  announce();
  update();
}

void GLWidget::setSpeed(double speed) { orv::setSpeed(g_view, g_hist, speed, wallSeconds()); }

void GLWidget::setLoop(bool on) { g_view.loop = on; }

void GLWidget::announce() {
  if (g_view.i_anime != shownFrame_) {
    shownFrame_ = g_view.i_anime;
    emit frameShown(shownFrame_);
  }
  if (g_view.animating != shownPlaying_) {
    shownPlaying_ = g_view.animating;
    emit playingChanged(shownPlaying_);
  }
}

double GLWidget::aspect() const {
  return height() > 0 ? static_cast<double>(width()) / height() : 1.0;
}

void GLWidget::fitView() {
  orv::fitView(g_view, orv::modelBox(g_model, orv::drawnHistories(), g_view.i_anime), aspect());
  update();
}

void GLWidget::updateGround() {
  ground_ = orv::motionBox(g_model, g_hist, 50);
  update();
}

void GLWidget::resetView() {
  updateGround();
  orv::resetView(g_view, orv::modelBox(g_model, orv::drawnHistories(), g_view.i_anime), aspect());
  update();
}

void GLWidget::viewAlong(int axis, int sign) {
  orv::setViewDirection(g_view, axis, sign);
  fitView();
}

void GLWidget::setGridShown(bool on) {
  g_view.show_grid = on;
  update();
}

void GLWidget::setTriadShown(bool on) {
  g_view.show_triad = on;
  update();
}

QImage GLWidget::renderImage(const QSize& size) {
  const QImage image = renderPixmap(size.width(), size.height()).toImage();
  // renderPixmap set up the view at the picture's size: back to the widget's.
  makeCurrent();
  resizeGL(width(), height());
  return image;
}

void GLWidget::setFrameStep(int step) { g_view.add_anime = step; }

void GLWidget::setCenterLC(int id) { orv::setCenterLC(g_view, g_model, id); }

void GLWidget::setCameraLC(int comboIndex) { orv::setCameraLC(g_view, g_model, comboIndex); }

void GLWidget::translateMode() {
  g_view.translate_mode = true;
  g_view.rotate_mode = false;
}

void GLWidget::rotateMode() {
  g_view.rotate_mode = true;
  g_view.translate_mode = false;
}

void GLWidget::setPreview(double time, const std::vector<double>& state) {
  if (!preview_) preview_ = std::make_unique<orv::Histories>();
  preview_->p_time.assign(1, time);
  preview_->p_YYY = state;
  preview_->anime_num = 1;
  orv::setDrawnHistories(preview_.get());
  update();
}

void GLWidget::clearPreview() {
  if (!preview_) return;
  orv::setDrawnHistories(nullptr);
  preview_.reset();
  update();
}

void GLWidget::updateTextures() {
  if (!isValid()) {
    texturesPending = true;
    return;
  }
  makeCurrent();
  orv::createTextureObjects();
  texturesPending = false;
}

void GLWidget::advanceGears() {
  // The last frame is painted while still animating; the animation stops after.
  orv::playbackTick(g_view, g_hist, wallSeconds());
  announce();
  updateGL();
  if (!g_view.loop) orv::stopAtLastFrame(g_view, orv::playableFrames(g_hist));
  announce();
}

void GLWidget::initializeGL() {
  for (int a = 0; a < 3; ++a) g_view.light_pos[a] = g_settings.Main_Light_Position[a];
  g_view.light_pos[3] = 1.0f;
  orv::cprintf(" light_pos={%.3e,%.3e,%.3e}\n", g_view.light_pos[0], g_view.light_pos[1],
               g_view.light_pos[2]);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glLightfv(GL_LIGHT0, GL_POSITION, g_view.light_pos);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  setLightColours();

  glEnable(GL_DEPTH_TEST);
  glEnable(GL_ALPHA_TEST);
  // The camera belongs to the model (fitted when one is read), not to the
  // context: renderPixmap makes a context of its own.
  xy_aspect = 4.0f / 3.0f;
  orv::cprintf("xy_aspect=%e, max_length=%e\n", xy_aspect, g_model.max_length);
  // Colours light the shapes; normals scaled by a placement are made unit.
  glEnable(GL_COLOR_MATERIAL);
  glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
  glEnable(GL_NORMALIZE);
  glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);

  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glClearColor(0.9f, 0.9f, 0.9f, 1.0f);
  glEnable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  setLightColours();

  if (texturesPending) updateTextures();
}

void GLWidget::resizeGL(int width, int height) {
  orv::setTrackballSize(g_view.trackball, width, height);
  glViewport(0, 0, width, height);
  xy_aspect = static_cast<float>(width) / static_cast<float>(height > 0 ? height : 1);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  viewWidth = static_cast<float>(width);
  viewHeight = static_cast<float>(height);
}

void GLWidget::paintGL() {
  const auto start = std::chrono::steady_clock::now();
  if (texturesPending) updateTextures();
  // A picture may be drawn in a context of its own, where this one's lists are unknown.
  const bool ownContext = QGLContext::currentContext() == context();
  if (ownContext) orv::pruneMeshLists(meshLists_);
  orv::setMeshLists(ownContext ? &meshLists_ : nullptr);

  // Set under an identity modelview, the light stays fixed relative to the eye.
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glLightfv(GL_LIGHT0, GL_POSITION, g_view.light_pos);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glViewport(0, 0, static_cast<GLsizei>(viewWidth), static_cast<GLsizei>(viewHeight));
  glClearColor(0.9f, 0.9f, 0.9f, 1.0f);

  // Near and far planes about the depth of the view centre.
  const double distance = orv::eyeDistance(g_view, g_model);
  const double depth = std::max(distance - g_view.pan[2], 1e-6 * distance);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(orv::kFieldOfView, xy_aspect, depth / 100.0, 10.0 * (depth + distance));

  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glPushMatrix();

  // A preview holds one sample, frame 0.
  const orv::Histories& h = orv::drawnHistories();
  orv::ViewState shown = g_view;
  if (preview_) shown.i_anime = 0;
  const int f = shown.i_anime;

  double camera[16];
  const bool onLC = orv::cameraModelview(shown, g_model, h, camera);
  if (onLC) {
    glTranslated(0, 0, -distance);
    glMultMatrixd(camera);
  } else {
    glTranslated(g_view.pan[0], g_view.pan[1], g_view.pan[2] - distance);
    glMultMatrixd(g_view.trackball.matrix);
    glTranslated(-g_view.center[0], -g_view.center[1], -g_view.center[2]);
  }
  if (g_view.show_grid) orv::drawGrid(ground_);

  // Opaque pass: only fully opaque fragments.
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_ALPHA_TEST);
  glBlendFunc(GL_ONE, GL_ZERO);
  glAlphaFunc(GL_EQUAL, 1.0f);
  if (g_settings.Force_Graphic) orv::drawForces(g_model.force_size, f);
  for (int i = 0; i < g_model.shape_num(); ++i) orv::drawShape(f, i, 0, orv::Pass::Opaque);
  orv::drawTextures(f);
  orv::drawShadows(f, orv::Pass::Opaque);

  // Translucent pass over the opaque picture, without writing depth.
  glDepthMask(GL_FALSE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glAlphaFunc(GL_LESS, 1.0f);
  for (int i = 0; i < g_model.shape_num(); ++i) orv::drawShape(f, i, 0, orv::Pass::Translucent);
  orv::drawShadows(f, orv::Pass::Translucent);

  glDisable(GL_BLEND);
  glDepthMask(GL_TRUE);
  glAlphaFunc(GL_EQUAL, 1.0f);
  // After the shapes, so that the names are written over them.
  if (!g_view.animating) orv::drawLocalCoordinates(g_model.frame_size, f);

  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  if (g_view.show_triad && !onLC)
    orv::drawTriad(g_view.trackball.matrix, static_cast<int>(viewWidth),
                   static_cast<int>(viewHeight));
  glViewport(0, 0, static_cast<GLsizei>(viewWidth), static_cast<GLsizei>(viewHeight));
  drawTimeLabel(h, f);
  orv::setMeshLists(nullptr);

  noteFrame(
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
}

void GLWidget::noteFrame(double paintMs) {
  // The timer repaints all the time: a line per paint flooded the console.
  if (!g_view.animating) {
    if (frames_ >= 0) emit framesPerSecond(0.0);
    frames_ = -1;
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (frames_ < 0) {  // the rate is counted from this frame on
    rateStart_ = now;
    frames_ = paints_ = 0;
    paintMs_ = 0.0;
  } else {
    ++frames_;
  }
  ++paints_;
  paintMs_ += paintMs;
  const double seconds = std::chrono::duration<double>(now - rateStart_).count();
  if (seconds < 1.0) return;
  // The paint time and the rate it would allow, as a mean over the second.
  const double ms = paintMs_ / paints_;
  orv::cprintf("  %lf[ms], FPS:%lf[/s]\r", ms, 1000.0 / ms);
  std::fflush(orv::consoleFile());  // the line has no end to flush it
  emit framesPerSecond(frames_ / seconds);
  rateStart_ = now;
  frames_ = paints_ = 0;
  paintMs_ = 0.0;
}

void GLWidget::mousePressEvent(QMouseEvent* event) {
  lastX = event->x();
  lastY = event->y();
  const bool left = event->button() == Qt::LeftButton;
  panning_ = event->button() == Qt::MiddleButton ||
             (left && (g_view.translate_mode || (event->modifiers() & Qt::ShiftModifier)));
  if (left && !panning_) orv::trackballPress(g_view.trackball, event->x(), event->y());
}

void GLWidget::mouseMoveEvent(QMouseEvent* event) {
  const int dx = event->x() - lastX;
  const int dy = event->y() - lastY;
  if (panning_ && (event->buttons() & (Qt::LeftButton | Qt::MiddleButton))) {
    orv::panBy(g_view, g_model, dx, -dy, viewHeight);
  } else if (event->buttons() & Qt::LeftButton) {
    orv::trackballMove(g_view.trackball, event->x(), event->y());
  } else if (event->buttons() & Qt::RightButton) {
    // Dragging down brings the model nearer.
    g_view.pan[2] += dy * orv::eyeDistance(g_view, g_model) / 600.0;
  }
  lastX = event->x();
  lastY = event->y();
  update();
}

void GLWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && !panning_)
    orv::trackballRelease(g_view.trackball, event->x(), event->y());
  if (event->button() != Qt::RightButton) panning_ = false;
}

void GLWidget::wheelEvent(QWheelEvent* event) {
  // One notch (120) brings the eye 1.2 times nearer, towards the cursor.
  const double notches = event->angleDelta().y() / 120.0;
  if (notches == 0.0) return;
  const QPoint at = event->position().toPoint();
  orv::zoomAt(g_view, g_model, std::pow(1.2, notches), at.x() - 0.5 * viewWidth,
              0.5 * viewHeight - at.y(), viewHeight);
  update();
  event->accept();
}
