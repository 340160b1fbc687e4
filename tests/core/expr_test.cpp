// The expression language: the grammar's values, and the compiled and bound
// forms giving the interpreter's value bit for bit, whatever the text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "expr/evaluator.h"
#include "expr/measures.h"
#include "model/kinematics.h"
#include "math/vec3.h"
#include "test_util.h"

using namespace orv;

namespace {

std::uint64_t bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// All paths on one text: parsed, compiled, bound to m, bound twice.
::testing::AssertionResult sameValue(const std::string& text, const Model& m, const Kinematics& h) {
  const double want = evaluate(text, m, h);
  const CompiledExpr c(text), b = c.bind(m);
  const double got = c.evaluate(m, h), bound = b.evaluate(m, h), twice = b.bind(m).evaluate(m, h);
  if (bits(want) == bits(got) && bits(want) == bits(bound) && bits(want) == bits(twice))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "text \"" << text << "\": interpreted " << want << ", compiled " << got << ", bound "
         << bound << ", bound twice " << twice;
}

// A state in which every measure reads something non-trivial.
void fillState(const Model& m, Kinematics& h, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const std::size_t nb = m.bodies.size();
  h.A.assign(9 * nb, 0.0), h.omega.resize(3 * nb), h.Y.resize(14 * nb);
  h.reactions.resize(6 * m.joints.size());
  for (std::size_t b = 0; b < nb; ++b)
    mat3RotationZXZ(&h.A[9 * b], 3 * u(rng), 3 * u(rng), 3 * u(rng));
  for (double& v : h.omega) v = u(rng);
  for (double& v : h.Y) v = u(rng);
  for (double& v : h.reactions) v = 10 * u(rng);
  h.time = 0.37;
}

// Parameters with a duplicate name, a NaN and names that look like keywords;
// three bodies, four markers and two joints for the measures.
struct ExprTest : ::testing::Test {
  void SetUp() override {
    const std::pair<const char*, double> params[] = {
        {"k", 4.0},     {"sinx", 0.5}, {"k", 99.0},    {"g_acc", 9.81},       {"P2", -2.5},
        {"timer", 7.0}, {"x_1", 1e-3}, {"big", 1e300}, {"nanp", std::nan("")}};
    for (const auto& [name, v] : params) m.parameters.push_back({0, name, v, ""});
    m.bodies.resize(3), m.frames.resize(4), m.joints.resize(2);
    for (int b = 0; b < 3; ++b)
      for (int c = 0; c < 3; ++c) m.bodies[b].cg_pos[c] = 0.3 * b - 0.1 * c;
    for (int f = 0; f < 4; ++f) {
      m.frames[f].body = f == 3 ? 1 : f;
      for (int c = 0; c < 3; ++c)
        m.frames[f].pos[c] = 0.2 * f + 0.05 * c, m.frames[f].ang[c] = 25.0 * f + 10.0 * c;
    }
    m.joints[0].i_lc = 1, m.joints[0].j_lc = 0, m.joints[1].i_lc = 2, m.joints[1].j_lc = 3;
    resolveTypesAndAxes(m);
    fillState(m, h, 7);
  }
  Model m;
  Kinematics h;
};

// Random texts: mostly well-formed trees, then broken by deleting, inserting
// and swapping pieces, plus plain token soup.
class TextGenerator {
 public:
  explicit TextGenerator(unsigned seed) : rng_(seed) {}
  std::string next() {
    std::string s = pick(4) == 0 ? soup(1 + pick(12)) : tree(0);
    for (int k = pick(4); k > 0 && !s.empty(); --k) {
      const std::size_t at = static_cast<std::size_t>(pick(static_cast<int>(s.size()) + 1));
      const int how = pick(4);
      if (how == 0 && at < s.size()) s.erase(at, 1 + pick(3));
      if (how == 1) s.insert(at, soup(1));
      if (how == 2) s.insert(at, pick(2) ? "(" : ")");
      if (how == 3) s.resize(at);  // cut short
    }
    return s;
  }

 private:
  enum { kNumber, kOp, kKeyword, kName, kBlank, kJunk };
  const std::vector<const char*> pools_[6] = {
      {"0",  "1",   "2",    "3",    "1",     "2",    "0.5", ".5",  "5.",       "-1",  "+2",
       "-0", "1e3", "1E-2", "2e+1", "1e400", "-.25", "3e",  "0x1", "1.5e-320", "-2.5"},
      {"+", "-", "*", "/", "^"},
      {"time", "sin", "cos", "asin", "acos", "sgn",    "abs",     "sqrt",   "P",
       "DX",   "DY",  "DZ",  "D",    "VX",   "VY",     "VZ",      "V",      "WX",
       "WY",   "WZ",  "A1",  "A2",   "A3",   "SWITCH", "CONTACT", "F_JOINT"},
      {"k", "sinx", "g_acc", "P2", "timer", "x_1", "big", "nanp", "nosuch", "K", "sinus", "Dx",
       "_a", "a1b"},
      {" ", "  ", "\t", "\n", " \r "},
      {"#", "$", "@", ".", ";", "[", "]", "e", "E", ",", "(", ")", "'", "\"", "=", "!", "~", "%",
       "\\"}};

  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  const char* any(int pool) { return pools_[pool][pick(static_cast<int>(pools_[pool].size()))]; }
  std::string blank() { return pick(3) == 0 ? any(kBlank) : ""; }
  std::string soup(int n) {
    std::string s;
    while (n-- > 0) s += any(pick(6));
    return s;
  }
  std::string tree(int depth) {
    const int r = depth > 6 ? pick(3) : pick(8);
    if (r == 0) return blank() + any(kNumber) + blank();
    if (r == 1) return pick(2) ? any(kName) : "time";
    if (r == 2) return pick(2) ? any(kNumber) : any(kName);
    if (r <= 4) return tree(depth + 1) + blank() + any(kOp) + blank() + tree(depth + 1);
    if (r == 5) return "(" + tree(depth + 1) + ")";
    std::string s = any(kKeyword);  // with 1..6 arguments, often the right count
    if (s == "time") return s;
    s += blank() + "(";
    for (int i = 0, n = 1 + pick(6); i < n; ++i) s += (i ? "," : "") + tree(depth + 1);
    return s + ")";
  }

  std::mt19937 rng_;
};

std::string nested(int levels, const std::string& inner) {
  return std::string(levels, '(') + inner + std::string(levels, ')');
}

}  // namespace

TEST_F(ExprTest, GrammarCasesOnEveryPath) {
  std::string flat, deep;  // closing brackets end a level, so long flat texts are fine
  for (int i = 0; i < 500; ++i) flat += "(1)+";
  for (int i = 0; i < 150; ++i)
    deep += "1+(";  // a value stack deeper than the compiled one's local
  deep += "2" + std::string(150, ')');
  const double any = NAN;  // the paths must agree; the value is not checked
  const std::pair<std::string, double> cases[] = {
      // '^' binds like '*'; both run left to right.
      {"1+2*3", 7},
      {"2*3^2", 36},
      {"2^3^2", 64},
      {"(1+2)*3", 9},
      {"1-2-3+8/2/2", -2},
      {" 3 ", 3},
      {" 1.5e1 /\t3 ", 5},
      {"1/0", INFINITY},
      {"1e400-1e400", any},
      // Minus belongs to numbers only.
      {"2*-3", -6},
      {"2 -3", -1},
      {"-time", 0},
      {"-(1)", 0},
      {"acos (0.5)", std::acos(0.5)},
      {"sqrt(abs(-16))", 4},
      {"sgn(0)", 0},
      {"sgn(-2)", -1},
      {"sgn(0/0)", 0},
      {"sgn(1/0)", 1},
      {"SWITCH(0,1,2,3)", 2},
      {"SWITCH(-1,1,2,3)", 3},
      {"SWITCH(0.1,1,2,3)", 1},
      {"SWITCH(0/0,1,2,3)", 0},
      {"CONTACT(1,2,0,10,0,1.5)", 10},
      {"CONTACT(3,2,0,10,0,1.5)", 0},
      {"CONTACT(1,3,1,10,2,2)", 38},  // 10*2^2 - 1*2
      {"CONTACT(0/0,3,1,10,2,2)", 0},
      {"abs(0/0)+0/0", any},
      {"0/0+abs(0/0)", any},
      {"nanp*0/0", any},
      // Keywords match as prefixes: "timer" is `time` with the rest unparsed; `sin` needs "(".
      // A later duplicate name never wins.
      {"k*2", 8},
      {"nosuch", 0},
      {"sinx", 0.5},
      {"time*2", 0.74},
      {"timer", 0.37},
      // P(i) truncates; out of range reads 0 (4294967296 would wrap to 0 in a 32-bit cast).
      {"P(0)", 4},
      {"P(1.9)", 0.5},
      {"P(9)", 0},
      {"P(-1)", 0},
      {"P(1e300)", 0},
      {"P(4294967296)", 0},
      {"P(1/0)", 0},
      {"P(0/0)", 0},
      {"P(0)+P(1.9)", 4.5},
      // Partial parses give the value pushed last; broken-off keywords must not crash.
      {"", 0},
      {"\t\n", 0},
      {"*", 0},
      {"2+", 2},
      {"1 2", 1},
      {"3*(2", 2},
      {"sin(2", 0},
      {"CONTACT(1,2,3", 0},
      {"((1,2))", 1},
      {"2+abs(5", any},
      {"SWITCH(1,2", 0},
      {"sin(1,2)", 0},
      {"DX(1,2)+7", 0},
      {"F_JOINT(0,1,0)", 0},
      {nested(200, "7"), 7},
      {nested(201, "7"), 0},
      {nested(10000, "7"), 0},
      {flat + "0", 500},
      {deep, 152},
      {"3-D(4,5)", 3}};
  for (const auto& [text, want] : cases) {
    EXPECT_TRUE(sameValue(text, m, h));
    if (!std::isnan(want))
      EXPECT_EQ(evaluate(text, m, h), want) << text;
    else
      EXPECT_NE(evaluate(text, m, h), 0.0) << text;  // not two zeros compared
  }
  EXPECT_EQ(CompiledExpr().evaluate(m, h), 0.0);
  // Measures on markers that do not exist are 0, and must consume all their
  // arguments, or "3-" would subtract from a leftover one.
  for (const char* form : {"D(4,5)", "DX(4,5,6)", "DY(4,5,6)", "DZ(4,5,6)", "V(4,5)", "VX(4,5,6,7)",
                           "VY(4,5,6,7)", "VZ(4,5,6,7)", "WX(4,5,6)", "WY(4,5,6)", "WZ(4,5,6)",
                           "A1(4,5,6)", "A2(4,5,6)", "A3(4,5,6)", "F_JOINT(4,5,6,7)"})
    EXPECT_EQ(evaluate(std::string("3-") + form, m, h), 3.0) << form;
}

TEST_F(ExprTest, RandomTextsOnEveryPath) {
  TextGenerator gen(20240613);
  int nonzero = 0, failures = 0;
  for (int i = 0; i < 20000 && failures < 10; ++i) {
    const std::string t = gen.next();
    const ::testing::AssertionResult same = sameValue(t, m, h);
    EXPECT_TRUE(same);
    failures += same ? 0 : 1;
    nonzero += evaluate(t, m, h) != 0.0;
  }
  EXPECT_GT(nonzero, 5000);  // the mix must exercise real values
}

// Kinematics that hold only some bodies (as before a run, or cut short):
// each measure must check them the same way bound or not.
TEST_F(ExprTest, PartialStatesOnEveryPath) {
  TextGenerator gen(77);
  std::vector<std::string> texts = {"DX(1,2,3)", "V(3,0)",           "VZ(0,3,1,2)",  "WY(2,0,1)",
                                    "A2(1,2,0)", "F_JOINT(1,4,1,1)", "D(2,1)+P(3)*k"};
  for (int i = 0; i < 3000; ++i) texts.push_back(gen.next());
  for (int cut = 0; cut < 4; ++cut) {
    Kinematics part = h;  // bodies 0 and 1 of 3
    if (cut == 0) part.A.resize(9 * 2);
    if (cut == 1) part.omega.resize(3 * 2);
    if (cut == 2) part.Y.resize(3 * 3 + 3 * 2);
    if (cut == 3) part = Kinematics{};
    for (const std::string& t : texts) ASSERT_TRUE(sameValue(t, m, part)) << "cut " << cut;
  }
}

// Names and indices resolve when evaluated, so a program outlives edits of parameters and state.
TEST_F(ExprTest, CompiledReadsParametersTimeAndStateWhenEvaluated) {
  const std::string text = "k*10+P(3)+time+sinx+DX(1,2,3)";
  const CompiledExpr c(text);
  const double before = c.evaluate(m, h);
  m.parameters.erase(m.parameters.begin());  // `k` is now the 99
  m.parameters[2].value = -1.0;
  fillState(m, h, 8);
  h.time = 5.0;
  EXPECT_NE(c.evaluate(m, h), before);
  EXPECT_EQ(bits(c.evaluate(m, h)), bits(evaluate(text, m, h)));
  EXPECT_EQ(c.evaluate(Model(), h), 5.0);  // unknown names and indices read 0
}

TEST(ExprThreads, ConcurrentEvaluationsStayApart) {
  Model ma, mb;
  ma.parameters.push_back({0, "x", 2.0, ""}), mb.parameters.push_back({0, "x", 5.0, ""});
  Kinematics h;
  int bad_a = 0, bad_b = 0;
  auto run = [&h](const Model& m, const char* text, double want, int& bad) {
    for (int i = 0; i < 20000; ++i) bad += evaluate(text, m, h) != want;
  };
  std::thread ta(run, std::cref(ma), "(x+1)*(x+2)-P(0)", 10.0, std::ref(bad_a));
  std::thread tb(run, std::cref(mb), "x^2/(x+5)*2", 5.0, std::ref(bad_b));
  ta.join(), tb.join();
  EXPECT_EQ(bad_a + bad_b, 0);
}
