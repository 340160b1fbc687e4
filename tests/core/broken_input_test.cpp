// Every file of the broken corpus is refused (or read) with its messages (EXPECTED: a
// file and one text it prints per line) and never crashes the reader.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>

#include "files/bmp.h"
#include "model/histories.h"
#include "model/model.h"
#include "files/model_reader.h"
#include "model/settings.h"
#include "test_util.h"
#include "files/settings_reader.h"

using namespace orv;
using orvtest::has;

TEST(BrokenInput, EveryFileGivesItsMessage) {
  const std::string dir = std::string(ORVALDYN_TEST_DATA) + "/broken";
  std::ifstream manifest(dir + "/EXPECTED");
  Settings s;
  s.colors.push_back(Color{"red", {1, 0, 0}});
  int count = 0;
  for (std::string line; std::getline(manifest, line);) {
    if (line.empty() || line[0] == '#') continue;
    ++count;
    const std::string file = line.substr(0, line.find('\t'));
    std::string expect = line.substr(line.find('\t') + 1);
    for (size_t at = expect.find("DIR/"); at != std::string::npos; at = expect.find("DIR/", at))
      expect.replace(at, 3, dir);
    const orvtest::Outcome o = orvtest::loadFile(dir + "/" + file, s);
    EXPECT_TRUE(has(o.console, expect)) << file << "\n" << o.console;
    // Whatever was read is consistent: one gravity load per body, one-sample arrays.
    EXPECT_TRUE((o.m.gravity.empty() || o.m.gravity.size() == o.m.bodies.size()) &&
                o.h.p_YYY.size() == 14 * o.m.bodies.size())
        << file;
  }
  EXPECT_GE(count, 99);
}

// A pipe nobody writes to must not block a reader, and a device that never
// ends must not fill the memory: files named by the user or by a model.
TEST(BrokenInput, PipesAndDevicesAreRefusedWithoutBlocking) {
  const std::string dir = orvtest::makeTempDir(), fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  orvtest::ConsoleCapture con;
  Settings s;
  orvtest::Outcome o;
  for (const std::string& path : {fifo, std::string("/dev/zero")})
    EXPECT_EQ(readModelFile(path, s, o.m, o.h, o.message), ReadStatus::OpenError) << path;
  ASSERT_EQ(mkdir((dir + "/setting").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((dir + "/setting/setting.txt").c_str(), 0644), 0);
  EXPECT_FALSE(readSettingsFiles(dir, s, o.m, o.h));
  // A model naming the pipe as its mesh and its texture is read without them.
  const std::string model = dir + "/model.txt";
  ASSERT_TRUE(orvtest::writeFile(
      model, "parameter_info P %\nbody_info B b1 c1 1 1 1 1 0 0 0 0 0 0 %\n"
             "frame_info F c1 b1 0 0 0 0 0 0 %\nshape_info S mesh STL c1 red 1 1 + fifo %\n"
             "texture_info T tex rect b1 c1 1 1 1 1 fifo %\nsimulation_time T 0 0.01 0.02 %\n"));
  EXPECT_EQ(readModelFile(model, s, o.m, o.h, o.message), ReadStatus::Ok) << o.message;
  EXPECT_TRUE(o.m.shapes.at(0).stl_num == 0 && o.m.textures.at(0).image.rgb.empty());
  Image img;
  EXPECT_EQ(loadBmp("/dev/zero", img), 0);
  EXPECT_TRUE(has(con.text(), "SETTING FILE OPEN ERROR") &&
              has(con.text(), "STL FILE ERROR: " + fifo))
      << con.text();
}
