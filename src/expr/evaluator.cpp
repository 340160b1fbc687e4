// The interpreter: the grammar's actions compute the value while the text is
// parsed, on a stack of doubles of the call's own.
#include "expr/evaluator.h"

#include <string_view>
#include <vector>

#include "expr/grammar.h"
#include "expr/keywords.h"
#include "model/histories.h"
#include "model/model.h"

namespace orv {

namespace {

// Per-call evaluation state: the actions compute as the parse proceeds.
struct EvalState {
  const Model& m;
  const Histories& h;
  std::vector<double> stack;

  void push(double v) { stack.push_back(v); }
  // Alternatives that fail part way leave their actions run, so the stack
  // may hold less than an action expects; an empty stack pops as 0.
  double pop() {
    if (stack.empty()) return 0.0;
    const double v = stack.back();
    stack.pop_back();
    return v;
  }

  void number(double v) { push(v); }
  void name(std::string_view n) { push(parameterByName(m, n)); }
  // Pops n arguments (the last one is on top), pushes fn of them.
  void apply(int n, KeywordFn fn) {
    double a[kMaxArgs] = {0, 0, 0, 0, 0, 0};
    for (int i = n - 1; i >= 0; --i) a[i] = pop();
    push(fn(m, h, a));
  }
};

// An evaluation that also notes what it read, for readExpression.
struct ReadingState : EvalState {
  const std::string& text;
  ExprReading& out;

  ReadingState(const Model& m, const Histories& h, const std::string& t, ExprReading& r)
      : EvalState{m, h, {}}, text(t), out(r) {}
  void name(std::string_view n) {
    bool known = false;
    for (const Parameter& p : m.parameters) known |= p.name == n;
    out.names.push_back({static_cast<std::size_t>(n.data() - text.data()), std::string(n), known});
    EvalState::name(n);
  }
  void apply(int n, KeywordFn fn) {
    if (fn == fnParam) out.parameterIndices.push_back(toIndex(stack.empty() ? 0.0 : stack.back()));
    EvalState::apply(n, fn);
  }
};

}  // namespace

bool nestedTooDeep(const std::string& text) {
  int depth = 0;
  for (char c : text) {
    if (c == '(') {
      if (++depth > kMaxExpressionNesting) return true;
    } else if (c == ')' && depth > 0) {
      --depth;
    }
  }
  return false;
}

double evaluate(const std::string& text, const Model& m, const Histories& h) {
  if (nestedTooDeep(text)) return 0.0;
  EvalState state{m, h, {}};
  state.stack.reserve(16);
  parseWith(text, state);
  return state.stack.empty() ? 0.0 : state.stack.back();
}

ExprReading readExpression(const std::string& text, const Model& m, const Histories& h) {
  ExprReading r;
  if (nestedTooDeep(text)) {
    r.tooDeep = true;
    return r;
  }
  ReadingState state(m, h, text, r);
  r.stop = parseWith(text, state);
  r.value = state.stack.empty() ? 0.0 : state.stack.back();
  return r;
}

}  // namespace orv
