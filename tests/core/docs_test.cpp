// The worked examples of the user documents, run. A fenced block after a line
// "<!-- checked: NAME -->" in docs/*.md is either input that is fed to
// orvaldyn-batch (a model, a mesh, a motion set) or text the program must
// still write; each case runs the built program in a fresh folder with a copy
// of the example settings, as a user following the document would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace fs = std::filesystem;

namespace {

const std::string kRepo = std::string(ORVALDYN_EXAMPLES) + "/..";

// Every block these tests run; DocsIndex checks that the documents mark no other.
const std::set<std::string> kBlocks = {
    "tiny-model",      "tiny-result",    "plate-stl",     "tetra-stl",       "rest-model",
    "rest-contact",    "swing-header",   "swing-mov",     "swing-jnt",       "swing-console",
    "swing-channels",  "swing-sample-1", "swing-result",  "usage",           "tiny-11-time",
    "tiny-11-console", "exit-codes",     "unstable-cord", "missing-settings"};

// The text of the block NAME, each line ending in "\n"; a failure unless the
// documents hold exactly one such block.
std::string block(const std::string& name) {
  EXPECT_EQ(kBlocks.count(name), 1u) << name;
  const std::string marker = "<!-- checked: " + name + " -->\n```\n";
  std::string found;
  int count = 0;
  for (const auto& e : fs::directory_iterator(kRepo + "/docs")) {
    const std::string text = orvtest::readFile(e.path().string());
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
      const size_t start = at + marker.size(), end = text.find("\n```\n", start - 1);
      found = end == std::string::npos ? "" : text.substr(start, end + 1 - start);
      count += end == std::string::npos ? 2 : 1;  // an unclosed block counts as wrong
    }
  }
  EXPECT_EQ(count, 1) << "block " << name;
  return found;
}

// The lines of a text; trimmed, without the blanks that end them (the documents
// do not show the two blanks that end every row of a result file).
std::vector<std::string> lines(const std::string& text, bool trimmed = false) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    v.push_back(trimmed ? line.erase(line.find_last_not_of(' ') + 1) : line);
  return v;
}
std::vector<std::string> trimmed(const std::string& text) { return lines(text, true); }

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string w; in >> w;) v.push_back(w);
  return v;
}

// The trimmed lines of `text` from the first one equal to `first` through the
// first `%` after `last`, or all of them to the end.
std::vector<std::string> section(const std::string& text, const std::string& first,
                                 const std::string& last) {
  std::vector<std::string> v;
  bool in = false, closing = false;
  for (const std::string& line : lines(text, true)) {
    in = in || line == first;
    if (!in) continue;
    v.push_back(line);
    closing = closing || line == last;
    if (closing && line == "%") break;
  }
  return v;
}

using orvtest::BatchRun;
using orvtest::runBatch;

void write(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  ASSERT_TRUE(orvtest::writeFile(path, text)) << path;
}

// The pendulum of result-file.md with its one line containing `key` replaced
// by `line`.
std::string tinyWith(const std::string& key, const std::string& line) {
  std::string out;
  int replaced = 0;
  for (const std::string& l : lines(block("tiny-model"))) {
    const bool hit = l.find(key) != std::string::npos;
    replaced += hit;
    out += (hit ? line : l) + "\n";
  }
  EXPECT_EQ(replaced, 1) << key;
  return out;
}

// `expected` appears in `actual` as whole consecutive lines; a line giving the
// seconds a run took ("   0.001234[s]") matches any other such line.
::testing::AssertionResult containsLines(const std::string& actual, const std::string& expected) {
  auto seconds = [](const std::string& x) {
    const size_t dot = x.find('.');
    if (x.compare(0, 3, "   ") != 0 || dot == std::string::npos || dot < 4 || x.size() != dot + 10 ||
        x.compare(dot + 7, 3, "[s]") != 0)
      return false;
    for (size_t i = 3; i < dot + 7; ++i)
      if (i != dot && !std::isdigit(static_cast<unsigned char>(x[i]))) return false;
    return true;
  };
  const std::vector<std::string> a = lines(actual), e = lines(expected);
  for (size_t s = 0; !e.empty() && s + e.size() <= a.size(); ++s) {
    size_t k = 0;
    while (k < e.size() && (a[s + k] == e[k] || (seconds(a[s + k]) && seconds(e[k])))) ++k;
    if (k == e.size()) return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "not found:\n" << expected << "\nin:\n" << actual;
}

}  // namespace

// The pendulum's result file is the one shown; every value is followed by
// two blanks, the last one of a row too, and labels, counts and times stand alone.
TEST(DocsResultFile, PendulumResultIsAsShown) {
  const std::string dir = orvtest::batchFolder();
  write(dir + "/tiny.txt", block("tiny-model"));
  const BatchRun r = runBatch(dir, "tiny.txt");
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string file = orvtest::readFile(dir + "/log/result_tiny.txt");
  EXPECT_EQ(trimmed(file), trimmed(block("tiny-result")));
  for (const std::string& line : lines(file))
    EXPECT_TRUE(line.find(' ') == std::string::npos ||
                (line.size() > 2 && line.compare(line.size() - 2, 2, "  ") == 0 &&
                 line.find("   ") == std::string::npos))
        << line;
}

// A block resting on three corners in a plate: the contact block is the one shown.
TEST(DocsResultFile, ContactRecordsAreAsShown) {
  const std::string dir = orvtest::batchFolder();
  write(dir + "/plate.stl", block("plate-stl"));
  write(dir + "/tetra.stl", block("tetra-stl"));
  write(dir + "/rest.txt", block("rest-model"));
  const BatchRun r = runBatch(dir, "rest.txt");
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string file = orvtest::readFile(dir + "/log/result_rest.txt");
  EXPECT_EQ(section(file, "F_contact", "ti_num"), trimmed(block("rest-contact")));
}

// The motion set of motion-import.md imports with the messages, channels,
// values, states and reactions shown.
TEST(DocsMotionImport, SwingImportsAsShown) {
  const std::string dir = orvtest::batchFolder();
  write(dir + "/tiny.txt", block("tiny-model"));
  write(dir + "/motion/header.txt", block("swing-header"));
  write(dir + "/motion/swing.mov", block("swing-mov"));
  write(dir + "/motion/swing.jnt", block("swing-jnt"));
  const BatchRun r = runBatch(dir, "--import-mov motion/swing.mov tiny.txt");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(containsLines(r.out, block("swing-console")));
  const std::string file = orvtest::readFile(dir + "/log/import_tiny.txt");
  EXPECT_EQ(section(file, "time_num", "F_const"), trimmed(block("swing-result")));

  // The file's channels against the table of index-name pairs, and their values at sample 1.
  std::vector<std::string> names = section(file, "channels", "channels");
  ASSERT_GE(names.size(), 3u);
  names = std::vector<std::string>(names.begin() + 2, names.end() - 1);
  std::string listed;
  for (size_t i = 0; i < names.size(); ++i) listed += std::to_string(i) + " " + names[i] + "\n";
  EXPECT_EQ(words(block("swing-channels")), words(listed));
  const std::vector<std::string> out = section(file, "output", "output");  // 3 rows between
  ASSERT_TRUE(out.size() == 5 && words(out[2]).size() == names.size());
  for (const std::string& line : lines(block("swing-sample-1"))) {
    const std::vector<std::string> nv = words(line);
    const size_t c = std::find(names.begin(), names.end(), nv.at(0)) - names.begin();
    ASSERT_TRUE(nv.size() == 2 && c < names.size()) << line;
    EXPECT_EQ(words(out[2])[c], nv[1]) << nv[0];
  }
}

// The usage text, the progress lines of an 11-sample run, and the exit codes
// with what each writes on standard error.
TEST(DocsBatch, UsageProgressAndExitCodesAreAsShown) {
  const std::string dir = orvtest::batchFolder();
  const BatchRun help = runBatch(dir, "--help");
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out, block("usage"));

  const std::string time = lines(block("tiny-11-time")).at(0);
  write(dir + "/tiny.txt", tinyWith("simulation_time", time));
  const BatchRun run = runBatch(dir, "tiny.txt");
  EXPECT_EQ(run.code, 0) << run.err;
  const std::string tail = block("tiny-11-console");
  EXPECT_TRUE(containsLines(run.out, tail));
  // The excerpt is the end of the output.
  EXPECT_EQ(lines(run.out).back(), lines(tail).back());

  // A folder with the 3-sample pendulum and its unstable variant.
  const std::string ex = orvtest::batchFolder();
  write(ex + "/tiny.txt", block("tiny-model"));
  write(ex + "/unstable.txt", tinyWith("  cord  ", lines(block("unstable-cord")).at(0)));
  const std::vector<std::string> session = lines(block("exit-codes"));
  int runs = 0;
  for (size_t i = 0; i < session.size();) {
    const std::string prompt = "$ orvaldyn-batch ";
    ASSERT_EQ(session[i].rfind(prompt, 0), 0u) << session[i];
    const std::string args = session[i].substr(prompt.size());
    std::vector<std::string> err;
    for (++i; i < session.size() && session[i].rfind("(exit code ", 0) != 0; ++i)
      err.push_back(session[i]);
    ASSERT_LT(i, session.size());
    const int code = std::stoi(session[i++].substr(11));
    const BatchRun r = runBatch(ex, args);
    EXPECT_EQ(r.code, code) << args;
    std::vector<std::string> got = lines(r.err);
    if (!err.empty() && err.back() == "...") {  // the rest of the text left out
      err.pop_back();
      if (got.size() > err.size()) got.resize(err.size());
    }
    EXPECT_EQ(got, err) << args;
    ++runs;
  }
  EXPECT_EQ(runs, 4);
}

TEST(DocsSettings, MissingSettingsSayWhereTheyWereLookedFor) {
  const std::string dir = orvtest::batchFolder({});
  write(dir + "/tiny.txt", block("tiny-model"));
  const BatchRun r = runBatch(dir, "tiny.txt");
  EXPECT_EQ(r.code, 1);
  std::string shown = block("missing-settings");
  const size_t at = shown.find("/home/me/work");
  ASSERT_NE(at, std::string::npos);
  shown.replace(at, 13, dir);
  EXPECT_EQ(r.out, shown);
  EXPECT_EQ(r.err, "");
}

// Every block a document marks as checked is one of these tests' blocks, and
// the README leads to the documents.
TEST(DocsIndex, EveryCheckedBlockIsRunAndTheReadmePointsToTheDocuments) {
  std::set<std::string> marked;
  const std::string marker = "<!-- checked: ";
  for (const auto& e : fs::directory_iterator(kRepo + "/docs")) {
    const std::string text = orvtest::readFile(e.path().string());
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1))
      marked.insert(text.substr(at + marker.size(), text.find(" -->", at) - at - marker.size()));
  }
  EXPECT_EQ(marked, kBlocks);
  const std::string readme = orvtest::readFile(kRepo + "/README.md");
  for (const char* d : {"docs/result-file.md", "docs/motion-import.md", "docs/batch.md"})
    EXPECT_TRUE(orvtest::has(readme, d) && fs::exists(kRepo + "/" + d)) << d;
}
