// "Execute Analysis" off the GUI thread: a run of g_model with g_settings on
// a thread of its own (orv::LiveRun), watched by a timer that shows its
// progress in the status bar, hands its messages on, lets the view follow its
// latest complete sample, and once it has ended puts its histories into
// g_hist. g_model, g_settings and g_hist stay untouched while it runs.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <string>

#include "analysis/analysis.h"
#include "platform/messages.h"

class GLWidget;
class QLabel;
class QProgressBar;
class QStatusBar;

namespace orv {
class LiveRun;
}

class RunControl : public QObject {
  Q_OBJECT

 public:
  // What a run left once its histories are in g_hist.
  struct Outcome {
    orv::AnalysisStatus status = orv::AnalysisStatus::Refused;
    std::string message;  // as executeAnalysis gives it
    int samples = 0;      // samples now held
    double seconds = 0.0; // wall time from start to end
    bool closing = false; // ended by stopAndWait(): nothing is to be asked or shown
  };

  // The progress bar and its label go into `bar`, hidden until a run starts;
  // `view` is the one that follows the run.
  RunControl(QStatusBar* bar, GLWidget* view, QObject* parent = nullptr);
  ~RunControl() override;

  bool running() const { return run_ != nullptr; }
  // Whether the view shows the latest complete sample of a run (on at first).
  bool following() const { return follow_; }
  void setFollowing(bool on);

  // Starts a run; nothing when one is going.
  void start();
  // The run ends at the end of the step in progress; its end is reported as usual.
  void requestStop();
  // Stops a run in progress and waits for its end, which is reported at
  // once with `closing` set (the result file is then written whole).
  void stopAndWait();

  QProgressBar* progressBar() const { return bar_; }
  QLabel* progressLabel() const { return label_; }

  // The progress text of a run at simulated time t of [t0, end] after
  // `wall` seconds: "t = 1.25 / 18 s   250 / 1801 samples   step 0.005 s
  // 1.2 s elapsed, about 16 s left".
  static QString progressText(double t0, double t, double end, int samples, int total,
                              double step, double wall);

 signals:
  void runningChanged(bool running);
  // The view now draws sample `sample` (at `time`) of the run it follows.
  void sampleFollowed(int sample, double time);
  // A message of the run, on the GUI thread, in the order the run gave them.
  void message(const orv::Message& m);
  void ended(const RunControl::Outcome& outcome);

 private:
  void poll();
  void end(bool closing);
  void forwardMessages();

  QStatusBar* status_;
  GLWidget* view_;
  QProgressBar* bar_;
  QLabel* label_;
  QTimer timer_;
  std::unique_ptr<orv::LiveRun> run_;
  bool follow_ = true;
  int shownSample_ = -1;     // the sample the view shows, -1: none
  bool errorForwarded_ = false;
  double t0_ = 0.0;          // the model's start time
};
