// What a run tells whoever watches it: progress after every step taken, each
// sample as it is stored, its warnings and why it stopped; and the one thing
// it asks, whether to stop. The driver calls an observer on its own thread;
// one that another thread reads guards what it keeps.
#pragma once

#include <string>

#include "platform/messages.h"

namespace orv {

struct Model;
struct Histories;

struct RunProgress {
  double time = 0.0;      // simulated time reached
  double end_time = 0.0;  // time of the last sample the run asks for
  double step = 0.0;      // the step size chosen next
  int samples = 0;        // samples stored, all complete
  int sample_total = 0;   // samples the run asks for
  double energy = 0.0;    // energy of the latest attempt's new state
  double ratio = 0.0;     // relative energy change the latest attempt was judged by
};

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // After every step taken (not one retried).
  virtual void stepTaken(const RunProgress&) {}
  // Sample ti is stored in h, complete, and so is every sample before it.
  virtual void sampleStored(const Model&, const Histories&, int, const RunProgress&) {}
  // A warning, a notice, or why the run failed or stopped.
  virtual void message(Severity, const std::string&) {}
  // Asked once per step: true ends the run at the end of the step, keeping
  // the samples stored so far.
  virtual bool stopRequested() { return false; }
};

// The console's account of a run: the progress lines every tenth sample and
// every message, as the batch program prints them.
class ConsoleObserver : public RunObserver {
 public:
  void sampleStored(const Model& m, const Histories& h, int ti, const RunProgress& p) override;
  void message(Severity severity, const std::string& text) override;
};

}  // namespace orv
