#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>

#include "expr/evaluator.h"
#include "model/kinematics.h"
#include "model/model.h"

using namespace orv;

namespace {

Model withParameters(std::initializer_list<std::pair<const char*, double>> params) {
  Model m;
  for (const auto& [name, v] : params) m.parameters.push_back({0, name, v, ""});
  return m;
}

std::string nested(int levels, const std::string& inner) {
  return std::string(levels, '(') + inner + std::string(levels, ')');
}

}  // namespace

// Both the interpreter and the compiled form on each example; a later duplicate name never wins.
TEST(Expr, GrammarExamples) {
  const Model m = withParameters({{"k", 4.0}, {"sinx", 0.5}, {"k", 99.0}});
  Kinematics h;
  h.time = 1.25;
  std::string flat;  // closing brackets end a level, so long flat texts are fine
  for (int i = 0; i < 500; ++i) flat += "(1)+";
  const std::pair<std::string, double> cases[] = {
      // '^' binds like '*'; both run left to right.
      {"1+2*3", 7}, {"2*3^2", 36}, {"2^3^2", 64}, {"(1+2)*3", 9}, {"1-2-3+8/2/2", -2},
      {" 3 ", 3}, {" 1.5e1 /\t3 ", 5}, {"1/0", INFINITY},
      // Minus belongs to numbers only.
      {"2*-3", -6}, {"2 -3", -1}, {"-time", 0}, {"-(1)", 0},
      {"acos (0.5)", std::acos(0.5)}, {"sqrt(abs(-16))", 4}, {"sgn(0)", 0}, {"sgn(-2)", -1},
      {"sgn(0/0)", 0}, {"sgn(1/0)", 1}, {"SWITCH(0,1,2,3)", 2}, {"SWITCH(-1,1,2,3)", 3},
      {"SWITCH(0.1,1,2,3)", 1}, {"SWITCH(0/0,1,2,3)", 0}, {"CONTACT(1,2,0,10,0,1.5)", 10},
      {"CONTACT(3,2,0,10,0,1.5)", 0}, {"CONTACT(1,3,1,10,2,2)", 38},  // 10*2^2 - 1*2
      {"CONTACT(0/0,3,1,10,2,2)", 0},
      // Keywords match as prefixes: "timer" is `time` with the rest unparsed; `sin` needs "(".
      {"k*2", 8}, {"nosuch", 0}, {"sinx", 0.5}, {"time*2", 2.5}, {"timer", 1.25},
      // P(i) truncates; out of range reads 0 (4294967296 would wrap to 0 in a 32-bit cast).
      {"P(0)", 4}, {"P(1.9)", 0.5}, {"P(3)", 0}, {"P(-1)", 0}, {"P(1e300)", 0},
      {"P(4294967296)", 0}, {"P(1/0)", 0},
      // Partial parses give the value pushed last; broken-off keywords must not crash.
      {"", 0}, {"*", 0}, {"2+", 2}, {"1 2", 1}, {"3*(2", 2}, {"sin(2", 0},
      {"CONTACT(1,2,3", 0}, {"((1,2))", 1},
      {nested(200, "7"), 7}, {nested(201, "7"), 0}, {nested(10000, "7"), 0}, {flat + "0", 500},
      {"D(0,1)+5", 5}};
  for (const auto& [text, want] : cases) {
    EXPECT_EQ(evaluate(text, m, h), want) << text;
    EXPECT_EQ(CompiledExpr(text).evaluate(m, h), want) << text;
  }
  // Measures (0 here: no markers) must consume all their arguments, or "3-" would
  // subtract from a leftover one.
  for (const char* form : {"D(4,5)", "DX(4,5,6)", "DY(4,5,6)", "DZ(4,5,6)", "V(4,5)",
                           "VX(4,5,6,7)", "VY(4,5,6,7)", "VZ(4,5,6,7)", "WX(4,5,6)", "WY(4,5,6)",
                           "WZ(4,5,6)", "A1(4,5,6)", "A2(4,5,6)", "A3(4,5,6)", "F_JOINT(4,5,6,7)"})
    EXPECT_EQ(evaluate(std::string("3-") + form, m, h), 3.0) << form;
}

TEST(ExprThreads, ConcurrentEvaluationsStayApart) {
  const Model ma = withParameters({{"x", 2.0}}), mb = withParameters({{"x", 5.0}});
  Kinematics h;
  int bad_a = 0, bad_b = 0;
  auto run = [&h](const Model& m, const char* text, double want, int& bad) {
    for (int i = 0; i < 20000; ++i)
      if (evaluate(text, m, h) != want) ++bad;
  };
  std::thread ta(run, std::cref(ma), "(x+1)*(x+2)-P(0)", 10.0, std::ref(bad_a));
  std::thread tb(run, std::cref(mb), "x^2/(x+5)*2", 5.0, std::ref(bad_b));
  ta.join();
  tb.join();
  EXPECT_EQ(bad_a + bad_b, 0);
}
