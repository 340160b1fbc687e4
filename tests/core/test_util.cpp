#include "test_util.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "files/model_reader.h"
#include "files/settings_reader.h"

namespace orvtest {

std::string makeTempDir() {
  char tmpl[] = "/tmp/orvaldyn_test_XXXXXX";
  const char* d = mkdtemp(tmpl);
  return d ? std::string(d) : std::string("/tmp");
}

bool writeFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  return static_cast<bool>(f);
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string placeOf(const std::string& file, const std::string& text, size_t offset) {
  const size_t lineStart = offset == 0 ? 0 : text.rfind('\n', offset - 1) + 1;
  const long line = 1 + std::count(text.begin(), text.begin() + offset, '\n');
  return file + ":" + std::to_string(line) + ":" + std::to_string(offset - lineStart + 1);
}

static void capMemory(long mib) {
#ifndef __SANITIZE_ADDRESS__
  long pages = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  const rlim_t cap = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(mib) << 20);
  const rlimit lim{cap, cap};
  setrlimit(RLIMIT_AS, &lim);
#else
  (void)mib;
#endif
}

bool refusedWithCappedMemory(long mib, const std::function<bool()>& read, const std::string& why) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    capMemory(mib);
    ConsoleCapture out;
    const bool ok = read();
    std::_Exit(!ok && has(out.text(), why) ? 0 : 1);
  }
  int st = -1;
  return child > 0 && waitpid(child, &st, 0) == child && WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

BatchRun runBatch(const std::string& dir, const std::string& args, const std::string& prefix) {
  const std::string cmd =
      "cd '" + dir + "' && " + prefix + "'" + ORVALDYN_BATCH + "' " + args + " >.out 2>.err";
  const int st = std::system(cmd.c_str());
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, readFile(dir + "/.out"), readFile(dir + "/.err")};
}

std::string batchFolder(const std::vector<std::string>& examples) {
  namespace fs = std::filesystem;
  const std::string dir = fs::canonical(makeTempDir()).string(), ex = ORVALDYN_EXAMPLES;
  for (const std::string& e : examples)
    fs::copy(ex + "/" + e, dir + "/" + e, fs::copy_options::recursive);
  return dir;
}

orv::Settings runSettings(const std::string& energy, double minimumEnergy) {
  orv::Settings s;
  for (int k = 0; k < 3; ++k) s.energy_flag[k] = energy.find("PTR"[k]) != std::string::npos;
  s.minimum_limit_energy = minimumEnergy, s.Energy_variation = 1e-3,
  s.contact_time_step_coefficient = 0.1;
  for (const char* c : {"red", "green", "blue", "yellow", "cyan", "magenta", "orange", "white",
                        "gray", "silver", "black", "brown"})
    s.colors.push_back(orv::Color{c, {0.5, 0.5, 0.5}});
  return s;
}

const orv::Settings& exampleSettings() {
  static const orv::Settings s = [] {
    ConsoleCapture quiet;  // read from a copy: reading makes log/
    const std::string dir = batchFolder();
    orv::Settings read;
    orv::Model m;
    orv::Histories h;
    EXPECT_TRUE(orv::readSettingsFiles(dir, read, m, h));
    std::filesystem::remove_all(dir);
    return read;
  }();
  return s;
}

Outcome loadFile(const std::string& path, const orv::Settings& s) {
  Outcome r;
  ConsoleCapture con;
  r.read = orv::readModelFile(path, s, r.m, r.h, r.message) == orv::ReadStatus::Ok;
  r.console = con.text();
  if (!r.read) r.message = path + ": not read: " + r.message;
  return r;
}

Outcome loadText(const std::string& text, const orv::Settings& s) {
  const std::string dir = makeTempDir();
  std::filesystem::create_directory_symlink(std::string(ORVALDYN_EXAMPLES) + "/meshes",
                                            dir + "/meshes");
  writeFile(dir + "/model.txt", text);
  Outcome r = loadFile(dir + "/model.txt", s);
  std::filesystem::remove_all(dir);
  return r;
}

static Outcome analyse(Outcome r, const orv::Settings& s, void (*edit)(orv::Model&) = nullptr) {
  if (!r.read) return r;
  if (edit) edit(r.m);
  ConsoleCapture con;
  orv::AnalysisOptions opt;
  opt.pauses = false, opt.writeResult = false;
  r.status = orv::runAnalysis(r.m, s, r.h, r.message, opt);
  r.console += con.text();
  return r;
}

Outcome runFile(const std::string& path, const orv::Settings& s, void (*edit)(orv::Model&)) {
  return analyse(loadFile(path, s), s, edit);
}

Outcome runText(const std::string& text, const orv::Settings& s) {
  return analyse(loadText(text, s), s);
}

const Outcome& exampleRun(const std::string& file) {
  static std::map<std::string, Outcome> runs;
  auto it = runs.find(file);
  if (it == runs.end())
    it = runs.emplace(file, runFile(std::string(ORVALDYN_EXAMPLES) + "/" + file, exampleSettings()))
             .first;
  return it->second;
}

std::string jointedModel(int n, std::mt19937& rng, bool chain, int closures, bool motions) {
  std::uniform_real_distribution<double> u(-1, 1);
  const char* types[] = {"revolution", "sphere",  "cylinder", "translation",
                         "fix",        "in_line", "prismatic"};
  auto nums = [](std::initializer_list<double> v) {
    std::string s;
    for (double x : v) s += " " + std::to_string(x);
    return s;
  };
  auto body = [](int b) { return b < 0 ? std::string("base") : "b" + std::to_string(b); };
  std::string bodies = "parameter_info P %\nbody_info B base base_cg 1 1 1 1 0 0 0 0 0 0\n";
  std::string frames = "%\nframe_info F base_cg base 0 0 0 0 0 0\n";
  std::string joints = "%\njoint_info J on g ground base_cg non\n", drives;
  int lc = 0;
  auto joint = [&](int bi, int bj) {
    const std::string k = std::to_string(lc++),
                      type = types[static_cast<int>((u(rng) + 1) * 3.5) % 7];
    const std::string at =
        nums({3 * u(rng), 3 * u(rng), 3 * u(rng), 90 * u(rng), 90 * u(rng), 90 * u(rng)});
    frames += "p" + k + " " + body(bi) + at + "\nq" + k + " " + body(bj) + at + "\n";
    joints += "on j" + k + " " + type + " p" + k + " q" + k + "\n";
    if (motions && type == "revolution" && u(rng) > 0) {
      const std::string rate = std::to_string(u(rng));
      for (int twice = u(rng) > 0 ? 2 : 1; twice > 0; --twice)
        drives += "on m" + std::to_string(drives.size()) + " R j" + k + " velocity " + rate + "\n";
    }
  };
  for (int i = 0; i < n; ++i) {
    bodies += body(i) + " c" + std::to_string(i) +
              nums({1.5 + u(rng), 0.3 + 0.2 * u(rng), 0.4 + 0.2 * u(rng), 0.5 + 0.2 * u(rng)}) +
              " 0 0 0 0 0 0\n";
    frames += "c" + std::to_string(i) + " " + body(i) + nums({3 * u(rng), 3 * u(rng), 3 * u(rng)}) +
              " 0 0 0\n";
    joint(chain ? i - 1 : static_cast<int>((u(rng) + 1) / 2 * i) - 1, i);
  }
  // (Drawn in the order that made the models the tests were tuned on.)
  for (int c = 0; c < closures; ++c) {
    const int bj = static_cast<int>((u(rng) + 1) / 2 * n);
    joint(static_cast<int>((u(rng) + 1) / 2 * (n + 1)) - 1, bj);
  }
  return bodies + frames + joints + (drives.empty() ? "" : "%\nmotion_info M " + drives) +
         "%\ngravity G on y- %\nsimulation_time T 0 0.01 1 %\n";
}

std::string chainModel(int n, double length, const std::string& link, bool fromTheFreeEnd) {
  std::string bodies = "parameter_info P %\nbody_info B ground ground_cg 1 1 1 1 0 0 0 0 0 0\n";
  std::string frames = "%\nframe_info F ground_cg ground 0 0 0 0 0 0\n", hinges;
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i), x = " " + std::to_string(length * i) + " 0 0 0 0 0\n";
    bodies += "l" + k + " c" + k + " " + link + " 0 0 0 0 0 0\n";
    frames += "c" + k + " l" + k + " " + std::to_string(length * (i + 0.5)) + " 0 0 0 0 0\n";
    frames += "a" + k + " l" + k + x + "b" + k + " " +
              (i ? "l" + std::to_string(i - 1) : std::string("ground")) + x;
    const std::string hinge = "on h" + k + " revolution a" + k + " b" + k + "\n";
    hinges = fromTheFreeEnd ? hinge + hinges : hinges + hinge;
  }
  const std::string ground = "on fix_ground ground ground_cg non\n";
  return bodies + frames + "%\njoint_info J\n" +
         (fromTheFreeEnd ? hinges + ground : ground + hinges) +
         "%\ngravity G on y- %\nsimulation_time T 0 0.01 0.2 %\n";
}

}  // namespace orvtest
