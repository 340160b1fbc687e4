#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <tuple>

#include "model/histories.h"
#include "model/model.h"
#include "files/model_reader.h"
#include "model/settings.h"
#include "test_util.h"

using namespace orv;

namespace {

const auto npos = std::string::npos;

// Sections of a small but complete model, in file order.
const std::map<std::string, std::string> kBase = {
    {"1param", "parameter_info P width 0.5 mass P(0)*4 %\n"},
    {"2body", "body_info B base cg_base 1 1 1 1 0 0 0 0 0 0\n"
              "arm cg_arm mass 0.1 0.2 0.3 0 0 0 0 0 0 %\n"},
    {"3frame", "frame_info F cg_base base 0 0 0 0 0 0\ncg_arm arm width 0 0 0 0 0\n"
               "pin arm 0 0 0 90 0 0 %\n"},
    {"4joint", "joint_info J on fix_base ground cg_base non\n"
               "on hinge revolution pin cg_base %\n"},
    {"5motion", "motion_info M on drive R hinge vel 1.0 %\n"},
    {"6function", "function_info F f1 width*2 f2 f1+1 %\n"},
    {"7force", "force_info F on pull force6 pin cg_base cg_base f1+D(pin,pin) 0 0 0 0 0\n"
               "off spring spring1 pin cg_base cg_base 100 2 %\n"},
    {"8shape", "shape_info S ball sphere cg_arm red 1 0.1 box cube cg_base blue 0.5 0.2 %\n"},
    {"a_shadow", "shadow_info S sh1 cg_base ball %\n"},
    {"d_output", "output_info O dist D(pin,cg_base) twice f2*width %\n"},
    {"e_gravity", "gravity G on y- %\n"},
    {"f_time", "simulation_time T 0 0.01 1 %\n"},
    {"g_graphic", "graphic_size G frame 0.2 force 0.01 %\n"},
};

// The base model with some sections replaced ("" leaves one out).
std::string modelText(const std::map<std::string, std::string>& changes = {}) {
  std::string text;
  for (const auto& [key, section] : kBase) {
    const auto c = changes.find(key);
    text += c == changes.end() ? section : c->second;
  }
  return text;
}

// A model and its histories, read (and read again) from text; colours red and blue.
struct Reader {
  Model m;
  Histories h;
  ReadStatus status{};
  std::string message, console, path;
  explicit Reader(const std::string& text) { read(text); }
  ReadStatus read(const std::string& text) {
    path = orvtest::makeTempDir() + "/model.txt";
    orvtest::writeFile(path, text);
    Settings s;
    s.colors = {Color{"red", {1, 0, 0}}, Color{"blue", {0, 0, 1}}};
    orvtest::ConsoleCapture con;
    status = readModelFile(path, s, m, h, message);
    console = con.text();
    return status;
  }
};

}  // namespace

TEST(ModelReader, ReadsEverySectionOfAWholeModel) {
  Reader r(modelText());
  ASSERT_EQ(r.status, ReadStatus::Ok) << r.message << r.console;
  const Model& m = r.m;
  EXPECT_TRUE(r.console.find("Model Complete\n") != npos && r.console.find("Wrong") == npos)
      << "non needs no message";
  // Parameters are evaluated in order; the rebuilt table adds LC and joint rows.
  ASSERT_EQ(m.parameter_num(), 2 + 3 + 2);
  EXPECT_TRUE(m.parameters[4].value == 2.0 && m.parameters[6].name == "hinge" &&
              m.parameters[6].value == 1.0);
  ASSERT_TRUE(m.body_num() == 2 && m.joint_num() == 2);
  EXPECT_TRUE(m.bodies[1].mass == 2.0 && m.bodies[1].cg_pos[0] == 0.5 && m.max_length == 0.5);
  EXPECT_EQ(m.const_num, 6 + 5 + 1);
  // Names resolved: body cg LC, frame body, joint i LC, j body and ground j LC,
  // motion joint, force reference LC, shape body, shadow shape.
  EXPECT_EQ((std::vector<int>{m.bodies[1].cg_lc, m.frames[2].body, m.joints[1].i_lc,
                              m.joints[1].j_body, m.joints[0].j_lc, m.motions[0].joint,
                              m.forces[0].r_lc, m.shapes[0].body, m.shadows[0].shape}),
            (std::vector<int>{1, 1, 2, 0, -1, 1, 0, 1, 0}));
  EXPECT_EQ(m.motions[0].dt_equ + " " + m.motions[0].ddt_equ, "1.0 0.0");
  // Texts: function expanded unparenthesised, LC by index, parameter as P(i).
  EXPECT_EQ(m.forces[0].equ[0], "P(0)*2+D(2,2)");
  EXPECT_EQ(m.outputs[0].equ + " " + m.outputs[1].equ, "D(2,0) P(0)*2+1*P(0)");
  EXPECT_TRUE(m.forces[1].k[0] == 100.0 && m.forces[1].c[0] == 2.0 && m.shapes[1].RGB[2] == 1.0 &&
              m.shapes[1].trans == 0.5);
  ASSERT_EQ(m.gravity.size(), 2u);
  EXPECT_DOUBLE_EQ(m.gravity[1].F[1], -2.0 * 9.81);
  EXPECT_TRUE(m.sample_num == 101 && m.frame_size == 0.2 && m.force_size == 0.01);
  // The one sample for the view: unit Euler parameters, nothing moving.
  EXPECT_TRUE(r.h.anime_num == 1 && r.h.p_YYY.size() == 28u && r.h.p_YYY[12] == 1.0 &&
              r.h.p_YYY[16] == 1.0);
}

TEST(ModelReader, SampleCountKeepsTheEndOfTheSpan) {
  // A whole number of steps keeps its end, whatever the rounding; backward
  // and degenerate spans never become undefined casts.
  const double cases[][4] = {{0, 0.3, 1, 4},
                             {0.5, 0.1, 0.5, 1},
                             {0, 1e-5, 0.03, 3001},
                             {-1, 0.01, 1, 201},
                             {1e5, 1e-3, 1e5 + 0.35, 351},
                             {0, 0.1, -0.05, 0},
                             {0, 0, 0, 0},
                             {0, 1e-300, 1e300, 2147483647}};
  for (const auto& c : cases) EXPECT_EQ(sampleCount(c[0], c[1], c[2]), c[3]) << c[1] << " " << c[2];
  // Steps per sample: a whole number from 1 up.
  for (const char* bad : {"0", "2.5", "x"})
    EXPECT_NE(
        Reader(modelText({{"f_time", std::string("simulation_time T 0 0.01 1 ") + bad + " %\n"}}))
            .message.find("not a whole number of at least 1; expected steps_per_sample"),
        npos)
        << bad;
}

// The sections after the local coordinates may all be left out.
TEST(ModelReader, EchoOfTheFirstSections) {
  Reader r("parameter_info P a 2 b P(0)*3 %\n"
           "body_info B b1 c1 1 1 2 3 0 0 0 0 0 0 %\n"
           "local_coordinate_info L c1 b1 1 0 0 0 0 0 %\n"
           "simulation_time T 0 0.5 1 %\n");
  ASSERT_EQ(r.status, ReadStatus::Ok) << r.message;
  EXPECT_EQ(
      r.console,
      "MODEL FILE OPEN !!\n\nparameter_info\n a,  b,  %, \nparameter_num=2\n"
      "Parameter\n  0:a=2.000e+00,    1:b=6.000e+00,  \n\n"
      "body_info\n b1,  %, \nbody_num=1\nBody_info\nlocal_coordinate_info\n c1,  %, \nframe_num=1\n"
      "  0, b1:cg=c1, 1.000e+00,0.000e+00,0.000e+00\n"
      "        M=1.000e+00, I=1.000e+00,2.000e+00,3.000e+00\n"
      "  0, c1:Body=b1\n  pos=1.000e+00,0.000e+00,0.000e+00,  ang=0.000e+00,0.000e+00,0.000e+00\n"
      "const_num=0\n"
      "Success allocating space for image\nSuccess Load image\nSuccess Create Texture\n"
      "simulation_time\n  start_time=0.000000e+00\n  d_time=5.000000e-01\n  end_time=1.000000e+00\n"
      "Parameter\n  0:a, 2.000e+00,  1:b, 6.000e+00,\n  0:c1, 0,\n\nModel Complete\n");
  EXPECT_TRUE(r.m.sample_num == 3 && r.m.gravity[0].flag == 0 && r.m.gravity[0].F[1] == 0.0);
  // Without parameter_info its place is taken by the body keyword, which is
  // then lost, and so on down the required sections.
  EXPECT_EQ(Reader(modelText({{"1param", ""}})).m.body_num(), 0);
}

// Only a name's first occurrence is examined; names that read like an index or
// a P(i) used to be replaced again and again.
TEST(ModelReader, RewritingExaminesTheFirstOccurrenceAndNeverWhatItPutIn) {
  Model width, frames, params;
  width.parameters.emplace_back().name = "width";
  for (const char* name : {"1", "0", "c1"}) frames.frames.emplace_back().name = name;
  for (const char* name : {"P(0)", "2", "L"}) params.parameters.emplace_back().name = name;
  std::string why;
  const std::tuple<const Model*, std::string, std::string> cases[] = {
      {&width, "widthX+width", "widthX+width"},
      {&width, "(width)*width", "(P(0))*P(0)"},
      {&frames, "D(0,c1)", "D(1,2)"},    // the 1 put in for "0" is not frame "1"
      {&frames, "D(1,0)", "D(0,1)"},     // the two frames swap without cycling
      {&params, "P(0)+L", "P(0)+P(2)"},  // a parameter named like its own replacement
      {&params, "L*2", "P(2)*P(1)"},     // the 2 of P(2) is not parameter "2"
  };
  for (const auto& [m, in, out] : cases) {
    std::string text = in;
    ASSERT_TRUE(rewriteExpression(*m, text, 255, why)) << in << ": " << why;
    EXPECT_EQ(text, out) << in;
  }
}

// A refused read keeps the section's message, adds one line naming the place and what
// was expected, and leaves the model and the histories loaded before exactly as they were
// (the messages and places of other refusals are in the broken-input and wrong-success
// corpora; every refusal takes the same way out). A good read keeps a held result only for
// a model it fits.
TEST(ModelReader, RefusalKeepsTheLoadedModelAndAGoodReadOnlyAFittingResult) {
  Reader r(modelText());
  ASSERT_EQ(r.status, ReadStatus::Ok) << r.message;
  // A finished result of this model is held: it must survive a refused read.
  r.h.analysis_finished = 1, r.h.result_shape = resultShapeOf(r.m), r.h.anime_num = 7;
  r.h.p_YYY.assign(50, 0.25);
  auto kept = [&r] {  // nothing of the refused file is taken
    return std::vector<int>{r.m.body_num(),  r.m.frame_num(), r.m.joint_num(),  r.m.motion_num(),
                            r.m.force_num(), r.m.shape_num(), r.m.output_num(), r.h.anime_num} ==
               std::vector<int>{2, 3, 2, 1, 2, 2, 2, 7} &&
           r.h.p_YYY == std::vector<double>(50, 0.25);
  };
  ASSERT_EQ(r.read(modelText({{"f_time", ""}})), ReadStatus::InputError);
  EXPECT_NE(r.message.find("Miss input at simulation_time\n" + r.path +
                           ":17:1: no simulation_time section; a model needs its time span"),
            npos)
      << r.message;
  EXPECT_NE(r.console.find("  " + r.message + "\n"), npos) << r.console;
  EXPECT_EQ(r.console.find("Model Complete"), npos);
  EXPECT_TRUE(kept());
  std::string message;
  orvtest::ConsoleCapture con;
  EXPECT_EQ(readModelFile("/nonexistent/model.txt", Settings{}, r.m, r.h, message),
            ReadStatus::OpenError);
  EXPECT_EQ(con.text(), "MODEL FILE OPEN ERROR\n");
  EXPECT_TRUE(kept());
  ASSERT_EQ(r.read(modelText()), ReadStatus::Ok);
  EXPECT_TRUE(r.h.anime_num == 7 && r.h.p_YYY == std::vector<double>(50, 0.25));
  ASSERT_EQ(r.read(modelText({{"2body", "body_info B base cg_base 1 1 1 1 0 0 0 0 0 0 %\n"}})),
            ReadStatus::Ok);
  EXPECT_TRUE(r.h.anime_num == 1 && r.h.analysis_finished == 0 && r.h.p_YYY.size() == 14u);
}

// A spring1 may give its free length after k and c, on the record's line;
// without it the distance at the start is taken, as before. A mass held 1 m
// from the anchor by k = 100 around L0 = 0.8 swings as 0.8 + 0.2 cos(10 t).
TEST(ModelReader, SpringFreeLengthOnTheRecordsLine) {
  const auto model = [](const std::string& forces) {
    return "parameter_info P L0 0.8 %\nbody_info B base base_cg 1 1 1 1 0 0 0 0 0 0\n"
           "m m_cg 1 0.1 0.1 0.1 0 0 0 0 0 0 %\nframe_info F base_cg base 0 0 0 0 0 0\n"
           "m_cg m 1 0 0 0 0 0 %\njoint_info J on g ground base_cg non %\nforce_info F " +
           forces + "%\noutput_info O x D(m_cg,base_cg) %\ngravity G off y- %\n"
           "simulation_time T 0 0.001 1 %\n";
  };
  const orv::Settings s = orvtest::runSettings();
  const orvtest::Outcome free = orvtest::runText(
      model("on s spring1 m_cg base_cg base_cg 100 0 L0\non s2 spring1 m_cg base_cg base_cg 0 0\n"), s);
  ASSERT_EQ(free.status, AnalysisStatus::Completed) << free.message;
  EXPECT_TRUE(orvtest::has(free.console, "L0=8.000e-01"));
  for (int ti = 0; ti < static_cast<int>(free.h.p_time.size()); ti += 50)
    EXPECT_NEAR(free.out(ti, 0), 0.8 + 0.2 * std::cos(10 * free.h.p_time[ti]), 1e-8);
  const orvtest::Outcome old = orvtest::runText(model("on s spring1 m_cg base_cg base_cg 100 0\n"), s);
  EXPECT_EQ(old.out(static_cast<int>(old.h.p_time.size()) - 1, 0), 1.0);  // starts at its free length: stays
  const std::pair<const char*, const char*> refused[] = {
      {"on s spring1 m_cg base_cg base_cg 100 0 -0.1\n", "the free length '-0.1' is -0.1"},
      {"on s spring1 m_cg base_cg base_cg 100 0\n0.4\n", "'0.4'"}};  // a flag, not a length
  for (const auto& [forces, why] : refused) {
    const orvtest::Outcome o = orvtest::loadText(model(forces), s);
    EXPECT_FALSE(o.read);
    EXPECT_TRUE(orvtest::has(o.message + o.console, why)) << o.message << o.console;
  }
}
