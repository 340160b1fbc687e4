// The compiled form of an expression must give evaluate()'s value bit for
// bit, whatever the text: the examples' per-step texts and random texts full
// of broken brackets, keyword prefixes and junk.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "expr/evaluator.h"
#include "model/histories.h"
#include "model/model.h"
#include "model/model_reader.h"
#include "model/settings.h"
#include "solver/vec3.h"
#include "test_util.h"

using namespace orv;

namespace {

std::uint64_t bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// Both paths on one text; a mismatch names the text and both values.
::testing::AssertionResult sameValue(const std::string& text, const Model& m,
                                     const Histories& h) {
  const double want = evaluate(text, m, h);
  const double got = CompiledExpr(text).evaluate(m, h);
  if (bits(want) == bits(got)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "text \"" << text << "\": interpreted " << want
                                       << ", compiled " << got;
}

// A state in which every measure reads something non-trivial: turned bodies,
// moving markers, joint reactions.
void fillState(const Model& m, Histories& h, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const std::size_t nb = m.bodies.size(), nj = m.joints.size();
  h.A.assign(9 * nb, 0.0);
  h.omega.resize(3 * nb);
  h.p_Yi.resize(14 * nb);
  h.p_F_const_i.resize(6 * nj);
  for (std::size_t b = 0; b < nb; ++b) mat3RotationZXZ(&h.A[9 * b], 3 * u(rng), 3 * u(rng), 3 * u(rng));
  for (double& v : h.omega) v = u(rng);
  for (double& v : h.p_Yi) v = u(rng);
  for (double& v : h.p_F_const_i) v = 10 * u(rng);
  h.time = 0.37;
}

// Parameters with a duplicate name, a NaN and names that look like keywords;
// three bodies, four markers and two joints for the measures.
void buildModel(Model& m) {
  const std::pair<const char*, double> params[] = {
      {"k", 4.0},     {"sinx", 0.5},  {"k", 99.0},   {"g_acc", 9.81},
      {"P2", -2.5},   {"timer", 7.0}, {"x_1", 1e-3}, {"big", 1e300},
      {"nanp", std::numeric_limits<double>::quiet_NaN()}};
  for (const auto& [name, v] : params) {
    m.parameters.emplace_back();
    m.parameters.back().name = name;
    m.parameters.back().value = v;
  }
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
  m.joints[0].i_lc = 1;
  m.joints[0].j_lc = 0;
  m.joints[1].i_lc = 2;
  m.joints[1].j_lc = 3;
}

class CompiledExprTest : public ::testing::Test {
 protected:
  void SetUp() override {
    buildModel(m);
    fillState(m, h, 7);
  }
  Model m;
  Histories h;
};

// Random texts: mostly well-formed trees, then broken by deleting,
// inserting and swapping pieces, plus plain token soup.
class TextGenerator {
 public:
  explicit TextGenerator(unsigned seed) : rng_(seed) {}

  std::string next() {
    std::string s = pick(4) == 0 ? soup(1 + pick(12)) : tree(0);
    for (int k = pick(4); k > 0 && !s.empty(); --k) mutate(s);
    return s;
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  template <std::size_t N>
  const char* any(const char* const (&list)[N]) { return list[pick(static_cast<int>(N))]; }

  static constexpr const char* kNumbers[] = {
      "0", "1", "2", "3", "1", "2", "0.5", ".5", "5.", "-1", "+2", "-0", "1e3", "1E-2",
      "2e+1", "1e400", "-.25", "3e", "0x1", "1.5e-320", "-2.5"};
  static constexpr const char* kOps[] = {"+", "-", "*", "/", "^"};
  static constexpr const char* kKeywords[] = {
      "time", "sin", "cos", "asin", "acos", "sgn", "abs", "sqrt", "P", "DX", "DY", "DZ", "D",
      "VX", "VY", "VZ", "V", "WX", "WY", "WZ", "A1", "A2", "A3", "SWITCH", "CONTACT", "F_JOINT"};
  static constexpr const char* kNames[] = {"k", "sinx", "g_acc", "P2", "timer", "x_1", "big",
                                           "nanp", "nosuch", "K", "sinus", "Dx", "_a", "a1b"};
  static constexpr const char* kBlanks[] = {" ", "  ", "\t", "\n", " \r "};
  static constexpr const char* kJunk[] = {"#", "$", "@", ".", ";", "[", "]", "e", "E", ",",
                                          "(", ")", "'", "\"", "=", "!", "~", "%", "\\"};

  std::string blank() { return pick(3) == 0 ? any(kBlanks) : ""; }

  std::string tree(int depth) {
    const int r = depth > 6 ? pick(3) : pick(8);
    switch (r) {
      case 0:
        return blank() + any(kNumbers) + blank();
      case 1:
        return pick(2) ? any(kNames) : "time";
      case 2:
        return pick(2) ? any(kNumbers) : any(kNames);
      case 3:
      case 4:
        return tree(depth + 1) + blank() + any(kOps) + blank() + tree(depth + 1);
      case 5:
        return "(" + tree(depth + 1) + ")";
      default: {
        // A keyword with a random argument count, often the right one.
        std::string s = any(kKeywords);
        if (s == "time") return s;
        s += blank() + "(";
        const int n = 1 + pick(6);
        for (int i = 0; i < n; ++i) s += (i ? "," : "") + tree(depth + 1);
        return s + ")";
      }
    }
  }

  std::string soup(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
      switch (pick(6)) {
        case 0: s += any(kNumbers); break;
        case 1: s += any(kOps); break;
        case 2: s += any(kKeywords); break;
        case 3: s += any(kNames); break;
        case 4: s += any(kBlanks); break;
        default: s += any(kJunk); break;
      }
    }
    return s;
  }

  void mutate(std::string& s) {
    const std::size_t at = static_cast<std::size_t>(pick(static_cast<int>(s.size()) + 1));
    switch (pick(4)) {
      case 0:
        if (at < s.size()) s.erase(at, 1 + pick(3));
        break;
      case 1:
        s.insert(at, soup(1));
        break;
      case 2:
        s.insert(at, pick(2) ? "(" : ")");
        break;
      default:
        s.resize(at);  // cut short
        break;
    }
  }

  std::mt19937 rng_;
};

}  // namespace

TEST_F(CompiledExprTest, ParserQuirksGiveTheSameValue) {
  const std::string deepChain = [] {
    std::string s;  // a value stack deeper than the local one
    for (int i = 0; i < 150; ++i) s += "1+(";
    return s + "2" + std::string(150, ')');
  }();
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
  EXPECT_EQ(CompiledExpr("2+abs(5").evaluate(m, h), 5.0);
  EXPECT_EQ(CompiledExpr("timer").evaluate(m, h), 0.37);
  EXPECT_EQ(CompiledExpr("2*-3").evaluate(m, h), -6.0);
  EXPECT_EQ(CompiledExpr(deepChain).evaluate(m, h), 152.0);
  EXPECT_EQ(CompiledExpr().evaluate(m, h), 0.0);
}

TEST_F(CompiledExprTest, RandomTextsGiveTheSameValue) {
  TextGenerator gen(20240613);
  int nonzero = 0, failures = 0;
  for (int i = 0; i < 20000 && failures < 10; ++i) {
    const std::string t = gen.next();
    if (!sameValue(t, m, h)) {
      ADD_FAILURE() << sameValue(t, m, h).message();
      ++failures;
    }
    if (evaluate(t, m, h) != 0.0) ++nonzero;
  }
  EXPECT_GT(nonzero, 5000);  // the mix must exercise real values
}

// Names and indices resolve when evaluated, so a program outlives changes of
// the parameter table and of the state.
TEST_F(CompiledExprTest, ReadsParametersTimeAndStateWhenEvaluated) {
  const CompiledExpr c("k*10+P(3)+time+sinx+DX(1,2,3)");
  const double before = c.evaluate(m, h);
  EXPECT_EQ(bits(before), bits(evaluate("k*10+P(3)+time+sinx+DX(1,2,3)", m, h)));
  m.parameters.erase(m.parameters.begin());  // `k` is now the 99
  m.parameters[2].value = -1.0;
  fillState(m, h, 8);
  h.time = 5.0;
  const double after = c.evaluate(m, h);
  EXPECT_NE(after, before);
  EXPECT_TRUE(sameValue("k*10+P(3)+time+sinx+DX(1,2,3)", m, h));
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
  EXPECT_EQ(compileCached("1+time").evaluate(m, h), 3.0);

  // A string edited in place keeps its address: the text decides, not where it lies.
  std::string text = "1+time";
  EXPECT_EQ(compileCached(text).evaluate(m, h), 3.0);
  text[0] = '5';
  EXPECT_EQ(compileCached(text).evaluate(m, h), 7.0);
  text += "*2";
  EXPECT_EQ(compileCached(text).evaluate(m, h), 9.0);
}

// The texts the analysis evaluates at every step, as the reader leaves them
// (functions expanded, names turned into indices and P(i)).
TEST(CompiledExprExamples, PerStepTextsGiveTheSameValue) {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(ORVALDYN_EXAMPLES))
    if (e.path().extension() == ".txt") files.push_back(e.path().string());
  ASSERT_FALSE(files.empty());
  int texts = 0, nonzero = 0;
  for (const std::string& file : files) {
    Model m;
    Histories h;
    std::string msg;
    {
      orvtest::ConsoleCapture quiet;
      ASSERT_EQ(readModelFile(file, Settings{}, m, h, msg), ReadStatus::Ok) << file << msg;
    }
    fillState(m, h, 11);
    std::vector<std::string> list;
    for (const Force& f : m.forces)
      if (f.type == "force6") list.insert(list.end(), f.equ, f.equ + 6);
    for (const Motion& mo : m.motions) {
      list.push_back(mo.dt_equ);
      list.push_back(mo.ddt_equ);
    }
    for (const OutputRequest& o : m.outputs) list.push_back(o.equ);
    for (const std::string& t : list) {
      EXPECT_TRUE(sameValue(t, m, h)) << file;
      ++texts;
      if (evaluate(t, m, h) != 0.0) ++nonzero;
    }
  }
  EXPECT_GT(texts, 40);
  EXPECT_GT(nonzero, texts / 2);
}
