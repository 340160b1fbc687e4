// A result read from files (a result file or an imported motion), held apart
// from the histories until all of it is known good, then put in place at once.
#pragma once

#include <string>
#include <vector>

namespace orv {

struct Model;
struct Histories;

// The stores of Histories that a result fills, sized as an analysis leaves
// them for `samples` samples (see model/histories.h).
struct LoadedResult {
  int samples = 0;
  std::string version;                // version text of result files
  std::vector<std::string> channels;  // the result's own channel names, if any
  std::vector<double> time, state, output;
  std::vector<double> reaction, violation, force;
  std::vector<double> contactPosition, contactValue;
  std::vector<int> contactSample, sampleFirstContact, sampleContacts;
};

// Replaces h's result by r, the result of model m: every store of h changes,
// or, since nothing here allocates, none. r is left with what h held.
void takeLoadedResult(Histories& h, LoadedResult& r, const Model& m);

}  // namespace orv
