// The analysis driver: initial state, fourth-order Runge-Kutta steps with an
// energy- and contact-controlled step size, sampling. Its parts: the run
// (analysis.cpp), one step (rk4_step.cpp), the step-size rule
// (step_size.cpp), the sample storage (samples.cpp) and the energy (energy.cpp).
#pragma once

#include <string>
#include <vector>

namespace orv {

struct Model;
struct Settings;
struct Histories;
class RunObserver;

enum class AnalysisStatus {
  Completed,  // ran to the end of the time span
  Stopped,    // the energy ratio jumped above 10 without contact
  Failed,     // the constraint system could not be solved; samples so far kept
  Refused,    // the model cannot be analysed; nothing ran
  Interrupted,  // its observer asked it to stop; samples so far kept
};

// Where a run's result goes. The driver asks before anything is computed
// whether it can be kept, and hands it over once the run has ended (also a
// run that stopped, with the samples so far).
struct ResultStore {
  virtual ~ResultStore() = default;
  // False, with `why`, when the result could not be kept: the run is refused.
  virtual bool ready(std::string& why) = 0;
  // False, with `why`, when keeping it failed.
  virtual bool keep(const Model& m, const Histories& h, std::string& why) = 0;
};

struct SimulationOptions {
  bool pauses = true;            // the short pauses at the end of a run
  ResultStore* store = nullptr;  // nullptr: the result stays in the histories only
  RunObserver* observer = nullptr;  // nullptr: the console's account (ConsoleObserver)
};

// Mechanical energy of state Y from the terms the settings select, with the
// bodies' inertia tensors in global axes (9 per body, inertiaTensors).
double totalEnergy(const Model& m, const Settings& s, const std::vector<double>& inertia,
                   const double* Y);

// Runs one analysis of m, replacing the histories. A result the store
// cannot keep refuses the run before it starts. `message` explains a
// Refused or Failed run; after a run that went to its end it holds the report
// of redundant constraint rows left out ("" when there were none).
AnalysisStatus simulate(const Model& m, const Settings& s, Histories& h, std::string& message,
                        const SimulationOptions& opt = {});

}  // namespace orv
