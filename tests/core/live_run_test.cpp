// A run on a thread of its own, watched and stopped from another, as the
// window does it: it must give the batch run's samples and console, and a
// stop must leave a consistent, readable result.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "files/result_file.h"
#include "model/state_layout.h"
#include "session/live_run.h"
#include "test_util.h"

using namespace orv;

namespace {

// The pendulum example made long, so that a stop comes well before its end.
orvtest::Outcome longPendulum(int samples) {
  orvtest::Outcome o = orvtest::loadFile(std::string(ORVALDYN_EXAMPLES) + "/pendulum.txt",
                                         orvtest::exampleSettings());
  o.m.end_time = o.m.start_time + (samples - 1) * o.m.d_time;
  o.m.sample_num = samples;
  return o;
}

// Without the end's pauses; log/ in `dir`.
AnalysisOptions quiet(const std::string& dir) {
  AnalysisOptions o;
  o.pauses = false, o.resultDir = dir;
  return o;
}

}  // namespace

TEST(LiveRun, GivesTheSamplesAndConsoleOfAPlainRun) {
  const orvtest::Outcome o = longPendulum(301);
  const std::string dir = orvtest::makeTempDir();
  std::string plainMessage, liveMessage, plainConsole;
  Histories plain, live;
  orvtest::ConsoleCapture c;
  executeAnalysis(o.m, orvtest::exampleSettings(), plain, plainMessage, quiet(dir));
  plainConsole = c.text();
  LiveRun run;
  run.start(o.m, orvtest::exampleSettings(), quiet(dir));
  EXPECT_EQ(run.finish(liveMessage, live), AnalysisStatus::Completed);
  EXPECT_TRUE(live.anime_num == 301 && live.p_YYY == plain.p_YYY &&
              live.p_F_const == plain.p_F_const);
  // Only the elapsed seconds may differ.
  auto masked = [](std::string t) {
    const size_t at = t.find("Simulation End\n   ");
    return at == std::string::npos ? t : t.erase(at, t.find('\n', at + 18) - at);
  };
  EXPECT_EQ(masked(c.text().substr(plainConsole.size())), masked(plainConsole));
  const LiveRun::Snapshot s = run.snapshot();
  EXPECT_TRUE(s.sample == 300 && s.progress.samples == 301 && s.time == plain.p_time[300]);
  const size_t n = StateLayout{o.m.body_num()}.size();
  EXPECT_EQ(s.state,
            std::vector<double>(plain.p_YYY.begin() + 300 * n, plain.p_YYY.begin() + 301 * n));
}

// Asks for a stop as sample 50 is stored, as a user's click might.
class StopAtFifty : public LiveRun {
  void sampleStored(const Model& m, const Histories& h, int ti, const RunProgress& p) override {
    LiveRun::sampleStored(m, h, ti, p);
    if (ti == 50) requestStop();
  }
};

TEST(LiveRun, StopKeepsAConsistentReadableResult) {
  orvtest::Outcome o = longPendulum(5000);
  const size_t n14 = StateLayout{o.m.body_num()}.size();
  const std::string dir = orvtest::makeTempDir();
  StopAtFifty run;
  orvtest::ConsoleCapture c;
  run.start(o.m, orvtest::exampleSettings(), quiet(dir));
  std::string message;
  Histories h;
  ASSERT_EQ(run.finish(message, h), AnalysisStatus::Interrupted) << message;
  const int n = h.anime_num;
  ASSERT_EQ(n, 51);
  char t[64];
  std::snprintf(t, sizeof t, "%g", h.p_time[n - 1]);
  EXPECT_EQ(message, "Stopped at t = " + std::string(t) + " s");
  EXPECT_TRUE(orvtest::has(c.text(), message + "; the samples stored so far are kept"));
  // The result file holds exactly the samples kept, the last one whole.
  Histories back;
  ASSERT_TRUE(readResultFile(resultFilePath(o.m, dir), o.m, back));
  ASSERT_EQ(back.anime_num, n);
  EXPECT_DOUBLE_EQ(back.p_time[n - 1], h.p_time[n - 1]);
  // The file keeps seven digits.
  for (size_t k = 0; k < n14; ++k)
    EXPECT_NEAR(back.p_YYY[(n - 1) * n14 + k], h.p_YYY[(n - 1) * n14 + k], 1e-6);
}

TEST(LiveRun, EndsWhenDestroyedWhileRunning) {
  orvtest::Outcome o = longPendulum(100000);
  orvtest::ConsoleCapture c;
  {
    LiveRun run;
    run.start(o.m, orvtest::exampleSettings(), quiet(orvtest::makeTempDir()));
    while (run.snapshot().sample < 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}
