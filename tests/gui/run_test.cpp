// The analysis run from the window on its own thread: the window answers
// and shows progress meanwhile, Stop and closing the window end it with a
// whole result, and the animation's rate goes to the status bar rather than
// flooding the console.
#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "app/playback_bar.h"
#include "files/result_file.h"
#include "gui_fixture.h"
#include "model/state_layout.h"
#include "test_util.h"
#include "view/glwidget.h"

using orv::g_hist;
using orv::g_model;
using orvtest::ConsoleCapture;

namespace {

class RunTest : public orvtest::MainWindowTest {
 protected:
  // The pendulum example swinging for 2000 s: 200001 samples, minutes of
  // computing, so every run here ends because it is asked to.
  void startLongPendulum() {
    std::string model = orvtest::readText("pendulum.txt");
    const size_t span = model.find("0.0  0.01  5.0");
    ASSERT_NE(span, std::string::npos);
    orvtest::writeText("pendulum_long.txt", model.replace(span + 11, 3, "2000.0"));
    openOk("pendulum_long.txt");
    ASSERT_EQ(g_model.sample_num, 200001);
    heldBefore_ = g_hist.p_YYY;
    w->exec_analysis();
  }
  std::vector<double> heldBefore_;  // the states held when the run started

  // Fewer samples than asked for, the last one whole, and the result file holds
  // exactly them (that the file matches the run's histories is live_run_test's).
  void expectStoppedResult() {
    const int n = g_hist.anime_num;
    EXPECT_TRUE(n > 1 && n < g_model.sample_num) << n;
    orv::Histories back;
    ASSERT_TRUE(orv::readResultFile("log/result_pendulum_long.txt", g_model, back));
    ASSERT_EQ(back.anime_num, n);
    EXPECT_DOUBLE_EQ(back.p_time[n - 1], g_hist.p_time[n - 1]);
    // A row left half-written by a stop at any moment would not hold unit Euler parameters.
    const orv::StateLayout layout{g_model.body_num()};
    const double* p = &g_hist.p_YYY[(n - 1) * layout.size() + layout.p(1)];
    EXPECT_NEAR(p[0] * p[0] + p[1] * p[1] + p[2] * p[2] + p[3] * p[3], 1.0, 1e-6);
  }
};

}  // namespace

TEST_F(RunTest, ProgressRisesWhileTheWindowAnswersAndStopOrCloseKeepTheSamplesSoFar) {
  ConsoleCapture quiet;
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
  timer.start(10);
  startLongPendulum();
  ASSERT_TRUE(w->analysisRunning());
  const QProgressBar* bar = w->runControl()->progressBar();
  EXPECT_TRUE(bar->isVisible() && w->stopAction()->isEnabled());

  // The bar rises step by step while the timer keeps firing.
  int rises = 0, last = bar->value(), ticksAtFirstRise = -1;
  ASSERT_TRUE(orvtest::answerUntil([&] {
    if (bar->value() > last && ++rises == 1) ticksAtFirstRise = ticks;
    last = bar->value();
    return rises >= 3 && ticks > ticksAtFirstRise + 5;
  }));
  const QString text = w->runControl()->progressLabel()->text();
  EXPECT_TRUE(text.startsWith("t = ") && text.contains(" / 2000 s   ") &&
              text.contains(" / 200001 samples   step 0.01 s   ") && text.contains(" left"))
      << text.toStdString();

  // What would change the model, the histories or the settings waits, and
  // what would move the frame; the histories held meanwhile are the old
  // ones, the view follows the run.
  int waiting = 0;
  for (QAction* a : w->findChildren<QAction*>()) {
    const QString t = a->text().remove('&');
    if ((t.startsWith("Open") && !t.contains("Graph")) || t == "Execute Analysis" ||
        t == "Start Animation" || t == "Play/Pause" || t.startsWith("Step ")) {
      EXPECT_FALSE(a->isEnabled()) << t.toStdString();
      ++waiting;
    }
  }
  EXPECT_GE(waiting, 8);
  EXPECT_EQ(g_hist.p_YYY, heldBefore_);
  EXPECT_TRUE(w->glWidget()->previewing());
  w->glWidget()->updateGL();
  const QImage followed = w->glWidget()->grabFrameBuffer();
  QSpinBox* box = w->frameSpinBox();
  w->followAction()->setChecked(false);
  w->glWidget()->updateGL();
  EXPECT_NE(w->glWidget()->grabFrameBuffer(), followed) << "the pendulum has swung away";
  EXPECT_TRUE(box->isEnabled() && box->maximum() == 0) << "the frames held";
  w->followAction()->setChecked(true);
  ASSERT_TRUE(orvtest::answerUntil([&] { return w->glWidget()->previewing(); }));
  // The frame box and the timeline stand on the sample drawn, the last one so far.
  const long drawn = std::lround(orv::drawnHistories().p_time[0] / 0.01);
  EXPECT_TRUE(box->value() == drawn && box->maximum() == drawn && !box->isEnabled()) << drawn;
  EXPECT_TRUE(w->playbackBar()->timeline()->value() == drawn &&
              !w->playbackBar()->playButton()->isEnabled());

  w->stopAction()->trigger();
  waitForRunEnd();
  EXPECT_FALSE(bar->isVisible() || w->glWidget()->previewing() || w->stopAction()->isEnabled());
  EXPECT_TRUE(w->messages().isEmpty()) << "a stop asked for is no error";
  expectStoppedResult();
  const int n = g_hist.anime_num;
  char t[64];
  std::snprintf(t, sizeof t, "%g", g_hist.p_time[n - 1]);
  EXPECT_EQ(w->statusBar()->currentMessage().toStdString(),
            "Stopped at t = " + std::string(t) + " s; " + std::to_string(n) + " samples kept");
  EXPECT_EQ(orv::g_view.i_anime, n - 1) << "the view stays on the sample it followed";

  // Closing the window during a run stops it first, the result file written whole.
  w->exec_analysis();
  ASSERT_TRUE(orvtest::answerUntil([&] { return w->runControl()->progressBar()->value() >= 1; }));
  w->close();
  EXPECT_FALSE(w->analysisRunning());
  EXPECT_TRUE(w->messages().isEmpty());
  expectStoppedResult();

  // Destroyed with a run going (no close event): the run is stopped and joined.
  w->exec_analysis();
  ASSERT_TRUE(orvtest::answerUntil([&] { return w->glWidget()->previewing(); }));
  w.reset();
  orv::Histories back;
  EXPECT_TRUE(orv::readResultFile("log/result_pendulum_long.txt", g_model, back));
}

TEST_F(RunTest, AnimationRateGoesToTheStatusBarNotEveryFrameToTheConsole) {
  openAndRun("pendulum.txt");
  EXPECT_TRUE(w->statusBar()->currentMessage().startsWith("Analysis done: 501 samples in "))
      << w->statusBar()->currentMessage().toStdString();
  ConsoleCapture console;
  for (int i = 0; i < 5; ++i) w->glWidget()->updateGL();
  EXPECT_EQ(console.text().find("FPS:"), std::string::npos) << "no animation, no rate line";

  // 501 frames by 10 per tick of 50 ms: about 2.5 s.
  w->stepSpinBox()->setValue(10);
  QElapsedTimer clock;
  clock.start();
  w->start_animation();
  QLabel* rate = w->framesPerSecondLabel();
  ASSERT_TRUE(orvtest::answerUntil([&] { return rate->isVisible(); }));
  EXPECT_TRUE(rate->text().endsWith(" frames/s") && rate->text().section(' ', 0, 0).toDouble() > 0)
      << rate->text().toStdString();
  ASSERT_TRUE(orvtest::answerUntil([&] { return !orv::g_view.animating && !rate->isVisible(); }));
  size_t lines = 0;
  const std::string text = console.text();
  for (size_t at = text.find("FPS:"); at != std::string::npos; at = text.find("FPS:", at + 1))
    ++lines;
  EXPECT_TRUE(lines >= 1 && lines <= static_cast<size_t>(clock.elapsed() / 1000 + 1)) << lines;
}
