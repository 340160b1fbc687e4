// The time to draw one frame of the view: GLWidget::paintGL and the buffer
// swap, until the GL has finished, in a 1024 x 768 main window as it opens a
// model (fitted, lit, grid and triad on, the example settings). Models: the
// sphere-on-plate contact model (scripts/make_sphere_plate.py: a
// 30,000-triangle sphere over a 29,000-triangle plate) and, for scale, the
// pendulum example. Needs a display:
//
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/orvaldyn_view_bench
#include <GL/freeglut.h>
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/mainwindow.h"
#include "model/globals.h"
#include "view/glwidget.h"

namespace {

QTemporaryDir* g_work = nullptr;  // the sphere-on-plate model, made once
std::unique_ptr<MainWindow> g_window;

// A main window holding `model` (read in `dir`, where its settings are), shown.
MainWindow& windowWith(const QString& dir, const QString& model) {
  QDir::setCurrent(dir);
  g_window = std::make_unique<MainWindow>();
  g_window->setRecordMessages(true);
  g_window->resize(1024, 768);
  g_window->show();
  while (!g_window->windowHandle() || !g_window->windowHandle()->isExposed())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  g_window->openModel(model);
  QCoreApplication::processEvents();
  return *g_window;
}

void frames(benchmark::State& state, GLWidget* view) {
  for (auto _ : state) {
    view->updateGL();
    glFinish();  // llvmpipe draws when asked to finish, not when called
  }
  state.counters["view_w"] = view->width();
  state.counters["view_h"] = view->height();
}

void BM_FrameSpherePlate(benchmark::State& state) {
  MainWindow& w = windowWith(g_work->path(), "model.txt");
  if (!w.messages().isEmpty()) {
    state.SkipWithError(qPrintable(w.messages().first().text));
    return;
  }
  frames(state, w.glWidget());
  g_window.reset();
}
BENCHMARK(BM_FrameSpherePlate)->Unit(benchmark::kMillisecond);

void BM_FramePendulum(benchmark::State& state) {
  MainWindow& w = windowWith(ORVALDYN_EXAMPLES, "pendulum.txt");
  frames(state, w.glWidget());
  g_window.reset();
}
BENCHMARK(BM_FramePendulum)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  glutInit(&argc, argv);  // the view draws spheres and text with GLUT
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  // The recent-files list and the graph window's place are not the user's to change here.
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  QTemporaryDir work;
  const std::string make =
      std::string("/usr/bin/python3 " ORVALDYN_SCRIPTS "/make_sphere_plate.py '") +
      work.path().toStdString() + "'";
  if (std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "could not make the sphere-on-plate model\n");
    return 1;
  }
  g_work = &work;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
