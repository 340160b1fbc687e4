#include "test_util.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "model/model_reader.h"

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

orv::Settings runSettings(const std::string& energy, double minimumEnergy) {
  orv::Settings s;
  for (int k = 0; k < 3; ++k) s.energy_flag[k] = energy.find("PTR"[k]) != std::string::npos;
  s.minimum_limit_energy = minimumEnergy, s.Energy_variation = 1e-3, s.contact_time_step_coefficient = 0.1;
  for (const char* c : {"red", "green", "blue", "yellow", "cyan", "magenta", "orange", "white", "gray", "silver",
                        "black", "brown"})
    s.colors.push_back(orv::Color{c, {0.5, 0.5, 0.5}});
  return s;
}

const orv::Settings& exampleSettings() {
  static const orv::Settings s = [] {
    ConsoleCapture quiet;  // read from a copy: reading makes log/
    const std::string dir = makeTempDir();
    std::filesystem::copy(std::string(ORVALDYN_EXAMPLES) + "/setting", dir + "/setting",
                          std::filesystem::copy_options::recursive);
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
  std::filesystem::create_directory_symlink(std::string(ORVALDYN_EXAMPLES) + "/meshes", dir + "/meshes");
  writeFile(dir + "/model.txt", text);
  Outcome r = loadFile(dir + "/model.txt", s);
  std::filesystem::remove_all(dir);
  return r;
}

Outcome& analyse(Outcome& r, const orv::Settings& s, void (*edit)(orv::Model&)) {
  if (!r.read) return r;
  if (edit) edit(r.m);
  ConsoleCapture con;
  orv::AnalysisOptions opt;
  opt.pauses = false, opt.writeResult = false;
  r.status = orv::runAnalysis(r.m, s, r.h, r.message, opt);
  r.console += con.text();
  return r;
}

const Outcome& exampleRun(const std::string& file) {
  static std::map<std::string, Outcome> runs;
  auto it = runs.find(file);
  if (it == runs.end()) it = runs.emplace(file, runFile(std::string(ORVALDYN_EXAMPLES) + "/" + file, exampleSettings())).first;
  return it->second;
}

}  // namespace orvtest
