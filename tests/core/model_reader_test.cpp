#include <gtest/gtest.h>

#include <algorithm>
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
    {"9texture", ""},
    {"a_shadow", "shadow_info S sh1 cg_base ball %\n"},
    {"b_contact", ""},
    {"c_group", ""},
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
  EXPECT_NE(r.console.find("Model Complete\n"), npos);
  EXPECT_EQ(r.console.find("Wrong"), npos) << "non needs no message";
  // Parameters are evaluated in order; the rebuilt table adds LC and joint rows.
  ASSERT_EQ(m.parameter_num(), 2 + 3 + 2);
  EXPECT_EQ(m.parameters[4].value, 2.0);
  EXPECT_EQ(m.parameters[6].name, "hinge");
  EXPECT_EQ(m.parameters[6].value, 1.0);
  ASSERT_TRUE(m.body_num() == 2 && m.joint_num() == 2);
  EXPECT_EQ(m.bodies[1].mass, 2.0);
  EXPECT_EQ(m.bodies[1].cg_pos[0], 0.5);
  EXPECT_EQ(m.max_length, 0.5);
  EXPECT_EQ(m.const_num, 6 + 5 + 1);
  // Names resolved: body cg LC, frame body, joint i LC, j body and ground j LC,
  // motion joint, force reference LC, shape body, shadow shape.
  EXPECT_EQ((std::vector<int>{m.bodies[1].cg_lc, m.frames[2].body, m.joints[1].i_lc,
                              m.joints[1].j_body, m.joints[0].j_lc, m.motions[0].joint,
                              m.forces[0].r_lc, m.shapes[0].body, m.shadows[0].shape}),
            (std::vector<int>{1, 1, 2, 0, -1, 1, 0, 1, 0}));
  EXPECT_EQ(m.motions[0].dt_equ + " " + m.motions[0].ddt_equ, "1.0 0.0");
  // Force text: function expanded unparenthesised, LC by index, parameter as P(i).
  EXPECT_EQ(m.forces[0].equ[0], "P(0)*2+D(2,2)");
  EXPECT_TRUE(m.forces[1].k[0] == 100.0 && m.forces[1].c[0] == 2.0);
  EXPECT_EQ(m.forces[1].equ[3], "0.0");
  EXPECT_EQ(m.outputs[0].equ, "D(2,0)");
  EXPECT_EQ(m.outputs[1].equ, "P(0)*2+1*P(0)");
  EXPECT_TRUE(m.shapes[1].RGB[2] == 1.0 && m.shapes[1].trans == 0.5);
  ASSERT_EQ(m.gravity.size(), 2u);
  EXPECT_DOUBLE_EQ(m.gravity[1].F[1], -2.0 * 9.81);
  EXPECT_EQ(m.sample_num, 101);
  EXPECT_TRUE(m.frame_size == 0.2 && m.force_size == 0.01);
  EXPECT_TRUE(r.h.anime_num == 1 && r.h.p_YYY.size() == 28u) << "one sample for the view";
}

TEST(ModelReader, EchoOfTheFirstSections) {
  Reader r("parameter_info P a 2 b P(0)*3 %\n"
           "body_info B b1 c1 1 1 2 3 0 0 0 0 0 0 %\n"
           "local_coordinate_info L c1 b1 1 0 0 0 0 0 %\n"
           "simulation_time T 0 0.5 1 %\n");
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
  EXPECT_EQ(r.m.sample_num, 3);
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

TEST(ModelReader, OptionalSectionsMayBeLeftOut) {
  Reader r(modelText(
      {{"4joint", ""}, {"5motion", ""}, {"6function", ""}, {"8shape", ""}, {"a_shadow", ""},
       {"e_gravity", ""}, {"g_graphic", ""},
       {"7force", "force_info F on pull force6 pin cg_base cg_base width 0 0 0 0 0 %\n"},
       {"d_output", "output_info O dist D(pin,cg_base) %\n"}}));
  ASSERT_EQ(r.status, ReadStatus::Ok) << r.message << r.console;
  EXPECT_EQ(r.m.joint_num(), 0);
  EXPECT_EQ(r.m.force_num(), 1);
  EXPECT_TRUE(r.m.gravity[0].flag == 0 && r.m.gravity[0].F[1] == 0.0);
  // Without parameter_info its place is taken by the body keyword, which is
  // then lost, and so on down the required sections.
  EXPECT_EQ(Reader(modelText({{"1param", ""}})).m.body_num(), 0);
}

// "LINE:COLUMN" of the first occurrence of `token` in text, found
// independently of the reader's own counting.
std::string placeOf(const std::string& text, const std::string& token) {
  const size_t at = text.find(token);
  if (at == npos) return "?";
  const size_t lineStart = text.rfind('\n', at);
  const size_t col = at - (lineStart == npos ? 0 : lineStart + 1) + 1;
  return std::to_string(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n') + 1) +
         ":" + std::to_string(col);
}

// A refused read, whatever the reason, keeps the section's message, adds one
// line naming the place and what was expected, and leaves the model and the
// histories loaded before exactly as they were.
TEST(ModelReader, RefusalNamesThePlaceAndKeepsTheLoadedModel) {
  struct Case {
    std::map<std::string, std::string> changes;
    const char* message;
    const char* token;   // the place named: where this token first stands
    const char* detail;  // what the place line says
  } cases[] = {
      {{{"2body", "body_info B b1 c1 1 1 1 1 0 0 0 0 0 0 b2 c2 1 1 1 1 0 0 0 0 0 0 b3 c3 1 %\n"}},
       "body_info: No.3", "%\nframe", "'%' ends the record early; expected Ixx"},
      {{{"4joint", "joint_info J on j1 ground %\n"}}, "joint_info: No.1", "%\nmotion",
       "expected the i local coordinate name"},
      {{{"4joint", "joint_info J on j1 revolutoin pin cg_base %\n"}}, "joint_info: No.1",
       "revolutoin",
       "unknown joint type 'revolutoin' (expected one of: ground, sphere, fix, revolution, "
       "revolution_, cylinder, translation, in_line, prismatic)"},
      {{{"4joint", "joint_info J yes j1 sphere pin cg_base %\n"}}, "joint_info: No.1", "yes",
       "unknown flag 'yes' (expected on or off)"},
      {{{"5motion", "motion_info M on m1 R hinge %\n"}}, "motion_info: No.1", "%\nfunction",
       "expected the equation type"},
      {{{"5motion", "motion_info M on m1 Rot hinge vel 1 %\n"}}, "motion_info: No.1", "Rot",
       "unknown motion type 'Rot' (expected one of: R, T)"},
      {{{"6function", "function_info F f1 f2*2 f2 f3+1 f3 f1 %\n"}}, "force_info: No.1",
       "f1+D", "refers to itself"},
      {{{"7force", "force_info F on f1 bogus pin pin pin 1 2 %\n"}}, "force_info: No.1", "bogus",
       "unknown force type 'bogus' (expected one of: spring1, spring6, force6)"},
      {{{"8shape", "shape_info S s1 sphere cg_arm red 1 0.1 s2 cone cg_arm red 1 1 %\n"}},
       "shape_info: No.2", "cone", "unknown shape type 'cone'"},
      {{{"8shape", "shape_info S s1 STL cg_arm red 1 1 plus m.stl %\n"}}, "shape_info: No.1",
       "plus", "unknown normal sign 'plus' (expected + or -)"},
      {{{"9texture", "texture_info T t1 tile arm pin 1 1 1 1 a.bmp %\n"}}, "texture_info: No.1",
       "tile", "unknown texture type 'tile' (expected one of: rect, cylinder_one)"},
      {{{"a_shadow", "shadow_info S sh1 cg_base %\n"}}, "shadow_info: No.1", "%\noutput",
       "expected a shape name"},
      {{{"b_contact", "contact_info C 1 c1 ball box 1 2 3 4 5 %\n"}}, "contact_info: No.1", "1 c1",
       "unknown flag '1'"},
      {{{"c_group", "contact_group_info G on g1 1 2 3 4 5 1 ball %\n"}},
       "contact_group_info: No.1", "1 ball", "contact group 'g1' has 1 member; expected at least 2"},
      {{{"d_output", "output_info O o1 %\n"}}, "output_info: No.1", "%\ngravity",
       "expected the channel's expression"},
      {{{"e_gravity", "gravity G on y- \n"}}, "gravity", "simulation_time",
       "'simulation_time' where '%' should close the gravity section"},
      {{{"e_gravity", "gravity G on down %\n"}}, "gravity", "down",
       "unknown gravity direction 'down' (expected one of: x+, x-, y+, y-, z+, z-)"},
      {{{"e_gravity", "gravity G yes y- %\n"}}, "gravity", "yes", "unknown flag 'yes'"},
      {{{"f_time", "simulation_time T 0 0.01 %\n"}}, "simulation_time", "%\ngraphic",
       "expected end_time"},
      {{{"f_time", "simulation_time T 1e5 1e-13 2e5 %\n"}}, "simulation_time", "1e-13",
       "d_time 1e-13 is lost in the rounding"},
      {{{"f_time", ""}}, "simulation_time", "graphic_size", "no simulation_time section"},
      {{{"g_graphic", "graphic_size G frame 0.2 force %\n"}}, "graphic_size", "%",
       "expected the force size"},
  };
  Reader r(modelText());
  ASSERT_EQ(r.status, ReadStatus::Ok) << r.message;
  // A finished result is held: it must survive a refused read.
  r.h.analysis_finished = 1;
  r.h.anime_num = 7;
  r.h.p_YYY.assign(50, 0.25);
  for (const Case& c : cases) {
    const std::string text = modelText(c.changes);
    const std::string& what = c.changes.rbegin()->second;
    ASSERT_EQ(r.read(text), ReadStatus::InputError) << what;
    const std::string first = std::string("Miss input at ") + c.message;
    EXPECT_EQ(r.message.substr(0, r.message.find('\n')), first) << what;
    // The place: for "%" tokens the one that closes the section changed.
    std::string token = c.token;
    size_t from = text.find(what) == npos ? 0 : text.find(what);
    std::string tail = text.substr(from);
    std::string place = placeOf(tail, token);
    const size_t before = std::count(text.begin(), text.begin() + static_cast<long>(from), '\n');
    place = std::to_string(std::stoi(place) + static_cast<int>(before)) + place.substr(place.find(':'));
    const std::string line2 = r.message.substr(r.message.find('\n') + 1);
    EXPECT_NE(line2.find(":" + place + ": "), npos) << what << "\n" << line2;
    EXPECT_NE(line2.find(c.detail), npos) << what << "\n" << line2;
    EXPECT_NE(r.console.find("  " + first + "\n"), npos) << r.console;
    EXPECT_NE(r.console.find(line2 + "\n"), npos);
    EXPECT_EQ(r.console.find("Model Complete"), npos);
    // Nothing of the refused file is taken.
    EXPECT_EQ((std::vector<int>{r.m.body_num(), r.m.frame_num(), r.m.joint_num(),
                                r.m.motion_num(), r.m.force_num(), r.m.shape_num(),
                                r.m.output_num(), r.h.anime_num}),
              (std::vector<int>{2, 3, 2, 1, 2, 2, 2, 7}))
        << what;
    EXPECT_EQ(r.h.p_YYY, std::vector<double>(50, 0.25));
  }
  // End of the file inside a section, an empty file and a missing file.
  r.read("parameter_info P a 1 b");
  EXPECT_NE(r.message.find("Miss input at parameter_info: No.2\n"), npos) << r.message;
  EXPECT_NE(r.message.find(":1:23: the file ends inside the record"), npos) << r.message;
  r.read("  \n");
  EXPECT_NE(r.message.find("the model file is empty"), npos) << r.message;
  {
    std::string message;
    orvtest::ConsoleCapture con;
    EXPECT_EQ(readModelFile("/nonexistent/model.txt", Settings{}, r.m, r.h, message),
              ReadStatus::OpenError);
    EXPECT_EQ(con.text(), "MODEL FILE OPEN ERROR\n");
  }
  EXPECT_TRUE(r.m.body_num() == 2 && r.m.bodies[1].name == "arm" && r.h.anime_num == 7);
}

// Records stand one to a line in most files: a record short of a field is
// named itself, not the record after it that ran into the end of the list.
TEST(ModelReader, AShortRecordIsNamedWhereItIs) {
  const std::pair<std::string, std::string> cases[] = {
      {"body_info B\n base cg_base 1 1 1 1 0 0 0 0 0\n arm cg_arm 1 1 1 1 0 0 0 0 0 0\n%\n",
       "Miss input at body_info: No.1\n%s:3:32: body record 'base' has 11 fields; expected 12"},
      {"body_info B\n base cg_base 1 1 1 1 0 0 0 0 0 0\n arm cg_arm 1 1 1 1 0 0 0 0 0\n%\n",
       "Miss input at body_info: No.2\n%s:5:1: '%' ends the record early; expected wz"},
  };
  for (const auto& [bodies, expected] : cases) {
    Reader r(modelText({{"2body", bodies}}));
    ASSERT_EQ(r.status, ReadStatus::InputError);
    std::string want = expected;
    want.replace(want.find("%s"), 2, r.path);
    EXPECT_EQ(r.message, want);
  }
  // Records over several lines say nothing about which one is short.
  Reader multi(modelText({{"2body", "body_info B base cg_base\n 1 1 1 1\n 0 0 0 0 0 0\n"
                                    "arm cg_arm\n 1 1 1 1\n 0 0 0 0 0\n%\n"}}));
  EXPECT_EQ(multi.message.substr(0, multi.message.find('\n')), "Miss input at body_info: No.2");
}

// What a forgiving reading leaves out is kept as before but said, each time
// with its place, and counted at the end of the read.
TEST(ModelReader, JunkAndUnknownNamesAreReadAsBeforeWithAWarning) {
  const std::string text =
      modelText({{"2body", "body_info B base cg_base 2.5x 1 1 1 0 0 0 0 0 0\n"
                           "arm cg_arm 0.O 0.1 0.2 0.3 0 lenght 0 0 0 0 %\n"},
                 {"5motion", "motion_info M on drive R hinge vel 1.0+f1 %\n"},
                 {"d_output", "output_info O dist D(pin,cg_base)*wdth twice f2*width %\n"}});
  Reader r(text);
  ASSERT_EQ(r.status, ReadStatus::Ok) << r.message;
  EXPECT_EQ(r.m.bodies[0].mass, 2.5);
  EXPECT_EQ(r.m.bodies[1].mass, 0.0);
  EXPECT_EQ(r.m.bodies[1].vel0[1], 0.0);
  const std::string path = r.m.path;
  for (const std::string& line :
       {path + ":" + placeOf(text, "2.5x") + ": '2.5x' read as 2.5\n",
        path + ":" + placeOf(text, "0.O") + ": '0.O' read as 0\n",
        path + ":" + placeOf(text, "lenght") + ": unknown name 'lenght' read as 0\n",
        path + ":" + placeOf(text, "1.0+f1") + ": unknown name 'f1' read as 0\n",
        path + ":" + placeOf(text, "D(pin,cg_base)*wdth") + ": unknown name 'wdth' read as 0\n",
        std::string("Model read with 5 warnings\n")})
    EXPECT_NE(r.console.find(line), npos) << line << r.console;
  EXPECT_EQ(Reader(modelText()).console.find("warning"), npos);
}

// Models that read without a word but cannot mean what they say.
TEST(ModelReader, ModelsThatCannotMeanWhatTheySayAreRefused) {
  const std::pair<std::map<std::string, std::string>, std::string> cases[] = {
      // Names the expression language already uses.
      {{{"1param", "parameter_info P time 5 %\n"}}, "parameter name 'time' is a word of the expression language"},
      {{{"1param", "parameter_info P timer 5 %\n"}}, "parameter name 'timer' is a word"},
      {{{"6function", "function_info F sin width %\n"}}, "function name 'sin' is a word"},
      // Two records of one name.
      {{{"2body", "body_info B base cg_base 1 1 1 1 0 0 0 0 0 0\nbase cg_arm 1 1 1 1 0 0 0 0 0 0 %\n"}},
       "body name 'base' is used again (first at line 2)"},
      {{{"3frame", "frame_info F cg_base base 0 0 0 0 0 0\ncg_arm arm 0 0 0 0 0 0\n"
                   "cg_arm arm 1 0 0 0 0 0\npin arm 0 0 0 90 0 0 %\n"}},
       "local coordinate name 'cg_arm' is used again (first at line 5)"},
      {{{"d_output", "output_info O o1 1 o1 2 %\n"}}, "output name 'o1' is used again (first at line"},
      {{{"4joint", "joint_info J on j ground cg_base non\non j revolution pin cg_base %\n"}},
       "joint name 'j' is used again"},
      {{{"7force", "force_info F on s spring1 pin cg_base cg_base 1 0\n"
                   "on s spring1 pin cg_base cg_base 1 0 %\n"}},
       "force name 's' is used again"},
      {{{"8shape", "shape_info S b sphere cg_arm red 1 0.1 b cube cg_base blue 0.5 0.2 %\n"}},
       "shape name 'b' is used again"},
      // A parameter using one defined below it would read 0 here and its value in the run.
      {{{"1param", "parameter_info P width mass*2 mass 4 %\n"}},
       "parameter 'width' uses 'mass', defined at line 1"},
      {{{"1param", "parameter_info P width P(1) mass 4 %\n"}}, "parameter 'width' uses 'mass'"},
      // The centre of gravity marked on another body.
      {{{"3frame", "frame_info F cg_base base 0 0 0 0 0 0\ncg_arm base 0.5 0 0 0 0 0\n"
                   "pin arm 0 0 0 90 0 0 %\n"}},
       "the centre-of-gravity local coordinate 'cg_arm' of body 'arm' lies on body 'base'"},
      // Values that are not numbers.
      {{{"2body", "body_info B base cg_base 1/0 1 1 1 0 0 0 0 0 0\narm cg_arm 1 1 1 1 0 0 0 0 0 0 %\n"}},
       "mass '1/0' evaluates to inf; expected a finite number"},
      {{{"3frame", "frame_info F cg_base base 0 0 0 0 0 0\ncg_arm arm sqrt(0-1) 0 0 0 0 0\n"
                   "pin arm 0 0 0 90 0 0 %\n"}},
       "x 'sqrt(0-1)' evaluates to nan"},
      {{{"7force", "force_info F on s spring1 pin cg_base cg_base 1/0 0 %\n"}},
       "the stiffness k '1/0' evaluates to inf"},
      {{{"b_contact", "contact_info C on c ball box 1 1 1 1 0/0 %\n"}},
       "the friction coefficient '0/0' evaluates to nan"},
      // Nesting the evaluator would read as 0.
      {{{"6function", "function_info F f1 " + std::string(120, '(') + "1" + std::string(120, ')') +
                          " f2 " + std::string(100, '(') + "f1" + std::string(100, ')') + " %\n"},
        {"7force", "force_info F on f force6 pin cg_base cg_base f2 0 0 0 0 0 %\n"}},
       "nested deeper than 200 brackets"},
  };
  for (const auto& [changes, detail] : cases) {
    Reader r(modelText(changes));
    EXPECT_EQ(r.status, ReadStatus::InputError) << changes.begin()->second;
    EXPECT_NE(r.message.find(detail), npos) << r.message;
  }
}

TEST(ModelReader, ContactGroupsReplaceListedContacts) {
  Reader r(modelText(
      {{"8shape", "shape_info S s1 sphere cg_arm red 1 0.1 s2 sphere cg_arm red 1 0.1 "
                  "s3 sphere cg_base red 1 0.1 s4 sphere cg_base red 1 0.1 "
                  "s5 sphere cg_base red 1 0.1 %\n"},
       {"a_shadow", ""},
       {"b_contact", "contact_info C on c1 s1 s2 1 2 3 4 5 %\n"},
       {"c_group", "contact_group_info G on g1 10 1 0.01 1 0.3 3 s1 s2 s3 "
                   "off g2 20 2 0.02 1 0.4 2 s4 s5 %\n"}}));
  ASSERT_EQ(r.status, ReadStatus::Ok) << r.message << r.console;
  const Model& m = r.m;
  ASSERT_EQ(m.contact_num(), 4);
  const char* names[] = {"CNT_s1_s2", "CNT_s1_s3", "CNT_s2_s3", "CNT_s4_s5"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(m.contacts[i].name, names[i]);
    EXPECT_EQ(m.contacts[i].id, i);
  }
  EXPECT_TRUE(m.contacts[1].k == 10.0 && m.contacts[1].flag == 1);
  EXPECT_TRUE(m.contacts[3].myu == 0.4 && m.contacts[3].flag == 0);
  EXPECT_TRUE(m.contacts[2].i_shape == 1 && m.contacts[2].j_body == 0);
  EXPECT_NE(r.console.find("contact_group_num=2\ncontact_num=4\n"), npos);
}

TEST(ModelReader, UnresolvedNamesAreReportedAndKept) {
  const std::string text =
      modelText({{"4joint", "joint_info J on j1 sphere nowhere NON %\n"},
                 {"5motion", "motion_info M on drive R missing vel 1.0 %\n"},
                 {"8shape", "shape_info S ball sphere cg_arm purple 1 0.1 %\n"}});
  Reader r(text);
  ASSERT_EQ(r.status, ReadStatus::Ok);
  EXPECT_NE(r.console.find("### Wrong i_LC Name ###\n"), npos);
  EXPECT_EQ(r.console.find("### Wrong j_LC Name ###"), npos);
  EXPECT_NE(r.console.find(":" + placeOf(text, "nowhere") + ": no local coordinate is named 'nowhere'\n"), npos);
  EXPECT_NE(r.console.find(":" + placeOf(text, "missing") + ": no joint is named 'missing'\n"), npos);
  EXPECT_NE(r.console.find(":" + placeOf(text, "purple") + ": unknown colour 'purple' drawn grey\n"), npos);
  EXPECT_EQ(r.m.const_num, 3 + 1);
  EXPECT_EQ(r.m.motions[0].joint, -1);
  EXPECT_EQ(r.m.shapes[0].RGB[0], 0.5);
}

TEST(ModelReader, HeldResultSurvivesOnlyAReadOfAModelItFits) {
  Reader r(modelText());
  ASSERT_EQ(r.status, ReadStatus::Ok);
  // Pretend an analysis finished.
  const Model& m = r.m;
  Histories& h = r.h;
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
  ASSERT_EQ(r.read(modelText()), ReadStatus::Ok);
  EXPECT_EQ(h.anime_num, static_cast<int>(n));
  EXPECT_EQ(h.p_YYY[0], 0.5);
  ASSERT_EQ(r.read(modelText({{"2body", "body_info B base cg_base 1 1 1 1 0 0 0 0 0 0 %\n"}})),
            ReadStatus::Ok);
  EXPECT_EQ(h.anime_num, 1);
  EXPECT_EQ(h.analysis_finished, 0);
  EXPECT_EQ(h.p_YYY.size(), 14u);
}
