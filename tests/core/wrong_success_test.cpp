// The corpus of models that are wrong in one way each: orvaldyn-batch must
// refuse or stop every one of them with its message and exit code, never run
// it to a "success" with a wrong result.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "test_util.h"

TEST(WrongSuccess, EveryModelIsRefusedOrStoppedWithItsMessage) {
  const std::string dir = std::string(ORVALDYN_TEST_DATA) + "/wrong-success";
  std::ifstream expected(dir + "/EXPECTED");  // FILE EXIT "MESSAGE" per line
  int cases = 0;
  for (std::string line; std::getline(expected, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    std::string file, message;
    int exit = -1;
    s >> file >> exit;
    std::getline(s, message);
    const size_t a = message.find('"'), b = message.rfind('"');
    message = a < b ? message.substr(a + 1, b - a - 1) : "";
    // A fresh folder as the working directory: settings and meshes as a user has them,
    // and no result of another case.
    const std::string work = orvtest::batchFolder({"setting", "meshes", "images"});
    const orvtest::BatchRun r = orvtest::runBatch(work, "'" + dir + "/" + file + "'");
    const std::string out = r.out + r.err;
    EXPECT_EQ(r.code, exit) << file << "\n"
                            << out.substr(out.size() > 3000 ? out.size() - 3000 : 0);
    EXPECT_TRUE(orvtest::has(out, message)) << file << ": " << message;
    std::filesystem::remove_all(work);
    ++cases;
  }
  EXPECT_GE(cases, 25);
}
