#include <gtest/gtest.h>
#include <omp.h>
#include <unistd.h>

#include "model/globals.h"
#include "model/settings.h"
#include "test_util.h"

using namespace orv;
using orvtest::ConsoleCapture;

namespace {

std::string settingText(const std::string& energy, const std::string& threads,
                        const std::string& algorithm, const std::string& graphic) {
  return "energy_flag " + energy +
         "\nminimum_limit_energy 1e-6\nEnergy_variation 0.001\n"
         "contact_time_step_coefficient 0.25\nMain_Light_Position 1 2.5 -3\n"
         "N_THREADS " + threads + "\nCONTACT_ALGORITHM " + algorithm +
         "\nCONTACT_PARALLEL all\nQt_Timer[ms] 40\nForce_Graphic " + graphic +
         "\nForce_Value off\n";
}

std::string makeSettingDir(const std::string& setting, const std::string& color) {
  std::string dir = orvtest::makeTempDir();
  mkdir((dir + "/setting").c_str(), 0777);
  if (!setting.empty()) orvtest::writeFile(dir + "/setting/setting.txt", setting);
  if (!color.empty()) orvtest::writeFile(dir + "/setting/color.txt", color);
  return dir;
}

struct Team {
  explicit Team(int n) : saved(omp_get_max_threads()) { omp_set_num_threads(n); }
  ~Team() { omp_set_num_threads(saved); }
  int saved;
};

}  // namespace

TEST(Settings, ReadsEveryValueWithItsEcho) {
  Team team(4);
  std::string dir = makeSettingDir(settingText("PT", "MAX", "point", "On"),
                                   "red 1 0 0 blue 0 0 1 END");
  Settings s;
  Model m;
  Histories h;
  ConsoleCapture con;
  ASSERT_TRUE(readSettingsFiles(dir, s, m, h));
  EXPECT_EQ(con.text(),
            "orvaldyn_ver0.0\n"
            "SETTING FILE OPEN !!\n"
            "energy_flag: {0, 1, -1}\n"
            "energy_flag: {1, 1, 0}\n"
            "minimum_limit_energy: 1.000e-06\n"
            "Energy_variation: 1.000e-03\n"
            "contact_time_step_coefficient: 2.500e-01\n"
            "Main_Light_Position: 1.000e+00, 2.500e+00, -3.000e+00\n"
            "  N_THREADS:MAX\n"
            "  N_THREADS:4\n"
            "CONTACT_ALGORITHM: point[0]\n"
            "CONTACT_PARALLEL: all[1]\n"
            "Qt_Timer[ms]: 40\n"
            "Force_Graphic: On[0]\n"
            "Force_Value: off[0]\n"
            "COLOR FILE OPEN !!\n"
            "\n"
            "color_num=2\n");
  EXPECT_EQ(s.N_THREADS, 4);
  EXPECT_EQ(s.CONTACT_ALGORITHM, 0);
  EXPECT_EQ(s.CONTACT_PARALLEL, 1);
  EXPECT_EQ(s.Force_Graphic, 0);
  double rgb[3] = {-1, -1, -1};
  ASSERT_TRUE(lookupColor(s, "blue", rgb));
  EXPECT_EQ(rgb[0], 0.0);
  EXPECT_EQ(rgb[2], 1.0);
  EXPECT_FALSE(lookupColor(s, "green", rgb));
  EXPECT_EQ(rgb[2], 1.0);  // a miss leaves the caller's values alone
  // Start-up defaults of the model and the histories.
  EXPECT_EQ(m.sample_num, 1);
  EXPECT_EQ(m.max_length, 1.0);
  ASSERT_EQ(h.p_time.size(), 1u);
  EXPECT_EQ(h.analysis_finished, 0);
  EXPECT_EQ(h.version, "0.00");
}

TEST(Settings, ThreadCountIsLimitedToTheTeam) {
  Team team(4);
  struct Case {
    const char* value;
    const char* echo;
    int threads;
  } cases[] = {
      {"16", "  N_THREADS:16\n  N_THREADS:4\n", 4},
      {"2", "  N_THREADS:2\n  N_THREADS:2\n", 2},
      {"1+2", "  N_THREADS:3\n  N_THREADS:3\n", 3},
      {"0", "  N_THREADS:0\n  N_THREADS:1\n", 1},
      {"-5", "  N_THREADS:-5\n  N_THREADS:1\n", 1},
  };
  for (const Case& c : cases) {
    std::string dir = makeSettingDir(settingText("R", c.value, "point_and_edge", "on"), "END");
    Settings s;
    Model m;
    Histories h;
    ConsoleCapture con;
    ASSERT_TRUE(readSettingsFiles(dir, s, m, h));
    EXPECT_NE(con.text().find(c.echo), std::string::npos) << c.value << "\n" << con.text();
    EXPECT_EQ(s.N_THREADS, c.threads) << c.value;
    EXPECT_EQ(s.CONTACT_ALGORITHM, 1);
    EXPECT_EQ(s.Force_Graphic, 1);
    EXPECT_EQ(s.energy_flag[2], 1);
    EXPECT_EQ(s.color_num(), 0);
  }
}

TEST(Settings, MissingFilesAreReported) {
  {
    std::string dir = makeSettingDir("", "END");
    Settings s;
    Model m;
    Histories h;
    ConsoleCapture con;
    EXPECT_FALSE(readSettingsFiles(dir, s, m, h));
    EXPECT_EQ(con.text(), "orvaldyn_ver0.0\nSETTING FILE OPEN ERROR\n");
    EXPECT_EQ(access((dir + "/log").c_str(), F_OK), 0) << "log/ is made first";
  }
  {
    std::string dir = makeSettingDir(settingText("P", "1", "point", "on"), "");
    Settings s;
    Model m;
    Histories h;
    ConsoleCapture con;
    EXPECT_FALSE(readSettingsFiles(dir, s, m, h));
    EXPECT_NE(con.text().find("COLOR FILE OPEN ERROR\n"), std::string::npos);
  }
}

TEST(SettingsDeathTest, MissingFileEndsTheProcessWithFailure) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::string dir = makeSettingDir("", "");
  EXPECT_EXIT(
      {
        if (chdir(dir.c_str()) != 0) std::exit(3);
        readSettings();
        std::exit(0);
      },
      testing::ExitedWithCode(1), "");
}

TEST(Settings, ShortOrMalformedFilesKeepDefaults) {
  // Cut after the light position; a word where a number belongs.
  std::string dir = makeSettingDir(
      "energy_flag T\nminimum_limit_energy abc\nEnergy_variation 0.5\n"
      "contact_time_step_coefficient 1\nMain_Light_Position 1 2",
      "red 1 0 0 blue 0 0");
  Settings s;
  Model m;
  Histories h;
  ConsoleCapture con;
  ASSERT_TRUE(readSettingsFiles(dir, s, m, h));
  EXPECT_EQ(s.minimum_limit_energy, 0.0);
  EXPECT_EQ(s.Energy_variation, 0.5);
  EXPECT_EQ(s.N_THREADS, 1);
  EXPECT_EQ(s.Qt_Timer_ms, 50);
  EXPECT_EQ(s.Force_Graphic, 1);
  EXPECT_EQ(s.Force_Value, 1);
  EXPECT_EQ(s.color_num(), 1) << "a colour cut short by the end of the file is dropped";
  EXPECT_NE(con.text().find("minimum_limit_energy \"abc\" is not a number"), std::string::npos);
}
