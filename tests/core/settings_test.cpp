#include <gtest/gtest.h>
#include <omp.h>
#include <unistd.h>

#include "files/settings_reader.h"
#include "model/settings.h"
#include "test_util.h"

using namespace orv;

namespace {

std::string settingText(const std::string& energy, const std::string& threads,
                        const std::string& algorithm, const std::string& graphic) {
  return "energy_flag " + energy + "\nminimum_limit_energy 1e-6\nEnergy_variation 0.001\n" +
         "contact_time_step_coefficient 0.25\nMain_Light_Position 1 2.5 -3\nN_THREADS " + threads +
         "\nCONTACT_ALGORITHM " + algorithm + "\nCONTACT_PARALLEL all\nQt_Timer[ms] 40\n" +
         "Force_Graphic " + graphic + "\nForce_Value off\n";
}

// setting/setting.txt and setting/color.txt ("" leaves one out) read from a fresh folder,
// with a team of 4 threads.
struct Loaded {
  Settings s;
  Model m;
  Histories h;
  std::string dir = orvtest::makeTempDir(), console;
  bool ok;
  Loaded(const std::string& setting, const std::string& color) {
    mkdir((dir + "/setting").c_str(), 0777);
    if (!setting.empty()) orvtest::writeFile(dir + "/setting/setting.txt", setting);
    if (!color.empty()) orvtest::writeFile(dir + "/setting/color.txt", color);
    const int team = omp_get_max_threads();
    omp_set_num_threads(4);
    orvtest::ConsoleCapture con;
    ok = readSettingsFiles(dir, s, m, h);
    console = con.text();
    omp_set_num_threads(team);
  }
};

}  // namespace

// The echo prints the stored values, so it stands for them.
TEST(Settings, ReadsEveryValueWithItsEcho) {
  Loaded r(settingText("PT", "MAX", "point", "On"), "red 1 0 0 blue 0 0 1 END");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.console, "orvaldyn_ver0.0\nSETTING FILE OPEN !!\n"
                       "energy_flag: {0, 1, -1}\nenergy_flag: {1, 1, 0}\n"
                       "minimum_limit_energy: 1.000e-06\nEnergy_variation: 1.000e-03\n"
                       "contact_time_step_coefficient: 2.500e-01\n"
                       "Main_Light_Position: 1.000e+00, 2.500e+00, -3.000e+00\n"
                       "  N_THREADS:MAX\n  N_THREADS:4\n"
                       "CONTACT_ALGORITHM: point[0]\nCONTACT_PARALLEL: all[1]\nQt_Timer[ms]: 40\n"
                       "Force_Graphic: On[0]\nForce_Value: off[0]\n"
                       "stiction_speed: 1.000e-03\nstatic_friction_ratio: 1.000e+00\n"
                       "sliding_speed: 2.000e-03\nstick_stiffness: 1.000e+00\n"
                       "COLOR FILE OPEN !!\n\ncolor_num=2\n");
  EXPECT_TRUE(r.s.colors.at(1).name == "blue" && r.s.colors[1].rgb[2] == 1.0);
  EXPECT_EQ(r.h.p_time.size(), 1u);  // the view shows sample 0 before any run
  // The optional settings are found by their labels in any order and are
  // not echoed (friction only when on), so that a run that selects the former
  // behaviour prints what it printed before; files without them integrate
  // rotation to first order with RK4 under the regularised friction law.
  Loaded second(settingText("PT", "MAX", "point", "On") +
                    "INTEGRATOR implicit\nstiction_speed 0\nROTATION_INTEGRATION second_order\n"
                    "stick_stiffness 0\nimplicit_tolerance 1e-8\n",
                "red 1 0 0 blue 0 0 1 END");
  EXPECT_TRUE(second.s.rotation == RotationIntegration::SecondOrder &&
              second.s.integrator == Integrator::Implicit && second.s.stiction_speed == 0.0 &&
              second.s.implicit_tolerance == 1e-8);
  EXPECT_EQ(second.console, r.console.substr(0, r.console.find("stiction")) +
                                r.console.substr(r.console.find("COLOR")));
  EXPECT_TRUE(r.s.rotation == RotationIntegration::FirstOrder &&
              r.s.integrator == Integrator::RungeKutta4 && r.s.stiction_speed == 1e-3);
  // The friction settings; an unknown label is skipped with its line. The
  // sign law without anchors echoes as before they existed.
  Loaded f(settingText("PT", "1", "point", "on") +
               "static_friction_ratio 1.5 rotation first_order sliding_speed 3e-3 "
               "stick_stiffness 0 stiction_speed 0 implicit_tolerance -1",
           "END");
  EXPECT_TRUE(f.s.stiction_speed == 0.0 && f.s.static_friction_ratio == 1.5 &&
              f.s.sliding_speed == 3e-3 && f.s.stick_stiffness == 0.0 &&
              orvtest::has(f.console, "unknown setting \"rotation\"") &&
              f.s.implicit_tolerance == 1e-6 &&
              orvtest::has(f.console, "'-1' is not a positive number; expected implicit_tol") &&
              f.console.find("stiction_speed:") == std::string::npos &&
              f.console.find("stick_stiffness:") == std::string::npos);
  // The projection, on without the pair; never echoed.
  Loaded off(settingText("PT", "MAX", "point", "On") + "constraint_projection off\n", "END");
  Loaded on(settingText("PT", "MAX", "point", "On") + "constraint_projection on\n", "END");
  EXPECT_TRUE(r.s.constraint_projection == 1 && off.s.constraint_projection == 0 &&
              on.s.constraint_projection == 1);
  EXPECT_EQ(on.console.substr(0, on.console.find("COLOR")),
            r.console.substr(0, r.console.find("COLOR")));
  EXPECT_EQ(off.console, on.console);

  // The thread count is limited to the team.
  const std::pair<const char*, const char*> threads[] = {{"16", "  N_THREADS:16\n  N_THREADS:4\n"},
                                                         {"1+2", "  N_THREADS:3\n  N_THREADS:3\n"},
                                                         {"0", "  N_THREADS:0\n  N_THREADS:1\n"}};
  for (const auto& [value, echo] : threads) {
    Loaded t(settingText("R", value, "point_and_edge", "on"), "END");
    EXPECT_TRUE(t.ok && orvtest::has(t.console, echo)) << value << "\n" << t.console;
    EXPECT_TRUE(t.s.CONTACT_ALGORITHM == 1 && t.s.Force_Graphic == 1 && t.s.energy_flag[2] == 1);
  }
}

// (The message for a missing setting.txt, and the exit it makes, are checked against the
// documents.)
TEST(Settings, MissingShortOrMalformedFiles) {
  Loaded noSetting("", "END"), noColor(settingText("P", "1", "point", "on"), "");
  EXPECT_TRUE(!noSetting.ok && access((noSetting.dir + "/log").c_str(), F_OK) == 0);
  EXPECT_TRUE(!noColor.ok && orvtest::has(noColor.console, "COLOR FILE OPEN ERROR\n"));

  // Short or malformed files keep the defaults.
  // Cut after the light position; a word where a number belongs.
  Loaded r("energy_flag T\nminimum_limit_energy abc\nEnergy_variation 0.5\n"
           "contact_time_step_coefficient 1\nMain_Light_Position 1 2",
           "red 1 0 0 blue 0 0");
  ASSERT_TRUE(r.ok);
  Loaded rk4(settingText("P", "1", "point", "on") + "ROTATION_INTEGRATION rk4\n", "END");
  EXPECT_TRUE(rk4.s.rotation == RotationIntegration::FirstOrder &&
              orvtest::has(rk4.console, "setting/setting.txt:12:22: 'rk4' is not first_order or "
                                        "second_order; expected ROTATION_INTEGRATION"))
      << rk4.console;
  const Settings& s = r.s;
  EXPECT_TRUE(s.minimum_limit_energy == 0.0 && s.Energy_variation == 0.5 && s.N_THREADS == 1);
  EXPECT_TRUE(s.Qt_Timer_ms == 50 && s.Force_Graphic == 1 && s.Force_Value == 1);
  EXPECT_EQ(s.color_num(), 1) << "a colour cut short by the end of the file is dropped";
  for (const char* said :
       {"minimum_limit_energy \"abc\" is not a number",
        "setting/setting.txt:2:22: 'abc' is not a number; expected minimum_limit_energy as a "
        "number\n",
        "setting/setting.txt:5:24: the file ends; expected Main_Light_Position",
        "  setting.txt ends before N_THREADS; the default is kept\n"})
    EXPECT_TRUE(orvtest::has(r.console, said)) << said << "\n" << r.console;
}
