// The expression language of model files: arithmetic, math keywords,
// parameters, the analysis time and measures of the current state. The
// grammar is in expr/grammar.h, the keyword bodies in expr/keywords.h; texts
// are interpreted (evaluator.cpp), compiled (compiled_expr.cpp) and bound to
// the model of a run (bound_program.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "expr/measures.h"

namespace orv {

struct Model;
struct Kinematics;

// Value of `text`, evaluated left to right as it is parsed. Parameters come
// from m, `time` and the measures from kin. A text of which nothing parses is 0.0;
// a text that parses only partly gives the value of the parsed part.
double evaluate(const std::string& text, const Model& m, const Kinematics& kin);

// evaluate() at no state (`time` 0, every measure 0): the values of a model
// or settings file as it is read.
double evaluate(const std::string& text, const Model& m);

// What evaluate() makes of a text besides its value: how far the grammar
// read it, the names it looked up and the indices it passed to P(). A reader
// warns of what a value silently leaves out: a tail that does not parse
// ("2.5x" is 2.5), a name that matches no parameter (read as 0).
struct ExprReading {
  struct Name {
    std::size_t at = 0;  // offset in the text
    std::string name;
    bool known = false;  // a parameter of that name exists
  };
  double value = 0.0;
  bool tooDeep = false;               // nested deeper than the evaluator takes: value 0
  std::size_t stop = 0;               // where the parse ended; the text's size when all was read
  std::vector<Name> names;            // identifiers read as parameters, in text order
  std::vector<int> parameterIndices;  // arguments of P(), as indices
};
ExprReading readExpression(const std::string& text, const Model& m, const Kinematics& kin);
ExprReading readExpression(const std::string& text, const Model& m);  // at no state

// Bracket nesting deeper than this is not evaluated (the value is 0.0): each
// level costs machine stack in the recursive descent.
constexpr int kMaxExpressionNesting = 200;
bool nestedTooDeep(const std::string& text);

// A text parsed once, for texts evaluated at every step. The parse is kept as
// the list of value-stack actions it performed, in order, including those of
// alternatives that failed later on; which actions run depends on the text
// alone, never on values, so replaying the list gives evaluate()'s value bit
// for bit. Everything that can change is read at evaluation time: parameters
// by name (first match) and by index, `time` and the measures.
class CompiledExpr {
 public:
  // Evaluates to 0.0, like a text of which nothing parses.
  CompiledExpr() = default;
  explicit CompiledExpr(const std::string& text);

  // Same value as orv::evaluate(text, m, kin) for the text compiled.
  double evaluate(const Model& m, const Kinematics& kin) const;

  // The same program with its model lookups done once, for a model that
  // stays as it is while the program is used (an analysis run): parameters
  // become their values, measures of fixed markers keep their bodies, offsets
  // and axes, and operations on numbers alone are done now. Evaluated with
  // m (and any kinematics), it gives evaluate(m, kin) bit for bit; with another
  // model it gives nothing meaningful.
  CompiledExpr bind(const Model& m) const;

  // Adds the (i, j) of every bound TURN measure not in `turns` yet, at angle 0.
  void listTurns(std::vector<TurnCount>& turns) const;

  // Keyword or operator body; a[0..n-1] are its arguments in text order.
  using Fn = double (*)(const Model& m, const Kinematics& kin, const double* a);
  // The parse state that writes the list (compiled_expr.cpp).
  struct Recorder;

 private:
  // ConstCall: a Call whose arguments were all numbers in the text; they
  // are kept in consts_ instead of being pushed and popped at every call.
  // Measure: a bound measure, measures_[name].
  enum class Kind : std::uint8_t { Number, Time, Name, Call, ConstCall, Measure };
  struct Op {
    Kind kind = Kind::Number;
    std::uint8_t argc = 0;   // Call: arguments the body takes
    std::uint8_t avail = 0;  // Call: how many of them the stack holds; the rest are 0
    std::uint32_t name = 0;  // Name: index into names_; ConstCall: first argument in
                             // consts_; Measure: index into measures_
    double value = 0.0;      // Number
    Fn fn = nullptr;         // Call
  };
  // Replays ops_ on the stack s (room for max_depth_ values).
  double run(const Model& m, const Kinematics& kin, double* s) const;
  // Appends to a bound program the call of fn on the numbers a[0..argc-1].
  void bindCall(const Model& m, Fn fn, const double* a);
  void pushNumber(double v);

  std::vector<Op> ops_;
  std::vector<std::string> names_;
  std::vector<double> consts_;
  std::vector<BoundMeasure> measures_;
  std::size_t max_depth_ = 0;
  bool empty_result_ = true;  // the stack ends empty: the value is 0.0
};

// Every expression an analysis evaluates at each step, compiled and bound to
// the model of the run.
struct ModelPrograms {
  std::vector<CompiledExpr> force;      // force elements: 6 per element, in equ order
  std::vector<CompiledExpr> motion_dt;  // per motion: rate
  std::vector<CompiledExpr> output;     // per output channel
};

// The programs of m's current texts, bound to m.
ModelPrograms bindPrograms(const Model& m);

// The TURN measures the programs read, each pair of systems once, at angle 0.
std::vector<TurnCount> turnsRead(const ModelPrograms& p);

}  // namespace orv
