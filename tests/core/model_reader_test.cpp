#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "model/histories.h"
#include "model/model.h"
#include "model/model_reader.h"
#include "model/settings.h"
#include "test_util.h"

using namespace orv;
using orvtest::ConsoleCapture;

namespace {

// Sections of a small but complete model; tests replace or drop entries.
std::map<std::string, std::string> baseSections() {
  return {
      {"1param", "parameter_info P width 0.5 mass P(0)*4 %\n"},
      {"2body", "body_info B base cg_base 1 1 1 1 0 0 0 0 0 0\n"
                "arm cg_arm mass 0.1 0.2 0.3 0 0 0 0 0 0 %\n"},
      {"3frame", "frame_info F cg_base base 0 0 0 0 0 0\n"
                 "cg_arm arm width 0 0 0 0 0\n"
                 "pin arm 0 0 0 90 0 0 %\n"},
      {"4joint", "joint_info J on fix_base ground cg_base non\n"
                 "on hinge revolution pin cg_base %\n"},
      {"5motion", "motion_info M on drive R hinge vel 1.0 %\n"},
      {"6function", "function_info F f1 width*2 f2 f1+1 %\n"},
      {"7force", "force_info F on pull force6 pin cg_base cg_base f1+D(pin,pin) 0 0 0 0 0\n"
                 "off spring spring1 pin cg_base cg_base 100 2 %\n"},
      {"8shape", "shape_info S ball sphere cg_arm red 1 0.1 box cube cg_base blue 0.5 0.2 %\n"},
      {"9texture", ""},
      {"a_shadow", "shadow_info S sh1 cg_base ball %\n"},
      {"b_contact", ""},
      {"c_group", ""},
      {"d_output", "output_info O dist D(pin,cg_base) twice f2*width %\n"},
      {"e_gravity", "gravity G on y- %\n"},
      {"f_time", "simulation_time T 0 0.01 1 %\n"},
      {"g_graphic", "graphic_size G frame 0.2 force 0.01 %\n"},
  };
}

std::string join(const std::map<std::string, std::string>& s) {
  std::string text;
  for (const auto& kv : s) text += kv.second;
  return text;
}

Settings colours() {
  Settings s;
  Color red{"red", {1, 0, 0}}, blue{"blue", {0, 0, 1}};
  s.colors = {red, blue};
  return s;
}

struct Read {
  ReadStatus status;
  std::string message;
  std::string console;
};

Read readText(const std::string& text, Model& m, Histories& h, const Settings& s = colours()) {
  std::string dir = orvtest::makeTempDir();
  std::string path = dir + "/model.txt";
  orvtest::writeFile(path, text);
  Read r;
  ConsoleCapture con;
  r.status = readModelFile(path, s, m, h, r.message);
  r.console = con.text();
  return r;
}

}  // namespace

TEST(ModelReader, ReadsEverySectionOfAWholeModel) {
  Model m;
  Histories h;
  Read r = readText(join(baseSections()), m, h);
  ASSERT_EQ(r.status, ReadStatus::Ok) << r.message << r.console;
  EXPECT_NE(r.console.find("Model Complete\n"), std::string::npos);

  // Parameters are evaluated in order; the rebuilt table adds LC and joint rows.
  ASSERT_EQ(m.parameter_num(), 2 + 3 + 2);
  EXPECT_EQ(m.parameters[1].value, 2.0);
  EXPECT_EQ(m.parameters[2].name, "cg_base");
  EXPECT_EQ(m.parameters[4].value, 2.0);
  EXPECT_EQ(m.parameters[6].name, "hinge");
  EXPECT_EQ(m.parameters[6].value, 1.0);

  ASSERT_EQ(m.body_num(), 2);
  EXPECT_EQ(m.bodies[1].mass, 2.0);
  EXPECT_EQ(m.bodies[1].cg_lc, 1);
  EXPECT_EQ(m.bodies[1].cg_pos[0], 0.5);
  EXPECT_EQ(m.frames[2].body, 1);
  EXPECT_EQ(m.max_length, 0.5);

  ASSERT_EQ(m.joint_num(), 2);
  EXPECT_EQ(m.joints[0].j_lc, -1);
  EXPECT_EQ(m.joints[1].i_lc, 2);
  EXPECT_EQ(m.joints[1].j_body, 0);
  EXPECT_EQ(m.const_num, 6 + 5 + 1);
  EXPECT_EQ(r.console.find("Wrong"), std::string::npos) << "non needs no message";
  EXPECT_EQ(m.motions[0].joint, 1);
  EXPECT_EQ(m.motions[0].dt_equ, "1.0");
  EXPECT_EQ(m.motions[0].ddt_equ, "0.0");

  // Force text: function expanded unparenthesised, LC by index, parameter as P(i).
  EXPECT_EQ(m.forces[0].equ[0], "P(0)*2+D(2,2)");
  EXPECT_EQ(m.forces[0].r_lc, 0);
  EXPECT_EQ(m.forces[1].k[0], 100.0);
  EXPECT_EQ(m.forces[1].c[0], 2.0);
  EXPECT_EQ(m.forces[1].equ[3], "0.0");
  EXPECT_EQ(m.outputs[0].equ, "D(2,0)");
  EXPECT_EQ(m.outputs[1].equ, "P(0)*2+1*P(0)");

  EXPECT_EQ(m.shapes[1].RGB[2], 1.0);
  EXPECT_EQ(m.shapes[1].trans, 0.5);
  EXPECT_EQ(m.shapes[0].body, 1);
  EXPECT_EQ(m.shadows[0].shape, 0);
  ASSERT_EQ(m.gravity.size(), 2u);
  EXPECT_DOUBLE_EQ(m.gravity[1].F[1], -2.0 * 9.81);
  EXPECT_EQ(m.sample_num, 101);
  EXPECT_EQ(m.frame_size, 0.2);
  EXPECT_EQ(m.force_size, 0.01);
  // One-sample arrays for the view.
  EXPECT_EQ(h.anime_num, 1);
  EXPECT_EQ(h.p_YYY.size(), 28u);
  EXPECT_EQ(h.p_YYY[12], 1.0);
}

TEST(ModelReader, EchoOfTheFirstSections) {
  Model m;
  Histories h;
  Read r = readText(
      "parameter_info P a 2 b P(0)*3 %\n"
      "body_info B b1 c1 1 1 2 3 0 0 0 0 0 0 %\n"
      "local_coordinate_info L c1 b1 1 0 0 0 0 0 %\n"
      "simulation_time T 0 0.5 1 %\n",
      m, h);
  ASSERT_EQ(r.status, ReadStatus::Ok) << r.message;
  EXPECT_EQ(r.console,
            "MODEL FILE OPEN !!\n\n"
            "parameter_info\n a,  b,  %, \nparameter_num=2\n"
            "Parameter\n  0:a=2.000e+00,    1:b=6.000e+00,  \n\n"
            "body_info\n b1,  %, \nbody_num=1\nBody_info\n"
            "local_coordinate_info\n c1,  %, \nframe_num=1\n"
            "  0, b1:cg=c1, 1.000e+00,0.000e+00,0.000e+00\n"
            "        M=1.000e+00, I=1.000e+00,2.000e+00,3.000e+00\n"
            "  0, c1:Body=b1\n  pos=1.000e+00,0.000e+00,0.000e+00,  ang=0.000e+00,0.000e+00,0.000e+00\n"
            "const_num=0\n"
            "Success allocating space for image\nSuccess Load image\nSuccess Create Texture\n"
            "simulation_time\n  start_time=0.000000e+00\n  d_time=5.000000e-01\n"
            "  end_time=1.000000e+00\n"
            "Parameter\n  0:a, 2.000e+00,  1:b, 6.000e+00,\n  0:c1, 0,\n\nModel Complete\n");
  EXPECT_EQ(m.sample_num, 3);
}

TEST(ModelReader, RewritingExaminesOnlyTheFirstOccurrence) {
  Model m;
  Parameter width;
  width.name = "width";
  m.parameters = {width};
  std::string why;
  std::string text = "widthX+width";
  ASSERT_TRUE(rewriteExpression(m, text, 255, why));
  EXPECT_EQ(text, "widthX+width");
  text = "(width)*width";
  ASSERT_TRUE(rewriteExpression(m, text, 255, why));
  EXPECT_EQ(text, "(P(0))*P(0)");
}

// Names that read like an index or a P(i) used to be replaced again and again.
TEST(ModelReader, RewritingNeverMatchesWhatItPutIn) {
  Model frames, params;
  for (const char* name : {"1", "0", "c1"}) {
    frames.frames.emplace_back();
    frames.frames.back().name = name;
  }
  for (const char* name : {"P(0)", "2", "L"}) {
    params.parameters.emplace_back();
    params.parameters.back().name = name;
  }
  std::string why;
  const std::tuple<const Model*, std::string, std::string> cases[] = {
      {&frames, "D(0,c1)", "D(1,2)"},   // the 1 put in for "0" is not frame "1"
      {&frames, "D(1,0)", "D(0,1)"},    // the two frames swap without cycling
      {&params, "P(0)+L", "P(0)+P(2)"}, // a parameter named like its own replacement
      {&params, "L*2", "P(2)*P(1)"},    // the 2 of P(2) is not parameter "2"
  };
  for (const auto& [m, in, out] : cases) {
    std::string text = in;
    ASSERT_TRUE(rewriteExpression(*m, text, 255, why)) << in << ": " << why;
    EXPECT_EQ(text, out) << in;
  }
}

TEST(ModelReader, SelfReferringFunctionsAreRefused) {
  for (const char* functions : {"function_info F f1 f1+1 %\n",
                                "function_info F f1 f2 f2 f1 %\n",
                                "function_info F f1 f2*2 f2 f3+1 f3 f1 %\n"}) {
    auto s = baseSections();
    s["6function"] = functions;
    s["7force"] = "force_info F on pull force6 pin cg_base cg_base f1 0 0 0 0 0 %\n";
    Model m;
    Histories h;
    Read r = readText(join(s), m, h);
    EXPECT_EQ(r.status, ReadStatus::InputError) << functions;
    EXPECT_EQ(r.message, "Miss input at force_info: No.1");
    EXPECT_NE(r.console.find("refers to itself"), std::string::npos) << r.console;
  }
  // Expansion that ends up longer than an output text may be.
  auto s = baseSections();
  s["6function"] = "function_info F f1 1.2345678*1.2345678*1.2345678 %\n";
  s["d_output"] = "output_info O big f1*f1*f1*f1*f1*f1*f1*f1*f1 %\n";
  Model m;
  Histories h;
  Read r = readText(join(s), m, h);
  EXPECT_EQ(r.message, "Miss input at output_info: No.1");
}

TEST(ModelReader, OptionalSectionsMayBeLeftOut) {
  auto s = baseSections();
  for (const char* key : {"4joint", "5motion", "6function", "8shape", "a_shadow", "e_gravity",
                          "g_graphic"})
    s.erase(key);
  s["7force"] = "force_info F on pull force6 pin cg_base cg_base width 0 0 0 0 0 %\n";
  s["d_output"] = "output_info O dist D(pin,cg_base) %\n";
  Model m;
  Histories h;
  Read r = readText(join(s), m, h);
  ASSERT_EQ(r.status, ReadStatus::Ok) << r.message << r.console;
  EXPECT_EQ(m.joint_num(), 0);
  EXPECT_EQ(m.force_num(), 1);
  EXPECT_EQ(m.gravity[0].flag, 0);
  EXPECT_EQ(m.gravity[0].F[1], 0.0);

  // Without parameter_info its place is taken by the body keyword, which is
  // then lost, and so on down the required sections.
  s = baseSections();
  s.erase("1param");
  Model m2;
  Histories h2;
  r = readText(join(s), m2, h2);
  EXPECT_EQ(m2.body_num(), 0);
}

TEST(ModelReader, FailureEmptiesTheSectionsUpToTheFailingOne) {
  struct Case {
    const char* key;
    const char* text;
    const char* message;
    int outputs;
  } cases[] = {
      {"4joint", "joint_info J on j1 ground %\n", "Miss input at joint_info: No.1", 0},
      {"5motion", "motion_info M on m1 R hinge %\n", "Miss input at motion_info: No.1", 0},
      {"6function", "function_info F f1 %\n", "Miss input at function_info: No.1", 0},
      {"7force", "force_info F on f1 bogus pin pin pin 1 2 %\n", "Miss input at force_info: No.1", 0},
      {"8shape", "shape_info S s1 sphere cg_arm red 1 0.1 s2 cone cg_arm red 1 1 %\n",
       "Miss input at shape_info: No.2", 0},
      {"9texture", "texture_info T t1 rect arm pin 1 1 %\n", "Miss input at texture_info: No.1", 0},
      {"a_shadow", "shadow_info S sh1 cg_base %\n", "Miss input at shadow_info: No.1", 0},
      {"b_contact", "contact_info C on c1 ball box 1 2 3 %\n", "Miss input at contact_info: No.1", 0},
      {"c_group", "contact_group_info G on g1 1 2 3 4 5 3 ball box %\n",
       "Miss input at contact_group_info: No.1", 0},
      {"d_output", "output_info O o1 %\n", "Miss input at output_info: No.1", 0},
      {"e_gravity", "gravity G on y- \n", "Miss input at gravity", 2},
      {"f_time", "simulation_time T 0 0.01 %\n", "Miss input at simulation_time", 2},
      {"g_graphic", "graphic_size G frame 0.2 force %\n", "Miss input at graphic_size", 2},
  };
  for (const Case& c : cases) {
    auto s = baseSections();
    s[c.key] = c.text;
    Model m;
    Histories h;
    Read r = readText(join(s), m, h);
    ASSERT_EQ(r.status, ReadStatus::InputError) << c.key;
    EXPECT_EQ(r.message, c.message);
    EXPECT_NE(r.console.find(std::string("  ") + c.message + "\n"), std::string::npos);
    EXPECT_EQ(r.console.find("Model Complete"), std::string::npos);
    EXPECT_EQ(m.body_num(), 2) << c.key;
    EXPECT_EQ(m.frame_num(), 0) << c.key;
    EXPECT_EQ(m.joint_num(), 0);
    EXPECT_EQ(m.motion_num(), 0);
    EXPECT_EQ(m.force_num(), 0);
    EXPECT_EQ(m.shape_num(), 0);
    EXPECT_EQ(m.contact_num(), 0);
    EXPECT_EQ(m.output_num(), c.outputs) << c.key;
    EXPECT_EQ(h.anime_num, 1);
  }
}

TEST(ModelReader, EarlyFailureKeepsThePreviousModel) {
  Model m;
  Histories h;
  ASSERT_EQ(readText(join(baseSections()), m, h).status, ReadStatus::Ok);
  auto s = baseSections();
  s["2body"] = "body_info B b1 c1 1 1 1 1 0 0 0 0 0 0 b2 c2 1 1 %\n";
  Read r = readText(join(s), m, h);
  EXPECT_EQ(r.message, "Miss input at body_info: No.2");
  EXPECT_EQ(m.body_num(), 2);
  EXPECT_EQ(m.bodies[1].name, "arm");
  EXPECT_EQ(m.frame_num(), 3);

  // End of file inside the section.
  r = readText("parameter_info P a 1 b", m, h);
  EXPECT_EQ(r.message, "Miss input at parameter_info: No.2");
  EXPECT_EQ(m.shape_num(), 2);

  {
    std::string message;
    ConsoleCapture con;
    EXPECT_EQ(readModelFile("/nonexistent/model.txt", colours(), m, h, message),
              ReadStatus::OpenError);
    EXPECT_EQ(con.text(), "MODEL FILE OPEN ERROR\n");
    EXPECT_EQ(m.body_num(), 2);
  }

  // An empty file is a model without a time span: refused, and nothing of the
  // previous model is left to run.
  r = readText("", m, h);
  EXPECT_EQ(r.message, "Miss input at simulation_time");
  EXPECT_EQ(m.body_num(), 0);
}

TEST(ModelReader, OverlongTokensAndNamesAreRefused) {
  std::string longName(64, 'n');
  std::string longToken(256, '1');
  struct Case {
    const char* key;
    std::string text;
    const char* message;
  } cases[] = {
      {"2body", "body_info B " + longName + " cg 1 1 1 1 0 0 0 0 0 0 %\n",
       "Miss input at body_info: No.1"},
      {"1param", "parameter_info P a " + longToken + " %\n", "Miss input at parameter_info: No.1"},
      {"d_output", "output_info O o1 " + longToken + " %\n", "Miss input at output_info: No.1"},
      {"c_group", "contact_group_info G on g 1 1 1 1 1 2 " + std::string(40, 'a') + " " +
                      std::string(30, 'b') + " %\n",
       "Miss input at contact_group_info: No.1"},
      {"c_group", "contact_group_info G on g 1 1 1 1 1 1e9 a b c %\n",
       "Miss input at contact_group_info: No.1"},
  };
  for (const Case& c : cases) {
    auto s = baseSections();
    s[c.key] = c.text;
    Model m;
    Histories h;
    Read r = readText(join(s), m, h);
    EXPECT_EQ(r.message, c.message) << c.key;
  }
}

TEST(ModelReader, BodyCutShortByPercent) {
  auto s = baseSections();
  s["2body"] = "body_info B b1 c1 1 1 1 1 0 0 0 0 0 0 b2 c2 1 1 1 1 0 0 0 0 0 0 b3 c3 1 %\n";
  Model m;
  Histories h;
  EXPECT_EQ(readText(join(s), m, h).message, "Miss input at body_info: No.3");
}

TEST(ModelReader, ContactGroupsReplaceListedContacts) {
  auto s = baseSections();
  s["8shape"] =
      "shape_info S s1 sphere cg_arm red 1 0.1 s2 sphere cg_arm red 1 0.1 "
      "s3 sphere cg_base red 1 0.1 s4 sphere cg_base red 1 0.1 s5 sphere cg_base red 1 0.1 %\n";
  s["a_shadow"] = "";
  s["b_contact"] = "contact_info C on c1 s1 s2 1 2 3 4 5 %\n";
  s["c_group"] =
      "contact_group_info G on g1 10 1 0.01 1 0.3 3 s1 s2 s3 off g2 20 2 0.02 1 0.4 2 s4 s5 "
      "on g3 1 1 1 1 1 1 s1 %\n";
  Model m;
  Histories h;
  Read r = readText(join(s), m, h);
  ASSERT_EQ(r.status, ReadStatus::Ok) << r.message << r.console;
  ASSERT_EQ(m.contact_num(), 4);
  const char* names[] = {"CNT_s1_s2", "CNT_s1_s3", "CNT_s2_s3", "CNT_s4_s5"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(m.contacts[i].name, names[i]);
    EXPECT_EQ(m.contacts[i].id, i);
  }
  EXPECT_EQ(m.contacts[1].k, 10.0);
  EXPECT_EQ(m.contacts[1].flag, 1);
  EXPECT_EQ(m.contacts[3].myu, 0.4);
  EXPECT_EQ(m.contacts[3].flag, 0);
  EXPECT_EQ(m.contacts[2].i_shape, 1);
  EXPECT_EQ(m.contacts[2].j_body, 0);
  EXPECT_NE(r.console.find("contact_group_num=3\ncontact_num=4\n"), std::string::npos);
}

TEST(ModelReader, SimulationTimeMustDescribeASpan) {
  for (const char* t : {"simulation_time T 0 0 1 %\n", "simulation_time T 1 0.1 0 %\n",
                        "simulation_time T 0 1e-300 1 %\n", "simulation_time T 0 x 1 %\n"}) {
    auto s = baseSections();
    s["f_time"] = t;
    Model m;
    Histories h;
    EXPECT_EQ(readText(join(s), m, h).message, "Miss input at simulation_time") << t;
  }
  auto s = baseSections();
  s.erase("f_time");
  Model m;
  Histories h;
  Read r = readText(join(s), m, h);
  EXPECT_EQ(r.message, "Miss input at simulation_time");
  EXPECT_NE(r.console.find("No simulation_time section"), std::string::npos);
}

TEST(ModelReader, UnresolvedNamesAreReportedAndKept) {
  auto s = baseSections();
  s["4joint"] = "joint_info J on j1 sphere nowhere NON on j2 cone pin cg_base %\n";
  s["5motion"] = "motion_info M on drive R missing vel 1.0 %\n";
  s["8shape"] = "shape_info S ball sphere cg_arm purple 1 0.1 %\n";
  Model m;
  Histories h;
  Read r = readText(join(s), m, h);
  ASSERT_EQ(r.status, ReadStatus::Ok);
  EXPECT_NE(r.console.find("### Wrong i_LC Name ###\n"), std::string::npos);
  EXPECT_EQ(r.console.find("### Wrong j_LC Name ###"), std::string::npos);
  EXPECT_NE(r.console.find("### Wrong Constraint Name ###\n"), std::string::npos);
  EXPECT_EQ(m.const_num, 3 + 1);
  EXPECT_EQ(m.motions[0].joint, -1);
  EXPECT_EQ(m.shapes[0].RGB[0], 0.5);
}

TEST(ModelReader, HeldResultSurvivesOnlyAReadOfAModelItFits) {
  Model m;
  Histories h;
  ASSERT_EQ(readText(join(baseSections()), m, h).status, ReadStatus::Ok);
  // Pretend an analysis finished.
  size_t n = m.sample_num;
  h.analysis_finished = 1;
  h.result_shape = resultShapeOf(m);
  h.anime_num = static_cast<int>(n);
  h.p_time.assign(n, 0.0);
  h.p_YYY.assign((n + 1) * 14 * m.body_num(), 0.5);
  h.p_F_const.assign((n + 10) * 6 * m.joint_num(), 0.0);
  h.p_C_const.assign((n + 10) * (m.joint_num() + m.motion_num()), 0.0);
  h.p_F_force.assign((n + 10) * 6 * m.force_num(), 0.0);
  h.p_output.assign((n + 1) * m.output_num(), 0.0);
  ASSERT_EQ(readText(join(baseSections()), m, h).status, ReadStatus::Ok);
  EXPECT_EQ(h.anime_num, static_cast<int>(n));
  EXPECT_EQ(h.p_YYY[0], 0.5);

  auto s = baseSections();
  s["2body"] = "body_info B base cg_base 1 1 1 1 0 0 0 0 0 0 %\n";
  ASSERT_EQ(readText(join(s), m, h).status, ReadStatus::Ok);
  EXPECT_EQ(h.anime_num, 1);
  EXPECT_EQ(h.analysis_finished, 0);
  EXPECT_EQ(h.p_YYY.size(), 14u);
}
