// Binding a compiled program to the model of a run: parameters become their
// values, measures of fixed markers keep their model lookups, and calls on
// numbers alone are done once.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "expr/evaluator.h"
#include "expr/keywords.h"
#include "expr/measures.h"
#include "model/kinematics.h"
#include "model/model.h"

namespace orv {

using Fn = CompiledExpr::Fn;

namespace {

// The measure that keyword body fn takes of the numbers a, looked up in m;
// false when fn is not a measure. a holds as many numbers as fn takes.
bool bindMeasureCall(const Model& m, Fn fn, const double* a, BoundMeasure& out) {
  auto at = [a](int k) { return toIndex(a[k]); };
  if (fn == fnDist) {
    out = bindDisplacement(m, at(0), at(1), at(1), 'd');
    return true;
  }
  if (fn == fnVel) {
    out = bindVelocity(m, at(0), at(1), at(1), at(1), 'd');
    return true;
  }
  if (fn == fnJoint) {
    out = bindJointReaction(m, at(0), at(1), at(2), at(3));
    return true;
  }
  if (fn == fnTurn) {
    out = bindTurn(m, at(0), at(1));
    return true;
  }
  const char axes[3] = {'x', 'y', 'z'};
  const Fn dist[3] = {fnDistAxis<'x'>, fnDistAxis<'y'>, fnDistAxis<'z'>};
  const Fn vel[3] = {fnVelAxis<'x'>, fnVelAxis<'y'>, fnVelAxis<'z'>};
  const Fn omega[3] = {fnOmega<'x'>, fnOmega<'y'>, fnOmega<'z'>};
  const Fn angle[3] = {fnAngle<'1'>, fnAngle<'2'>, fnAngle<'3'>};
  for (int c = 0; c < 3; ++c) {
    if (fn == dist[c]) {
      out = bindDisplacement(m, at(0), at(1), at(2), axes[c]);
      return true;
    }
    if (fn == vel[c]) {
      out = bindVelocity(m, at(0), at(1), at(2), at(3), axes[c]);
      return true;
    }
    if (fn == omega[c]) {
      out = bindAngularVelocity(m, at(0), at(1), at(2), axes[c]);
      return true;
    }
    if (fn == angle[c]) {
      out = bindAngle(m, at(0), at(1), static_cast<char>('1' + c));
      return true;
    }
  }
  return false;
}

}  // namespace

void CompiledExpr::pushNumber(double v) {
  Op op;
  op.kind = Kind::Number;
  op.value = v;
  ops_.push_back(op);
}

void CompiledExpr::bindCall(const Model& m, Fn fn, const double* a) {
  BoundMeasure b;
  if (!bindMeasureCall(m, fn, a, b)) {
    // Every other body reads nothing of the state: its value is fixed now.
    static const Kinematics kNoState;
    pushNumber(fn(m, kNoState, a));
  } else if (b.kind == BoundMeasure::Zero) {
    pushNumber(0.0);
  } else {
    Op op;
    op.kind = Kind::Measure;
    op.name = static_cast<std::uint32_t>(measures_.size());
    measures_.push_back(b);
    ops_.push_back(op);
  }
}

CompiledExpr CompiledExpr::bind(const Model& m) const {
  CompiledExpr out;
  out.max_depth_ = max_depth_;  // folding only ever lowers the depth reached
  out.empty_result_ = empty_result_;
  for (const Op& op : ops_) {
    switch (op.kind) {
      case Kind::Number:
      case Kind::Time: out.ops_.push_back(op); break;
      case Kind::Measure: {  // bound already (to m, as it must be)
        Op copy = op;
        copy.name = static_cast<std::uint32_t>(out.measures_.size());
        out.measures_.push_back(measures_[op.name]);
        out.ops_.push_back(copy);
        break;
      }
      case Kind::Name: out.pushNumber(parameterByName(m, names_[op.name])); break;
      case Kind::ConstCall: out.bindCall(m, op.fn, &consts_[op.name]); break;
      case Kind::Call: {
        // Arguments that became numbers above make a call on numbers too.
        const std::size_t argc = op.argc;
        auto& ops = out.ops_;
        if (op.avail == op.argc && ops.size() >= argc &&
            std::all_of(ops.end() - static_cast<std::ptrdiff_t>(argc), ops.end(),
                        [](const Op& o) { return o.kind == Kind::Number; })) {
          double a[kMaxArgs] = {0, 0, 0, 0, 0, 0};
          for (std::size_t k = 0; k < argc; ++k) a[k] = ops[ops.size() - argc + k].value;
          ops.resize(ops.size() - argc);
          out.bindCall(m, op.fn, a);
        } else {
          ops.push_back(op);
        }
        break;
      }
    }
  }
  return out;
}

void CompiledExpr::listTurns(std::vector<TurnCount>& turns) const {
  for (const BoundMeasure& b : measures_) {
    if (b.kind != BoundMeasure::Turn) continue;
    bool known = false;
    for (const TurnCount& t : turns) known |= t.i == b.lc[0] && t.j == b.lc[1];
    if (!known) turns.push_back(TurnCount{b.lc[0], b.lc[1], 0.0});
  }
}

std::vector<TurnCount> turnsRead(const ModelPrograms& p) {
  std::vector<TurnCount> turns;
  for (const auto* list : {&p.force, &p.motion_dt, &p.output})
    for (const CompiledExpr& e : *list) e.listTurns(turns);
  return turns;
}

ModelPrograms bindPrograms(const Model& m) {
  ModelPrograms p;
  for (const Force& e : m.forces)
    for (int c = 0; c < 6; ++c) p.force.push_back(CompiledExpr(e.equ[c]).bind(m));
  for (const Motion& mo : m.motions) p.motion_dt.push_back(CompiledExpr(mo.dt_equ).bind(m));
  for (const OutputRequest& o : m.outputs) p.output.push_back(CompiledExpr(o.equ).bind(m));
  return p;
}

}  // namespace orv
