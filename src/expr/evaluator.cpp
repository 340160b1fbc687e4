// The expression evaluator: a Spirit classic grammar whose semantic actions
// compute the value while the text is parsed, on a stack of doubles.
//
// The rules are built once per thread and reused, because force and motion
// expressions are evaluated at every integration step. They are plain rules
// rather than a spirit::grammar<>: without Boost.Thread the grammar's cache of
// definitions is a shared static, which two threads must not touch at once.
// Each call gets its own value stack; the thread's rules point at the stack of
// the call in progress, and a nested call restores the outer pointer on exit.
//
// The same grammar, built over a recorder instead of a value stack, compiles a
// text: the actions are written down rather than run, and CompiledExpr replays
// them. One grammar definition serves both, so they cannot drift apart.
#include "expr/evaluator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

// GCC's sanitizer builds see Spirit's optional match values as maybe
// uninitialised (a false positive inside Boost).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <boost/spirit/include/classic.hpp>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include "expr/measures.h"
#include "model/kinematics.h"
#include "model/model.h"

namespace orv {

using Fn = CompiledExpr::Fn;

namespace {

namespace sp = boost::spirit::classic;

// Most arguments any keyword takes (CONTACT).
constexpr int kMaxArgs = 6;

// First parameter named `name`, 0 when there is none.
double parameterByName(const Model& m, std::string_view name) {
  for (const Parameter& p : m.parameters)
    if (p.name == name) return p.value;
  return 0.0;
}

// Per-call evaluation state: the actions compute as the parse proceeds.
struct EvalState {
  const Model& m;
  const Kinematics& kin;
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
  void apply(int n, Fn fn) {
    double a[kMaxArgs] = {0, 0, 0, 0, 0, 0};
    for (int i = n - 1; i >= 0; --i) a[i] = pop();
    push(fn(m, kin, a));
  }
};

}  // namespace

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

namespace {

// Index argument of a keyword: truncated toward zero. Values no int can hold
// (NaN, infinities, huge) become -1, which every table treats as absent.
int toIndex(double x) {
  if (!(x > -2147483649.0 && x < 2147483648.0)) return -1;
  return static_cast<int>(x);
}

double fnAdd(const Model&, const Kinematics&, const double* a) { return a[0] + a[1]; }
double fnSub(const Model&, const Kinematics&, const double* a) { return a[0] - a[1]; }
double fnMul(const Model&, const Kinematics&, const double* a) { return a[0] * a[1]; }
double fnDiv(const Model&, const Kinematics&, const double* a) { return a[0] / a[1]; }
double fnPow(const Model&, const Kinematics&, const double* a) { return std::pow(a[0], a[1]); }

double fnTime(const Model&, const Kinematics& kin, const double*) { return kin.time; }
double fnSin(const Model&, const Kinematics&, const double* a) { return std::sin(a[0]); }
double fnCos(const Model&, const Kinematics&, const double* a) { return std::cos(a[0]); }
double fnAsin(const Model&, const Kinematics&, const double* a) { return std::asin(a[0]); }
double fnAcos(const Model&, const Kinematics&, const double* a) { return std::acos(a[0]); }
double fnAbs(const Model&, const Kinematics&, const double* a) { return std::fabs(a[0]); }
double fnSqrt(const Model&, const Kinematics&, const double* a) { return std::sqrt(a[0]); }

// Sign; 0 for 0 and NaN, and +-1 for infinities (where x/|x| would be NaN).
double fnSgn(const Model&, const Kinematics&, const double* a) {
  return static_cast<double>((a[0] > 0.0) - (a[0] < 0.0));
}

double fnParam(const Model& m, const Kinematics&, const double* a) {
  const int n = toIndex(a[0]);
  if (n < 0 || n >= m.parameter_num()) return 0.0;
  return m.parameters[static_cast<std::size_t>(n)].value;
}

// SWITCH(x, a, b, c): a, b or c as x is positive, zero or negative; 0 for NaN.
double fnSwitch(const Model&, const Kinematics&, const double* a) {
  if (a[0] > 0.0) return a[1];
  if (a[0] == 0.0) return a[2];
  if (a[0] < 0.0) return a[3];
  return 0.0;
}

// CONTACT(x, x1, u, k, w, e): penetration force below x1, damping u*w.
double fnContact(const Model&, const Kinematics&, const double* a) {
  if (!(a[0] < a[1])) return 0.0;
  return a[3] * std::pow(a[1] - a[0], a[5]) - a[2] * a[4];
}

double fnDist(const Model& m, const Kinematics& kin, const double* a) {
  const int j = toIndex(a[1]);
  return measureDisplacement(m, kin, toIndex(a[0]), j, j, 'd');
}
template <char Mode>
double fnDistAxis(const Model& m, const Kinematics& kin, const double* a) {
  return measureDisplacement(m, kin, toIndex(a[0]), toIndex(a[1]), toIndex(a[2]), Mode);
}
double fnVel(const Model& m, const Kinematics& kin, const double* a) {
  const int j = toIndex(a[1]);
  return measureVelocity(m, kin, toIndex(a[0]), j, j, j, 'd');
}
template <char Mode>
double fnVelAxis(const Model& m, const Kinematics& kin, const double* a) {
  return measureVelocity(m, kin, toIndex(a[0]), toIndex(a[1]), toIndex(a[2]), toIndex(a[3]),
                         Mode);
}
template <char Mode>
double fnOmega(const Model& m, const Kinematics& kin, const double* a) {
  return measureAngularVelocity(m, kin, toIndex(a[0]), toIndex(a[1]), toIndex(a[2]), Mode);
}
// The third argument is part of the written form but does not enter the angle.
template <char Mode>
double fnAngle(const Model& m, const Kinematics& kin, const double* a) {
  return measureAngle(m, kin, toIndex(a[0]), toIndex(a[1]), Mode);
}
double fnJoint(const Model& m, const Kinematics& kin, const double* a) {
  return measureJointReaction(m, kin, toIndex(a[0]), toIndex(a[1]), toIndex(a[2]), toIndex(a[3]));
}

// Semantic actions: they forward to the state (EvalState or Recorder) of the
// call in progress.
template <class State>
struct Apply {
  State* const* cur;
  int n;
  Fn fn;
  template <class It>
  void operator()(It, It) const {
    (*cur)->apply(n, fn);
  }
};

template <class State>
struct PushNumber {
  State* const* cur;
  void operator()(double v) const { (*cur)->number(v); }
};

// The name comes from the matched range, not from anything an action of an
// abandoned alternative may have left behind.
template <class State>
struct PushParameter {
  State* const* cur;
  void operator()(const char* first, const char* last) const {
    (*cur)->name(std::string_view(first, static_cast<std::size_t>(last - first)));
  }
};

using Rule = sp::rule<sp::phrase_scanner_t>;

// The grammar. Holds rules that refer to each other, so it stays in place.
template <class State>
struct calculator {
  State* cur = nullptr;  // state of the call in progress on this thread

  Rule expression, term, factor, group, function, identifier;
  Rule args1, args2, args3, args4, args6;

  calculator() {
    using sp::ch_p;
    using sp::str_p;
    auto op = [this](int n, Fn fn) { return Apply<State>{&cur, n, fn}; };

    expression = term >> *((ch_p('+') >> term)[op(2, fnAdd)] |
                           (ch_p('-') >> term)[op(2, fnSub)]);
    // '^' binds like '*' and '/', left to right.
    term = factor >> *((ch_p('*') >> factor)[op(2, fnMul)] |
                       (ch_p('/') >> factor)[op(2, fnDiv)] |
                       (ch_p('^') >> factor)[op(2, fnPow)]);
    // A minus sign is only ever part of a number: there is no unary minus.
    factor = sp::real_p[PushNumber<State>{&cur}] | group | function | identifier;
    group = ch_p('(') >> expression >> ch_p(')');
    identifier = sp::lexeme_d[sp::alpha_p >> *(sp::alnum_p | ch_p('_'))]
        [PushParameter<State>{&cur}];

    const auto comma = ch_p(',');
    args1 = ch_p('(') >> expression >> ch_p(')');
    args2 = ch_p('(') >> expression >> comma >> expression >> ch_p(')');
    args3 = ch_p('(') >> expression >> comma >> expression >> comma >> expression >> ch_p(')');
    args4 = ch_p('(') >> expression >> comma >> expression >> comma >> expression >> comma >>
            expression >> ch_p(')');
    args6 = ch_p('(') >> expression >> comma >> expression >> comma >> expression >> comma >>
            expression >> comma >> expression >> comma >> expression >> ch_p(')');

    // Keywords are tried before identifiers and match as prefixes: `timer`
    // reads as `time`. The others need their bracket, so `sinx` stays a name.
    // Longer keywords come first only to skip a doomed attempt.
    function = str_p("time")[op(0, fnTime)] |
               (str_p("sin") >> args1)[op(1, fnSin)] |
               (str_p("cos") >> args1)[op(1, fnCos)] |
               (str_p("asin") >> args1)[op(1, fnAsin)] |
               (str_p("acos") >> args1)[op(1, fnAcos)] |
               (str_p("sgn") >> args1)[op(1, fnSgn)] |
               (str_p("abs") >> args1)[op(1, fnAbs)] |
               (str_p("sqrt") >> args1)[op(1, fnSqrt)] |
               (str_p("P") >> args1)[op(1, fnParam)] |
               (str_p("DX") >> args3)[op(3, fnDistAxis<'x'>)] |
               (str_p("DY") >> args3)[op(3, fnDistAxis<'y'>)] |
               (str_p("DZ") >> args3)[op(3, fnDistAxis<'z'>)] |
               (str_p("D") >> args2)[op(2, fnDist)] |
               (str_p("VX") >> args4)[op(4, fnVelAxis<'x'>)] |
               (str_p("VY") >> args4)[op(4, fnVelAxis<'y'>)] |
               (str_p("VZ") >> args4)[op(4, fnVelAxis<'z'>)] |
               (str_p("V") >> args2)[op(2, fnVel)] |
               (str_p("WX") >> args3)[op(3, fnOmega<'x'>)] |
               (str_p("WY") >> args3)[op(3, fnOmega<'y'>)] |
               (str_p("WZ") >> args3)[op(3, fnOmega<'z'>)] |
               (str_p("A1") >> args3)[op(3, fnAngle<'1'>)] |
               (str_p("A2") >> args3)[op(3, fnAngle<'2'>)] |
               (str_p("A3") >> args3)[op(3, fnAngle<'3'>)] |
               (str_p("SWITCH") >> args4)[op(4, fnSwitch)] |
               (str_p("CONTACT") >> args6)[op(6, fnContact)] |
               (str_p("F_JOINT") >> args4)[op(4, fnJoint)];
  }
  calculator(const calculator&) = delete;
  calculator& operator=(const calculator&) = delete;
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

namespace {

// Points the thread's grammar at a call's state for the duration of the call.
template <class State>
class StateBinding {
 public:
  StateBinding(calculator<State>& c, State& s) : c_(c), outer_(c.cur) { c_.cur = &s; }
  ~StateBinding() { c_.cur = outer_; }
  StateBinding(const StateBinding&) = delete;
  StateBinding& operator=(const StateBinding&) = delete;

 private:
  calculator<State>& c_;
  State* outer_;
};

// Runs the thread's grammar over text with the given state. Whether all of the
// text parsed does not matter: the value is whatever the parsed part left on
// top. Returns where the parse ended.
template <class State>
std::size_t parseWith(const std::string& text, State& state) {
  thread_local calculator<State> calc;
  StateBinding<State> bind(calc, state);
  const char* first = text.data();
  const auto info = sp::parse(first, first + text.size(), calc.expression, sp::space_p);
  return info.full ? text.size() : static_cast<std::size_t>(info.stop - first);
}

// An evaluation that also notes what it read, for readExpression.
struct ReadingState : EvalState {
  const std::string& text;
  ExprReading& out;

  ReadingState(const Model& m, const Kinematics& kin, const std::string& t, ExprReading& r)
      : EvalState{m, kin, {}}, text(t), out(r) {}
  void name(std::string_view n) {
    bool known = false;
    for (const Parameter& p : m.parameters) known |= p.name == n;
    out.names.push_back({static_cast<std::size_t>(n.data() - text.data()), std::string(n), known});
    EvalState::name(n);
  }
  void apply(int n, Fn fn) {
    if (fn == fnParam) out.parameterIndices.push_back(toIndex(stack.empty() ? 0.0 : stack.back()));
    EvalState::apply(n, fn);
  }
};

}  // namespace

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

double evaluate(const std::string& text, const Model& m, const Kinematics& kin) {
  if (nestedTooDeep(text)) return 0.0;
  EvalState state{m, kin, {}};
  state.stack.reserve(16);
  parseWith(text, state);
  return state.stack.empty() ? 0.0 : state.stack.back();
}

double evaluate(const std::string& text, const Model& m) { return evaluate(text, m, Kinematics{}); }

ExprReading readExpression(const std::string& text, const Model& m, const Kinematics& kin) {
  ExprReading r;
  if (nestedTooDeep(text)) {
    r.tooDeep = true;
    return r;
  }
  ReadingState state(m, kin, text, r);
  r.stop = parseWith(text, state);
  r.value = state.stack.empty() ? 0.0 : state.stack.back();
  return r;
}

ExprReading readExpression(const std::string& text, const Model& m) {
  return readExpression(text, m, Kinematics{});
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
      case Kind::Number:
        s[n++] = op.value;
        break;
      case Kind::Time:
        s[n++] = kin.time;
        break;
      case Kind::Name:
        s[n++] = parameterByName(m, names_[op.name]);
        break;
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
      case Kind::ConstCall:
        s[n++] = op.fn(m, kin, &consts_[op.name]);
        break;
      case Kind::Measure:
        s[n++] = evaluateMeasure(measures_[op.name], kin);
        break;
    }
  }
  return s[n - 1];
}

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
      case Kind::Time:
        out.ops_.push_back(op);
        break;
      case Kind::Measure: {  // bound already (to m, as it must be)
        Op copy = op;
        copy.name = static_cast<std::uint32_t>(out.measures_.size());
        out.measures_.push_back(measures_[op.name]);
        out.ops_.push_back(copy);
        break;
      }
      case Kind::Name:
        out.pushNumber(parameterByName(m, names_[op.name]));
        break;
      case Kind::ConstCall:
        out.bindCall(m, op.fn, &consts_[op.name]);
        break;
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

ModelPrograms bindPrograms(const Model& m) {
  ModelPrograms p;
  for (const Force& e : m.forces)
    for (int c = 0; c < 6; ++c) p.force.push_back(CompiledExpr(e.equ[c]).bind(m));
  for (const Motion& mo : m.motions) p.motion_dt.push_back(CompiledExpr(mo.dt_equ).bind(m));
  for (const OutputRequest& o : m.outputs) p.output.push_back(CompiledExpr(o.equ).bind(m));
  return p;
}

namespace {

// Equal texts, compared inline a word at a time: the texts are short and the
// comparison runs at every call.
bool sameText(const std::string& a, const std::string& b) {
  std::size_t n = a.size();
  if (n != b.size()) return false;
  const char* p = a.data();
  const char* q = b.data();
  for (; n >= 8; n -= 8, p += 8, q += 8) {
    std::uint64_t x, y;
    std::memcpy(&x, p, 8);
    std::memcpy(&y, q, 8);
    if (x != y) return false;
  }
  for (; n > 0; --n)
    if (*p++ != *q++) return false;
  return true;
}

}  // namespace

namespace {

using CacheEntry = std::pair<const std::string, CompiledExpr>;

// compileCached's memory of where it last saw each text: sets of four
// (string address, cache entry) pairs, one cache line each. Four ways keep a
// model's few dozen texts from evicting one another, as a single slot per
// address would every time two of them share it.
constexpr int kWays = 4;
constexpr int kSetBits = 7;
struct alignas(64) SlotSet {
  const char* at[kWays] = {};
  const CacheEntry* entry[kWays] = {};
};
thread_local SlotSet t_sets[1 << kSetBits];

// Kept out of line so that the usual hit stays a few instructions. The text
// goes to the front of its set; the set's last pair falls out.
__attribute__((noinline)) const CompiledExpr& compileSlow(const std::string& text, SlotSet& set) {
  thread_local std::unordered_map<std::string, CompiledExpr> cache;
  auto it = cache.find(text);
  if (it == cache.end()) it = cache.emplace(text, CompiledExpr(text)).first;
  for (int w = kWays - 1; w > 0; --w) {
    set.at[w] = set.at[w - 1];
    set.entry[w] = set.entry[w - 1];
  }
  set.at[0] = text.data();
  set.entry[0] = &*it;
  return it->second;
}

}  // namespace

const CompiledExpr& compileCached(const std::string& text) {
  // The call sites pass the same model strings step after step: the text is
  // found by the string's address, without hashing it. The text itself is
  // compared, so a new string at an old address is never mistaken for the
  // old one.
  const std::uint64_t at = reinterpret_cast<std::uintptr_t>(text.data());
  SlotSet& set = t_sets[(at * 0x9E3779B97F4A7C15ull) >> (64 - kSetBits)];
  for (int w = 0; w < kWays; ++w)
    if (set.at[w] == text.data() && sameText(set.entry[w]->first, text)) return set.entry[w]->second;
  return compileSlow(text, set);
}

}  // namespace orv
