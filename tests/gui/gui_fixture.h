// What the GUI tests share: a main window on fresh process-wide state.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QSettings>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWindow>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <unistd.h>

#include "app/mainwindow.h"
#include "model/globals.h"
#include "view/glwidget.h"
#include "view/view_state.h"

namespace orvtest {

// Answers events until `done` holds, and says whether it does (a bound only against a hang).
template <class Done>
bool answerUntil(Done done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 600000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

// A left drag (QTest moves the mouse without its buttons).
inline void drag(QWidget* on, QPointF from, QPointF to) {
  QMouseEvent press(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent move(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  for (QMouseEvent* e : {&press, &move, &release}) QCoreApplication::sendEvent(on, e);
}

inline std::string readText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

inline void waitUntilExposed(QWidget& w) {
  answerUntil([&] { return w.windowHandle() && w.windowHandle()->isExposed(); });
  QCoreApplication::processEvents();
}

inline QStringList items(const QComboBox* c) {
  QStringList out;
  for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
  return out;
}

// A fresh copy of the examples (models, meshes, images, settings) as the
// working directory, with the test models under data/, so that no test reads
// what another one wrote.
inline std::string enterFreshExamples() {
  namespace fs = std::filesystem;
  char pattern[] = "/tmp/orvaldyn_gui_XXXXXX";
  const std::string dir = mkdtemp(pattern);
  fs::copy(ORVALDYN_EXAMPLES, dir, fs::copy_options::recursive);
  fs::remove_all(dir + "/log");
  fs::create_directory(dir + "/data");
  for (const char* d : {"broken", "wrong-success"})
    fs::copy(std::string(ORVALDYN_TEST_DATA) + "/" + d, dir + "/data/" + d,
             fs::copy_options::recursive);
  fs::current_path(dir);
  return dir;
}

// Every test starts as the program does: no model, no result, default view,
// no settings kept, a shown main window whose message boxes are recorded
// rather than shown.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = enterFreshExamples();
    orv::g_model = orv::Model{};
    orv::resetToInitialState(orv::g_hist, orv::g_model);
    orv::g_view = orv::ViewState{};
    QSettings().clear();
    w = std::make_unique<MainWindow>();
    w->setRecordMessages(true);
    w->show();
    waitUntilExposed(*w);
  }
  void TearDown() override {
    w.reset();
    std::filesystem::current_path("/");
    std::filesystem::remove_all(dir_);
  }

  // Opens a model and expects no new message box.
  void openOk(const QString& path) {
    const int before = w->messages().size();
    w->openModel(path);
    ASSERT_EQ(w->messages().size(), before) << w->messages().last().text.toStdString();
  }

  // Runs the analysis as the menu does and waits for its end.
  void runAnalysis() {
    w->exec_analysis();
    waitForRunEnd();
  }
  void openAndRun(const QString& path) {
    openOk(path);
    runAnalysis();
  }
  // The view's picture of the frame shown.
  QImage viewImage() {
    w->glWidget()->updateGL();
    return w->glWidget()->grabFrameBuffer();
  }
  void waitForRunEnd() {
    ASSERT_TRUE(answerUntil([&] { return !w->analysisRunning(); })) << "the run never ended";
  }

  std::unique_ptr<MainWindow> w;
  std::string dir_;
};

}  // namespace orvtest
