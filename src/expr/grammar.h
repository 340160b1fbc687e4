// The grammar of the expression language: a Spirit classic grammar whose
// semantic actions call a parse state as the text is read. The interpreter's
// state computes the value on a stack of doubles; the compiler's state writes
// the actions down as a program (expr/evaluator.h, CompiledExpr). One grammar
// serves both, so they cannot drift apart.
//
// A state provides
//   void number(double v);               a number of the text
//   void name(std::string_view n);       an identifier, read as a parameter
//   void apply(int n, KeywordFn fn);     fn of the last n values (n = 0: `time`)
// Alternatives that fail part way leave their actions run.
//
// The rules are built once per thread and state type and reused, because
// force and motion expressions are evaluated at every integration step. They
// are plain rules rather than a spirit::grammar<>: without Boost.Thread the
// grammar's cache of definitions is a shared static, which two threads must
// not touch at once. The thread's rules point at the state of the call in
// progress, and a nested call restores the outer pointer on exit.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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

#include "expr/keywords.h"

namespace orv {
namespace grammar {

namespace sp = boost::spirit::classic;

// Semantic actions: they forward to the state of the call in progress.
template <class State>
struct Apply {
  State* const* cur;
  int n;
  KeywordFn fn;
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

// The rules. They refer to each other, so the object stays in place.
template <class State>
struct Calculator {
  State* cur = nullptr;  // state of the call in progress on this thread

  Rule expression, term, factor, group, function, identifier;
  Rule args1, args2, args3, args4, args6;

  Calculator() {
    using sp::ch_p;
    using sp::str_p;
    auto op = [this](int n, KeywordFn fn) { return Apply<State>{&cur, n, fn}; };

    expression = term >> *((ch_p('+') >> term)[op(2, fnAdd)] | (ch_p('-') >> term)[op(2, fnSub)]);
    // '^' binds like '*' and '/', left to right.
    term = factor >> *((ch_p('*') >> factor)[op(2, fnMul)] | (ch_p('/') >> factor)[op(2, fnDiv)] |
                       (ch_p('^') >> factor)[op(2, fnPow)]);
    // A minus sign is only ever part of a number: there is no unary minus.
    factor = sp::real_p[PushNumber<State>{&cur}] | group | function | identifier;
    group = ch_p('(') >> expression >> ch_p(')');
    identifier =
        sp::lexeme_d[sp::alpha_p >> *(sp::alnum_p | ch_p('_'))][PushParameter<State>{&cur}];

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
    function =
        str_p("time")[op(0, fnTime)] | (str_p("sin") >> args1)[op(1, fnSin)] |
        (str_p("cos") >> args1)[op(1, fnCos)] | (str_p("asin") >> args1)[op(1, fnAsin)] |
        (str_p("acos") >> args1)[op(1, fnAcos)] | (str_p("sgn") >> args1)[op(1, fnSgn)] |
        (str_p("abs") >> args1)[op(1, fnAbs)] | (str_p("sqrt") >> args1)[op(1, fnSqrt)] |
        (str_p("P") >> args1)[op(1, fnParam)] | (str_p("DX") >> args3)[op(3, fnDistAxis<'x'>)] |
        (str_p("DY") >> args3)[op(3, fnDistAxis<'y'>)] |
        (str_p("DZ") >> args3)[op(3, fnDistAxis<'z'>)] | (str_p("D") >> args2)[op(2, fnDist)] |
        (str_p("VX") >> args4)[op(4, fnVelAxis<'x'>)] |
        (str_p("VY") >> args4)[op(4, fnVelAxis<'y'>)] |
        (str_p("VZ") >> args4)[op(4, fnVelAxis<'z'>)] | (str_p("V") >> args2)[op(2, fnVel)] |
        (str_p("WX") >> args3)[op(3, fnOmega<'x'>)] | (str_p("WY") >> args3)[op(3, fnOmega<'y'>)] |
        (str_p("WZ") >> args3)[op(3, fnOmega<'z'>)] | (str_p("A1") >> args3)[op(3, fnAngle<'1'>)] |
        (str_p("A2") >> args3)[op(3, fnAngle<'2'>)] | (str_p("A3") >> args3)[op(3, fnAngle<'3'>)] |
        (str_p("SWITCH") >> args4)[op(4, fnSwitch)] |
        (str_p("CONTACT") >> args6)[op(6, fnContact)] |
        (str_p("F_JOINT") >> args4)[op(4, fnJoint)] | (str_p("TURN") >> args2)[op(2, fnTurn)];
  }
  Calculator(const Calculator&) = delete;
  Calculator& operator=(const Calculator&) = delete;
};

// Points the thread's rules at a call's state for the duration of the call.
template <class State>
class StateBinding {
 public:
  StateBinding(Calculator<State>& c, State& s) : c_(c), outer_(c.cur) { c_.cur = &s; }
  ~StateBinding() { c_.cur = outer_; }
  StateBinding(const StateBinding&) = delete;
  StateBinding& operator=(const StateBinding&) = delete;

 private:
  Calculator<State>& c_;
  State* outer_;
};

}  // namespace grammar

// Runs the thread's grammar over text with the given state. Whether all of the
// text parsed does not matter: the value is whatever the parsed part left on
// top. Returns where the parse ended.
template <class State>
std::size_t parseWith(const std::string& text, State& state) {
  thread_local grammar::Calculator<State> calc;
  grammar::StateBinding<State> bind(calc, state);
  const char* first = text.data();
  const auto info =
      grammar::sp::parse(first, first + text.size(), calc.expression, grammar::sp::space_p);
  return info.full ? text.size() : static_cast<std::size_t>(info.stop - first);
}

}  // namespace orv
