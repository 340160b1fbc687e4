// Compiling a text: the grammar, run over a recorder instead of a value stack,
// writes its actions down; CompiledExpr replays them.
#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "expr/evaluator.h"
#include "expr/grammar.h"
#include "expr/keywords.h"
#include "expr/measures.h"
#include "model/kinematics.h"
#include "model/model.h"

namespace orv {

// Compile-time state: the actions become ops, and the stack depth is tracked
// instead of the values (it does not depend on them).
struct CompiledExpr::Recorder {
  CompiledExpr& out;
  std::size_t depth = 0;

  using Op = CompiledExpr::Op;
  using Kind = CompiledExpr::Kind;

  void emit(const Op& op, std::size_t popped) {
    out.ops_.push_back(op);
    depth = depth - popped + 1;
    out.max_depth_ = std::max(out.max_depth_, depth);
  }
  void number(double v) {
    Op op;
    op.kind = Kind::Number;
    op.value = v;
    emit(op, 0);
  }
  void name(std::string_view n) {
    auto& names = out.names_;
    auto it = std::find(names.begin(), names.end(), n);
    if (it == names.end()) it = names.insert(names.end(), std::string(n));
    Op op;
    op.kind = Kind::Name;
    op.name = static_cast<std::uint32_t>(it - names.begin());
    emit(op, 0);
  }
  void apply(int n, Fn fn);
};

void CompiledExpr::Recorder::apply(int n, Fn fn) {
  const std::size_t avail = std::min(depth, static_cast<std::size_t>(n));
  Op op;
  op.kind = fn == fnTime ? Kind::Time : Kind::Call;
  op.argc = static_cast<std::uint8_t>(n);
  op.avail = static_cast<std::uint8_t>(avail);
  op.fn = fn;
  // Arguments that are all numbers of the text: the last argc ops pushed them.
  auto& ops = out.ops_;
  const std::size_t argc = static_cast<std::size_t>(n);
  if (op.kind == Kind::Call && argc > 0 && avail == argc && ops.size() >= argc &&
      std::all_of(ops.end() - static_cast<std::ptrdiff_t>(argc), ops.end(),
                  [](const Op& o) { return o.kind == Kind::Number; })) {
    op.kind = Kind::ConstCall;
    op.name = static_cast<std::uint32_t>(out.consts_.size());
    for (auto it = ops.end() - static_cast<std::ptrdiff_t>(argc); it != ops.end(); ++it)
      out.consts_.push_back(it->value);
    ops.resize(ops.size() - argc);
    depth -= argc;
    emit(op, 0);
    return;
  }
  emit(op, avail);
}

CompiledExpr::CompiledExpr(const std::string& text) {
  if (nestedTooDeep(text)) return;
  Recorder rec{*this};
  parseWith(text, rec);
  empty_result_ = rec.depth == 0;
}

double CompiledExpr::evaluate(const Model& m, const Kinematics& kin) const {
  if (empty_result_) return 0.0;
  // Most texts are one measure with number arguments: no stack at all.
  if (ops_.size() == 1) {
    const Op& op = ops_[0];
    if (op.kind == Kind::Measure) return evaluateMeasure(measures_[op.name], kin);
    if (op.kind == Kind::ConstCall) return op.fn(m, kin, &consts_[op.name]);
  }
  // Small programs, i.e. all real ones, keep their stack on the machine stack.
  constexpr std::size_t kLocal = 64;
  if (max_depth_ > kLocal) {
    std::vector<double> heap(max_depth_);
    return run(m, kin, heap.data());
  }
  double local[kLocal];
  return run(m, kin, local);
}

double CompiledExpr::run(const Model& m, const Kinematics& kin, double* s) const {
  std::size_t n = 0;  // values on the stack
  for (const Op& op : ops_) {
    switch (op.kind) {
      case Kind::Number: s[n++] = op.value; break;
      case Kind::Time: s[n++] = kin.time; break;
      case Kind::Name: s[n++] = parameterByName(m, names_[op.name]); break;
      case Kind::Call: {
        // Operators too go through the out-of-line bodies evaluate() calls,
        // rather than inline arithmetic: the very same instructions then
        // produce the value, down to which NaN of two wins.
        double pad[kMaxArgs];
        const double* a;
        if (op.avail == op.argc) {
          n -= op.argc;  // the arguments lie on the stack in text order
          a = s + n;
        } else {
          // Arguments the stack did not hold are 0, as an empty stack pops.
          const int missing = op.argc - op.avail;
          n -= op.avail;
          std::fill(pad, pad + missing, 0.0);
          std::copy(s + n, s + n + op.avail, pad + missing);
          a = pad;
        }
        const double v = op.fn(m, kin, a);
        s[n++] = v;
        break;
      }
      case Kind::ConstCall: s[n++] = op.fn(m, kin, &consts_[op.name]); break;
      case Kind::Measure: s[n++] = evaluateMeasure(measures_[op.name], kin); break;
    }
  }
  return s[n - 1];
}

}  // namespace orv
