// The expression language of model files: arithmetic, math keywords,
// parameters, the analysis time and measures of the current state.
#pragma once

#include <string>

namespace orv {

struct Model;
struct Histories;

// Value of `text`, evaluated left to right as it is parsed. Parameters come
// from m, `time` and the measures from h. A text of which nothing parses is 0.0;
// a text that parses only partly gives the value of the parsed part.
double evaluate(const std::string& text, const Model& m, const Histories& h);

// evaluate() on the process-wide model and histories.
double evaluate(const std::string& text);

}  // namespace orv
