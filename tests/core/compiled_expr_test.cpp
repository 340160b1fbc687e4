// The compiled form must give evaluate()'s value bit for bit, whatever the text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "expr/evaluator.h"
#include "math/vec3.h"
#include "test_util.h"

using namespace orv;

namespace {

std::uint64_t bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// All paths on one text (parsed, compiled, compiled and bound to m); a
// mismatch names the text and the values.
::testing::AssertionResult sameValue(const std::string& text, const Model& m,
                                     const Histories& h) {
  const double want = evaluate(text, m, h);
  const CompiledExpr c(text);
  const double got = c.evaluate(m, h);
  const CompiledExpr b = c.bind(m);
  const double bound = b.evaluate(m, h);
  const double twice = b.bind(m).evaluate(m, h);
  if (bits(want) == bits(got) && bits(want) == bits(bound) && bits(want) == bits(twice))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "text \"" << text << "\": interpreted " << want
                                       << ", compiled " << got << ", bound " << bound
                                       << ", bound twice " << twice;
}

// A state in which every measure reads something non-trivial.
void fillState(const Model& m, Histories& h, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const std::size_t nb = m.bodies.size(), nj = m.joints.size();
  h.A.assign(9 * nb, 0.0);
  h.omega.resize(3 * nb);
  h.p_Yi.resize(14 * nb);
  h.p_F_const_i.resize(6 * nj);
  for (std::size_t b = 0; b < nb; ++b)
    mat3RotationZXZ(&h.A[9 * b], 3 * u(rng), 3 * u(rng), 3 * u(rng));
  for (double& v : h.omega) v = u(rng);
  for (double& v : h.p_Yi) v = u(rng);
  for (double& v : h.p_F_const_i) v = 10 * u(rng);
  h.time = 0.37;
}

// Parameters with a duplicate name, a NaN and names that look like keywords;
// three bodies, four markers and two joints for the measures.
void buildModel(Model& m) {
  const std::pair<const char*, double> params[] = {
      {"k", 4.0},     {"sinx", 0.5}, {"k", 99.0},     {"g_acc", 9.81},       {"P2", -2.5},
      {"timer", 7.0}, {"x_1", 1e-3}, {"big", 1e300}, {"nanp", std::nan("")}};
  for (const auto& [name, v] : params) m.parameters.push_back({0, name, v, ""});
  m.bodies.resize(3);
  for (int b = 0; b < 3; ++b)
    for (int c = 0; c < 3; ++c) m.bodies[b].cg_pos[c] = 0.3 * b - 0.1 * c;
  const int frameBody[] = {0, 1, 2, 1};
  m.frames.resize(4);
  for (int f = 0; f < 4; ++f) {
    m.frames[f].body = frameBody[f];
    for (int c = 0; c < 3; ++c) {
      m.frames[f].pos[c] = 0.2 * f + 0.05 * c;
      m.frames[f].ang[c] = 25.0 * f + 10.0 * c;
    }
  }
  m.joints.resize(2);
  m.joints[0].i_lc = 1, m.joints[0].j_lc = 0;
  m.joints[1].i_lc = 2, m.joints[1].j_lc = 3;
  resolveTypesAndAxes(m);
}

struct CompiledExprTest : ::testing::Test {
  void SetUp() override { buildModel(m), fillState(m, h, 7); }
  Model m;
  Histories h;
};

// Random texts: mostly well-formed trees, then broken by deleting, inserting
// and swapping pieces, plus plain token soup.
class TextGenerator {
 public:
  explicit TextGenerator(unsigned seed) : rng_(seed) {}

  std::string next() {
    std::string s = pick(4) == 0 ? soup(1 + pick(12)) : tree(0);
    for (int k = pick(4); k > 0 && !s.empty(); --k) mutate(s);
    return s;
  }

 private:
  enum { kNumber, kOp, kKeyword, kName, kBlank, kJunk };
  const std::vector<const char*> pools_[6] = {
      {"0", "1", "2", "3", "1", "2", "0.5", ".5", "5.", "-1", "+2", "-0", "1e3", "1E-2", "2e+1",
       "1e400", "-.25", "3e", "0x1", "1.5e-320", "-2.5"},
      {"+", "-", "*", "/", "^"},
      {"time", "sin", "cos", "asin", "acos", "sgn", "abs", "sqrt", "P", "DX", "DY", "DZ", "D",
       "VX", "VY", "VZ", "V", "WX", "WY", "WZ", "A1", "A2", "A3", "SWITCH", "CONTACT", "F_JOINT"},
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

  void mutate(std::string& s) {
    const std::size_t at = static_cast<std::size_t>(pick(static_cast<int>(s.size()) + 1));
    const int how = pick(4);
    if (how == 0 && at < s.size()) s.erase(at, 1 + pick(3));
    if (how == 1) s.insert(at, soup(1));
    if (how == 2) s.insert(at, pick(2) ? "(" : ")");
    if (how == 3) s.resize(at);  // cut short
  }

  std::mt19937 rng_;
};

}  // namespace

TEST_F(CompiledExprTest, ParserQuirksGiveTheSameValue) {
  std::string deepChain;  // a value stack deeper than the local one
  for (int i = 0; i < 150; ++i) deepChain += "1+(";
  deepChain += "2" + std::string(150, ')');
  const std::string texts[] = {
      "", " ", "\t\n", "*", "2+", "1 2", "3*(2", "2+abs(5", "sin(2", "CONTACT(1,2,3",
      "((1,2))", "2*-3", "2 -3", "-time", "-(1)", "timer", "time*2", "sinx", "nosuch",
      "k*2", "P(0)+P(1.9)", "P(-1)", "P(1e300)", "P(4294967296)", "P(1/0)", "P(0/0)",
      "sgn(0/0)", "sgn(1/0)", "SWITCH(0/0,1,2,3)", "CONTACT(1,3,1,10,2,2)",
      "abs(0/0)+0/0", "0/0+abs(0/0)", "nanp*0/0", "2^3^2", "1e400-1e400", "1-2-3+8/2/2",
      "D(1,2)", "DX(1,2,3)", "VY(1,2,3,0)", "V(3,0)", "WZ(0,2,1)", "A1(0,1,2)", "A2(1,2,3)",
      "A3(2,0,1)", "F_JOINT(0,6,1,1)", "F_JOINT(1,4,0,1)", "3-D(4,5)", "SWITCH(1,2",
      "sin(1,2)", "DX(1,2)+7", "F_JOINT(0,1,0)", std::string(201, '(') + "7" +
      std::string(201, ')'), std::string(200, '(') + "7" + std::string(200, ')'), deepChain};
  for (const std::string& t : texts) EXPECT_TRUE(sameValue(t, m, h));
  // Spot checks that the comparisons above are not between two zeros.
  EXPECT_EQ(CompiledExpr("timer").evaluate(m, h), 0.37);  // the keyword wins over the parameter
  EXPECT_EQ(CompiledExpr(deepChain).evaluate(m, h), 152.0);
  EXPECT_EQ(CompiledExpr().evaluate(m, h), 0.0);
}

TEST_F(CompiledExprTest, RandomTextsGiveTheSameValue) {
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

// Histories that hold only some bodies (as before a run, or cut short):
// each measure must check them the same way bound or not.
TEST_F(CompiledExprTest, PartialStatesGiveTheSameValue) {
  TextGenerator gen(77);
  std::vector<std::string> texts;
  for (int i = 0; i < 3000; ++i) texts.push_back(gen.next());
  for (const char* t : {"DX(1,2,3)", "V(3,0)", "VZ(0,3,1,2)", "WY(2,0,1)", "A2(1,2,0)",
                        "F_JOINT(1,4,1,1)", "D(2,1)+P(3)*k"})
    texts.push_back(t);
  for (int cut = 0; cut < 4; ++cut) {
    Histories part = h;
    const std::size_t keep = 2;  // bodies 0 and 1 of 3
    if (cut == 0) part.A.resize(9 * keep);
    if (cut == 1) part.omega.resize(3 * keep);
    if (cut == 2) part.p_Yi.resize(3 * 3 + 3 * keep);
    if (cut == 3) part = Histories{};
    for (const std::string& t : texts) ASSERT_TRUE(sameValue(t, m, part)) << "cut " << cut;
  }
}

// Names and indices resolve when evaluated, so a program outlives edits of parameters and state.
TEST_F(CompiledExprTest, ReadsParametersTimeAndStateWhenEvaluated) {
  const std::string text = "k*10+P(3)+time+sinx+DX(1,2,3)";
  const CompiledExpr c(text);
  const double before = c.evaluate(m, h);
  m.parameters.erase(m.parameters.begin());  // `k` is now the 99
  m.parameters[2].value = -1.0;
  fillState(m, h, 8);
  h.time = 5.0;
  EXPECT_NE(c.evaluate(m, h), before);
  EXPECT_EQ(bits(c.evaluate(m, h)), bits(evaluate(text, m, h)));
  Model empty;
  EXPECT_EQ(c.evaluate(empty, h), 5.0);  // unknown names and indices read 0
}

TEST(CompiledExprCache, SameTextSameProgram) {
  const CompiledExpr& a = compileCached("1+time");
  EXPECT_EQ(&a, &compileCached(std::string("1+") + "time"));
  EXPECT_NE(&a, &compileCached("1+time "));
  Model m;
  Histories h;
  h.time = 2.0;
  // A string edited in place keeps its address: the text decides, not where it lies.
  std::string text = "1+time";
  EXPECT_EQ(compileCached(text).evaluate(m, h), 3.0);
  text[0] = '5';
  EXPECT_EQ(compileCached(text).evaluate(m, h), 7.0);
  text += "*2";
  EXPECT_EQ(compileCached(text).evaluate(m, h), 9.0);
}

// The texts the analysis evaluates at every step, as the reader leaves them.
TEST(CompiledExprExamples, PerStepTextsGiveTheSameValue) {
  int texts = 0, nonzero = 0;
  for (const auto& e : std::filesystem::directory_iterator(ORVALDYN_EXAMPLES)) {
    if (e.path().extension() != ".txt") continue;
    const std::string file = e.path().filename().string();
    orvtest::Outcome o = orvtest::loadFile(e.path().string(), orvtest::runSettings());
    ASSERT_TRUE(o.read) << o.message;
    const Model& m = o.m;
    Histories& h = o.h;
    fillState(m, h, 11);
    std::vector<std::string> list;
    for (const Force& f : m.forces)
      if (f.kind == ForceType::Force6) list.insert(list.end(), f.equ, f.equ + 6);
    for (const Motion& mo : m.motions) list.insert(list.end(), {mo.dt_equ, mo.ddt_equ});
    for (const OutputRequest& o : m.outputs) list.push_back(o.equ);
    for (const std::string& t : list) {
      EXPECT_TRUE(sameValue(t, m, h)) << file;
      ++texts;
      nonzero += evaluate(t, m, h) != 0.0;
    }
  }
  EXPECT_GT(texts, 40);
  EXPECT_GT(nonzero, texts / 2);
}
