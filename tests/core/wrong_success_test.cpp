// The corpus of models that are wrong in one way each: orvaldyn-batch must
// refuse or stop every one of them with its message and exit code, never run
// it to a "success" with a wrong result.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "test_util.h"

namespace fs = std::filesystem;

namespace {

struct Case {
  std::string file;
  int exit = 0;
  std::string message;
};

std::vector<Case> corpus(const std::string& dir) {
  std::vector<Case> out;
  std::ifstream in(dir + "/EXPECTED");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    Case c;
    s >> c.file >> c.exit;
    std::getline(s, c.message);
    const size_t a = c.message.find('"'), b = c.message.rfind('"');
    c.message = a < b ? c.message.substr(a + 1, b - a - 1) : "";
    out.push_back(c);
  }
  return out;
}

}  // namespace

TEST(WrongSuccess, EveryModelIsRefusedOrStoppedWithItsMessage) {
  const std::string dir = std::string(ORVALDYN_TEST_DATA) + "/wrong-success";
  const std::vector<Case> cases = corpus(dir);
  ASSERT_GE(cases.size(), 25u);
  for (const Case& c : cases) {
    // A fresh copy of the examples as the working directory: settings and
    // meshes as a user has them, and no result of another case.
    const std::string work = orvtest::makeTempDir();
    fs::copy(ORVALDYN_EXAMPLES, work, fs::copy_options::recursive);
    fs::remove_all(work + "/log");
    const std::string cmd = "cd '" + work + "' && '" + ORVALDYN_BATCH + "' '" + dir + "/" + c.file +
                            "' > out.txt 2>&1";
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << c.file;
    const std::string out = orvtest::readFile(work + "/out.txt");
    EXPECT_EQ(WEXITSTATUS(status), c.exit) << c.file << "\n" << out.substr(out.size() > 3000 ? out.size() - 3000 : 0);
    EXPECT_NE(out.find(c.message), std::string::npos) << c.file << ": " << c.message;
    fs::remove_all(work);
  }
}
