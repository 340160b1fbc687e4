// The expression language: the grammar's values, and the compiled and bound
// forms giving the interpreter's value bit for bit. (Measures are checked on
// every path, on full and partial states, in measures_test.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "expr/evaluator.h"
#include "model/kinematics.h"
#include "test_util.h"

using namespace orv;

namespace {

// All paths on one text: parsed, compiled, bound to m, bound twice.
::testing::AssertionResult sameValue(const std::string& text, const Model& m, const Kinematics& h) {
  const CompiledExpr c(text), b = c.bind(m);
  const double v[4] = {evaluate(text, m, h), c.evaluate(m, h), b.evaluate(m, h),
                       b.bind(m).evaluate(m, h)};
  if (!std::memcmp(v, v + 1, 8) && !std::memcmp(v, v + 2, 8) && !std::memcmp(v, v + 3, 8))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "text \"" << text << "\": interpreted, compiled, bound, "
         << "bound twice: " << v[0] << " " << v[1] << " " << v[2] << " " << v[3];
}

// Parameters with a duplicate name, a NaN and names that look like keywords.
struct ExprTest : ::testing::Test {
  void SetUp() override {
    const std::pair<const char*, double> params[] = {
        {"k", 4.0}, {"sinx", 0.5}, {"k", 99.0}, {"timer", 7.0}, {"nanp", std::nan("")}};
    for (const auto& [name, v] : params) m.parameters.push_back({0, name, v, ""});
    h.time = 0.37;
  }
  Model m;
  Kinematics h;
};

std::string nested(int n, const std::string& inner) {
  return std::string(n, '(') + inner + std::string(n, ')');
}

}  // namespace

TEST_F(ExprTest, GrammarCasesOnEveryPath) {
  // Closing brackets end a level, so long flat texts are fine; `deep` needs a
  // value stack deeper than the compiled form's local one.
  std::string flat, deep;
  for (int i = 0; i < 500; ++i) flat += "(1)+";
  for (int i = 0; i < 150; ++i) deep += "1+(";
  deep += "2" + std::string(150, ')');
  const double any = NAN;  // the paths must agree; the value is not checked
  using Cases = std::vector<std::pair<std::string, double>>;
  // '^' binds like '*'; both run left to right. Minus belongs to numbers only.
  const Cases grammar = {{"1+2*3", 7},      {"2*3^2", 36},        {"2^3^2", 64},
                         {"(1+2)*3", 9},    {"1-2-3+8/2/2", -2},  {" 1.5e1 /\t3 ", 5},
                         {"1/0", INFINITY}, {"1e400-1e400", any}, {"2*-3", -6},
                         {"2 -3", -1},      {"-time", 0},         {"-(1)", 0}};
  // Keywords, down to which NaN of two wins; CONTACT(1,3,1,10,2,2) is 10*2^2 - 1*2.
  const Cases calls = {{"acos (-1)", M_PI},      {"sqrt(abs(-16))", 4},   {"sgn(0)", 0},
                       {"sgn(-2)", -1},          {"sgn(0/0)", 0},         {"sgn(1/0)", 1},
                       {"SWITCH(0,1,2,3)", 2},   {"SWITCH(-1,1,2,3)", 3}, {"SWITCH(0.1,1,2,3)", 1},
                       {"SWITCH(0/0,1,2,3)", 0}, {"abs(0/0)+0/0", any},   {"0/0+abs(0/0)", any},
                       {"nanp*0/0", any}};
  const Cases contact = {{"CONTACT(1,2,0,10,0,1.5)", 10},
                         {"CONTACT(3,2,0,10,0,1.5)", 0},
                         {"CONTACT(1,3,1,10,2,2)", 38},
                         {"CONTACT(0/0,3,1,10,2,2)", 0}};
  // Keywords match as prefixes: "timer" is `time` with the rest unparsed; `sin` needs "(".
  // A later duplicate name never wins. P(i) truncates; out of range reads 0 (4294967296
  // would wrap to 0 in a 32-bit cast).
  const Cases names = {{"sinx+k*2", 8.5}, {"nosuch", 0},        {"sinx", 0.5},
                       {"time*2", 0.74},  {"timer", 0.37},      {"P(0)", 4},
                       {"P(1.9)", 0.5},   {"P(5)", 0},          {"P(-1)", 0},
                       {"P(1e300)", 0},   {"P(4294967296)", 0}, {"P(1/0)", 0},
                       {"P(0/0)", 0},     {"P(0)+P(1.9)", 4.5}};
  // Measures on markers that do not exist are 0, and must consume all their arguments, or
  // "3-" would subtract from a leftover one.
  const Cases measures = {{"3-D(4,5)", 3},      {"3-DX(4,5,6)", 3},   {"3-DY(4,5,6)", 3},
                          {"3-DZ(4,5,6)", 3},   {"3-V(4,5)", 3},      {"3-VX(4,5,6,7)", 3},
                          {"3-VY(4,5,6,7)", 3}, {"3-VZ(4,5,6,7)", 3}, {"3-WX(4,5,6)", 3},
                          {"3-WY(4,5,6)", 3},   {"3-WZ(4,5,6)", 3},   {"3-A1(4,5,6)", 3},
                          {"3-A2(4,5,6)", 3},   {"3-A3(4,5,6)", 3},   {"3-F_JOINT(4,5,6,7)", 3}};
  // Partial parses give the value pushed last; broken-off keywords must not crash.
  const Cases partial = {{"", 0},          {"\t\n", 0},          {"*", 0},
                         {"2+", 2},        {"1 2", 1},           {"3*(2", 2},
                         {"sin(2", 0},     {"CONTACT(1,2,3", 0}, {"((1,2))", 1},
                         {"2+abs(5", any}, {"SWITCH(1,2", 0},    {"sin(1,2)", 0},
                         {"DX(1,2)+7", 0}, {"F_JOINT(0,1,0)", 0}};
  const Cases nesting = {
      {nested(200, "7"), 7}, {nested(201, "7"), 0}, {flat + "0", 500}, {deep, 152}};
  for (const Cases* cases : {&grammar, &calls, &contact, &names, &measures, &partial, &nesting})
    for (const auto& [text, want] : *cases) {
      EXPECT_TRUE(sameValue(text, m, h));
      // (The paths must not agree on two zeros where NaN is wanted.)
      EXPECT_TRUE(std::isnan(want) ? evaluate(text, m, h) != 0.0 : evaluate(text, m, h) == want)
          << text;
    }
  EXPECT_EQ(CompiledExpr().evaluate(m, h), 0.0);
}

TEST(ExprThreads, ConcurrentEvaluationsStayApart) {
  Model ma, mb;
  ma.parameters.push_back({0, "x", 2.0, ""}), mb.parameters.push_back({0, "x", 5.0, ""});
  int bad[2] = {0, 0};
  auto run = [](const Model* m, const char* text, double want, int* bad) {
    for (int i = 0; i < 20000; ++i) *bad += evaluate(text, *m) != want;
  };
  std::thread ta(run, &ma, "(x+1)*(x+2)-P(0)", 10.0, bad),
      tb(run, &mb, "x^2/(x+5)*2", 5.0, bad + 1);
  ta.join(), tb.join();
  EXPECT_EQ(bad[0] + bad[1], 0);
}
