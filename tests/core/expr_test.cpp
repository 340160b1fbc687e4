#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <utility>

#include "expr/evaluator.h"
#include "model/histories.h"
#include "model/model.h"

using namespace orv;

namespace {

class ExprTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A later duplicate name never wins.
    for (auto [name, v] : {std::pair{"k", 4.0}, {"sinx", 0.5}, {"k", 99.0}}) {
      m.parameters.emplace_back();
      m.parameters.back().name = name;
      m.parameters.back().value = v;
    }
    h.time = 1.25;
  }
  double ev(const std::string& text) { return evaluate(text, m, h); }

  Model m;
  Histories h;
};

std::string nested(int levels, const std::string& inner) {
  return std::string(levels, '(') + inner + std::string(levels, ')');
}

}  // namespace

TEST_F(ExprTest, PrecedenceAndAssociativity) {
  EXPECT_DOUBLE_EQ(ev("1+2*3"), 7.0);
  EXPECT_DOUBLE_EQ(ev("2*3^2"), 36.0);  // '^' binds like '*'
  EXPECT_DOUBLE_EQ(ev("2^3^2"), 64.0);  // and runs left to right
  EXPECT_DOUBLE_EQ(ev("(1+2)*3"), 9.0);
  EXPECT_DOUBLE_EQ(ev("1-2-3+8/2/2"), -2.0);
  EXPECT_DOUBLE_EQ(ev(" 3 "), 3.0);
  EXPECT_DOUBLE_EQ(ev(" 1.5e1 /\t3 "), 5.0);
  EXPECT_TRUE(std::isinf(ev("1/0")));
}

TEST_F(ExprTest, MinusBelongsToNumbersOnly) {
  EXPECT_DOUBLE_EQ(ev("2*-3"), -6.0);
  EXPECT_DOUBLE_EQ(ev("2 -3"), -1.0);
  EXPECT_EQ(ev("-time"), 0.0);
  EXPECT_EQ(ev("-(1)"), 0.0);
}

TEST_F(ExprTest, MathKeywords) {
  EXPECT_DOUBLE_EQ(ev("acos (0.5)"), std::acos(0.5));
  EXPECT_DOUBLE_EQ(ev("sqrt(abs(-16))"), 4.0);
  EXPECT_EQ(ev("sgn(0)"), 0.0);
  EXPECT_EQ(ev("sgn(-2)"), -1.0);
  EXPECT_EQ(ev("sgn(0/0)"), 0.0);
  EXPECT_EQ(ev("sgn(1/0)"), 1.0);
  EXPECT_EQ(ev("SWITCH(0,1,2,3)"), 2.0);
  EXPECT_EQ(ev("SWITCH(-1,1,2,3)"), 3.0);
  EXPECT_EQ(ev("SWITCH(0.1,1,2,3)"), 1.0);
  EXPECT_EQ(ev("SWITCH(0/0,1,2,3)"), 0.0);
  EXPECT_DOUBLE_EQ(ev("CONTACT(1,2,0,10,0,1.5)"), 10.0);
  EXPECT_EQ(ev("CONTACT(3,2,0,10,0,1.5)"), 0.0);
  EXPECT_DOUBLE_EQ(ev("CONTACT(1,3,1,10,2,2)"), 38.0);  // 10*2^2 - 1*2
  EXPECT_EQ(ev("CONTACT(0/0,3,1,10,2,2)"), 0.0);
}

TEST_F(ExprTest, NamesTimeAndKeywordPrefixes) {
  EXPECT_EQ(ev("k*2"), 8.0);  // first parameter of that name
  EXPECT_EQ(ev("nosuch"), 0.0);
  EXPECT_EQ(ev("sinx"), 0.5);  // `sin` needs its bracket
  EXPECT_EQ(ev("time*2"), 2.5);
  EXPECT_EQ(ev("timer"), 1.25);  // keyword `time`, rest unparsed
}

TEST_F(ExprTest, ParameterByIndex) {
  EXPECT_EQ(ev("P(0)"), 4.0);
  EXPECT_EQ(ev("P(1.9)"), 0.5);  // truncated
  EXPECT_EQ(ev("P(3)"), 0.0);
  EXPECT_EQ(ev("P(-1)"), 0.0);
  EXPECT_EQ(ev("P(1e300)"), 0.0);
  EXPECT_EQ(ev("P(4294967296)"), 0.0);  // would wrap to 0 in a 32-bit cast
  EXPECT_EQ(ev("P(1/0)"), 0.0);
}

TEST_F(ExprTest, UnparsableAndPartialTexts) {
  EXPECT_EQ(ev(""), 0.0);
  EXPECT_EQ(ev("*"), 0.0);
  EXPECT_EQ(ev("2+"), 2.0);
  EXPECT_EQ(ev("1 2"), 1.0);
  EXPECT_EQ(ev("3*(2"), 2.0);  // value pushed last
  // A keyword whose arguments break off: its actions ran, nothing may crash.
  EXPECT_EQ(ev("sin(2"), 0.0);
  EXPECT_EQ(ev("CONTACT(1,2,3"), 0.0);
  EXPECT_EQ(ev("((1,2))"), 1.0);
}

TEST_F(ExprTest, NestingLimit) {
  EXPECT_EQ(ev(nested(200, "7")), 7.0);
  EXPECT_EQ(ev(nested(201, "7")), 0.0);
  EXPECT_EQ(ev(nested(10000, "7")), 0.0);
  // Closing brackets end a level, so long flat texts are fine.
  std::string flat;
  for (int i = 0; i < 500; ++i) flat += "(1)+";
  EXPECT_EQ(ev(flat + "0"), 500.0);
}

// Measures read 0 for now; the forms must parse and consume all their
// arguments, or "3-" would subtract from a leftover argument.
TEST_F(ExprTest, MeasureKeywordsConsumeArguments) {
  EXPECT_EQ(ev("D(0,1)+5"), 5.0);
  for (const char* form : {"D(4,5)", "DX(4,5,6)", "DY(4,5,6)", "DZ(4,5,6)", "V(4,5)",
                           "VX(4,5,6,7)", "VY(4,5,6,7)", "VZ(4,5,6,7)", "WX(4,5,6)",
                           "WY(4,5,6)", "WZ(4,5,6)", "A1(4,5,6)", "A2(4,5,6)", "A3(4,5,6)",
                           "F_JOINT(4,5,6,7)"})
    EXPECT_EQ(ev(std::string("3-") + form), 3.0) << form;
}

TEST(ExprThreads, ConcurrentEvaluationsStayApart) {
  Model ma, mb;
  ma.parameters.resize(1);
  ma.parameters[0].name = "x";
  ma.parameters[0].value = 2.0;
  mb.parameters = ma.parameters;
  mb.parameters[0].value = 5.0;
  Histories h;
  int bad_a = 0, bad_b = 0;
  auto run = [&h](const Model& m, const char* text, double want, int& bad) {
    for (int i = 0; i < 20000; ++i)
      if (evaluate(text, m, h) != want) ++bad;
  };
  std::thread ta(run, std::cref(ma), "(x+1)*(x+2)-P(0)", 10.0, std::ref(bad_a));
  std::thread tb(run, std::cref(mb), "x^2/(x+5)*2", 5.0, std::ref(bad_b));
  ta.join();
  tb.join();
  EXPECT_EQ(bad_a, 0);
  EXPECT_EQ(bad_b, 0);
}
