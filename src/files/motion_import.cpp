#include "files/motion_import.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files/loaded_result.h"
#include "model/histories.h"
#include "model/model.h"
#include "model/state_layout.h"
#include "platform/source_pos.h"
#include "platform/console.h"
#include "platform/messages.h"
#include "platform/text_file.h"
#include "math/vec3.h"

// Everything is read into a LoadedResult and checked first; the histories
// (with the imported channels' names) take it only at the end, so a missing
// or damaged file never leaves a mix of the old result and a partial import.
// The model is not changed: its output requests stay for its next analysis.

namespace orv {

namespace {

// The model reader's limit on a time span: more samples would not fit memory.
constexpr double kMaxSamples = 10000000.0;
// All imported stores together, in doubles (2 GiB).
constexpr uint64_t kMaxStoreValues = uint64_t(1) << 28;
// Values of a node row that the import uses.
constexpr int kNodeValues = 12;
// Values of a joint row before its extras.
constexpr int kJointValues = 12;
// How every refusal reported to the messages panel starts; the result held stays.
const std::string kNotImported = "Motion not imported: ";

struct ImportFailure {
  std::string file;
  std::string what;
  std::string place = {};  // "FILE:LINE:COLUMN: found ..., expected ..." when a token is at fault
  std::string expected = {};  // what belonged at that place
  int line = 0;               // of that place
};

[[noreturn]] void fail(const std::string& file, std::string what) {
  throw ImportFailure{file, std::move(what)};
}

// Progress of a pass over the samples. On a terminal one line is rewritten
// in place (whole-percent steps only); a log or a pipe gets the final count
// alone, not one entry per sample.
class Progress {
 public:
  explicit Progress(int N) : N_(N), live_(::isatty(::fileno(consoleFile())) == 1) {}
  void at(int k) {
    if (!live_) return;
    const long long pct = 100LL * k / N_;
    if (k > 0 && pct == shown_) return;
    shown_ = pct;
    cprintf("\rtime=%d/%d", k, N_);
    std::fflush(consoleFile());
  }
  void done() { cprintf("%stime=%d/%d\n", live_ ? "\r" : "", N_, N_); }

 private:
  int N_;
  bool live_;
  long long shown_ = -1;
};

// Row length of a joint type in the joint-force file, 0 for a type without one.
int jointForceColumns(const std::string& type) {
  const JointTypeRow* row = findTypeWord(kJointTypes, type);
  return row ? row->jnt_values : 0;
}

std::string str(long long v) { return std::to_string(v); }

// Loads `path`; false when it cannot be opened (the caller prints its own
// open error). Size and read failures are errors of that file.
bool load(const std::string& path, std::vector<char>& text) {
  const TextLoad l = loadTextFile(path, text);
  if (l == TextLoad::kCannotOpen) return false;
  if (l == TextLoad::kTooLarge)
    fail(path, "file larger than " + str(kMaxTextFileBytes >> 30) + " GiB");
  if (l == TextLoad::kReadError) fail(path, "read error");
  return true;
}

// Blank-separated tokens of a loaded file. Every read names its place in the
// file when the token is missing or malformed.
class Tokens {
 public:
  Tokens(const std::vector<char>& text, const std::string& file) : in_(text), file_(file) {}

  const std::string& file() const { return file_; }
  uint64_t remaining() const { return in_.remaining(); }
  std::string_view next() { return in_.next(); }
  bool atEnd() { return in_.atEnd(); }
  // Where the token last read starts (the end of the text after the last).
  size_t offset() const { return in_.offset(); }
  size_t textEnd() const { return in_.text().size(); }

  // The token at `at` (by default the one last read) is not what belonged there.
  [[noreturn]] void fail(std::string what, const std::string& expected) {
    failAt(offset(), std::move(what), expected);
  }
  [[noreturn]] void failAt(size_t at, std::string what, const std::string& expected) const {
    const std::string_view text = in_.text();
    size_t end = at;
    while (end < text.size() && !isBlankChar(text[end])) ++end;
    const std::string found =
        end > at ? shownToken(text.substr(at, end - at)) : std::string("the end of the file");
    const SourcePos pos = positionIn(text, at);
    throw ImportFailure{file_, std::move(what),
                        placeLine(file_, pos, "found " + found + ", expected " + expected),
                        expected, pos.line};
  }

  // A label word: its text does not matter, only that it is there.
  void label(const char* before) {
    if (next().empty())
      fail(std::string("file ends where the label before ") + before + " belongs",
           std::string("the label before ") + before);
  }

  std::string_view word(const std::string& where, const char* expected) {
    const std::string_view t = next();
    if (t.empty()) fail(where + ": file ends", expected);
    return t;
  }

  template <class Where>
  double real(const Where& where) {
    const std::string_view t = next();
    double v;
    if (toFiniteDouble(t, v)) return v;
    if (t.empty()) fail(where() + ": file ends", "a number");
    fail(where() + ": " + shownToken(t) + " is not a finite number", "a number");
  }

  template <class Where>
  int integer(const Where& where) {
    const std::string_view t = next();
    int v;
    if (toInteger(t, v)) return v;
    if (t.empty()) fail(where() + ": file ends", "an integer");
    fail(where() + ": " + shownToken(t) + " is not an integer", "an integer");
  }

  // A row label: any integer, its value unused.
  template <class Where>
  void rowLabel(const Where& where) {
    const std::string_view t = next();
    long long v;
    if (toInteger(t, v)) return;
    if (t.empty()) fail(where() + ": file ends", "an integer row label");
    fail(where() + ": " + shownToken(t) + " is not an integer row label", "an integer row label");
  }

 private:
  TextTokens in_;
  std::string file_;
};

struct Header {
  int N = 0;  // time_num
  double t0 = 0.0, dt = 0.0;
  std::vector<int> columns;
  std::vector<std::string> names;
  std::vector<int> cgNode;  // per body, 0-based node index
};

// Rx(a) Ry(b) Rz(c), row-major, radians.
void rotationXYZ(double* R, double a, double b, double c) {
  const double ca = std::cos(a), sa = std::sin(a);
  const double cb = std::cos(b), sb = std::sin(b);
  const double cc = std::cos(c), sc = std::sin(c);
  R[0] = cb * cc;
  R[1] = -cb * sc;
  R[2] = sb;
  R[3] = ca * sc + sa * sb * cc;
  R[4] = ca * cc - sa * sb * sc;
  R[5] = -sa * cb;
  R[6] = sa * sc - ca * sb * cc;
  R[7] = sa * cc + ca * sb * sc;
  R[8] = ca * cb;
}

void rotationOfAngles(double* R, const double* deg) {
  rotationXYZ(R, degToRad(deg[0]), degToRad(deg[1]), degToRad(deg[2]));
}

std::string headerPath(const std::string& movPath) {
  const size_t slash = movPath.rfind('/');
  return (slash == std::string::npos ? std::string() : movPath.substr(0, slash + 1)) + "header.txt";
}

// t0, dt, t_end: the samples' times.
void readTimeSpan(Tokens& t, Header& hd) {
  t.label("t0");
  const char* timeNames[3] = {"t0", "dt", "t_end"};
  double tv[3];
  size_t at[3];
  for (int i = 0; i < 3; ++i) {
    tv[i] = t.real([&] { return std::string(timeNames[i]); });
    at[i] = t.offset();
  }
  hd.t0 = tv[0];
  hd.dt = tv[1];
  if (!(hd.dt > 0.0)) t.failAt(at[1], "dt must be positive", "a positive number");
  if (tv[2] < hd.t0) t.fail("t_end lies before t0", "a time not before t0");
  const double span = (tv[2] - hd.t0) / hd.dt;
  if (!(span < kMaxSamples))
    t.fail("t0, dt and t_end give more than " + str(static_cast<long long>(kMaxSamples)) +
               " samples",
           "a t_end fewer than " + str(static_cast<long long>(kMaxSamples)) + " steps after t0");
  // Counted as an analysis counts its samples: the rounding of the quotient
  // (0.3 / 0.1 is 2.9999999999999996) must not lose the last one.
  hd.N = sampleCount(hd.t0, hd.dt, tv[2]);
  cprintf("time_num=%d\n", hd.N);
}

// node_num, then each node's column count and name.
void readNodes(Tokens& t, Header& hd) {
  t.label("node_num");
  const int nn = t.integer([] { return std::string("node_num"); });
  if (nn < 1)
    t.fail("node_num is " + str(nn) + "; at least one node is needed", "an integer of 1 or more");
  // Each node needs a column count and a name, each a character and a blank:
  // a count the file cannot hold is refused before anything is allocated.
  if (uint64_t(nn) > t.remaining() / 4)
    t.fail("node_num " + str(nn) + ": that many nodes cannot fit in the rest of the file",
           "a node count the rest of the file can hold");
  cprintf("node_num=%d\n", nn);

  t.label("node_column");
  hd.columns.resize(static_cast<size_t>(nn));
  for (int n = 0; n < nn; ++n) {
    const int c = t.integer([&] { return "node_column of node " + str(n + 1); });
    if (c < kNodeValues)
      t.fail("node_column of node " + str(n + 1) + " is " + str(c) +
                 "; the first 12 values (position, angles, velocity, angular velocity) "
                 "are required",
             "an integer of 12 or more");
    hd.columns[static_cast<size_t>(n)] = c;
  }
  cprintf("node_column:\n");
  for (int c : hd.columns) cprintf("  %d", c);
  cprintf("\n");

  t.label("node_name");
  hd.names.resize(static_cast<size_t>(nn));
  for (int n = 0; n < nn; ++n) {
    const std::string_view w = t.word("node_name of node " + str(n + 1), "a node name");
    if (w.size() > static_cast<size_t>(kNameMax))
      t.fail("node_name of node " + str(n + 1) + " is longer than " + str(kNameMax) + " characters",
             "a name of at most " + str(kNameMax) + " characters");
    for (char ch : w)
      if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
        t.fail("node_name of node " + str(n + 1) + " contains a control character",
               "a name without control characters");
    hd.names[static_cast<size_t>(n)].assign(w);
  }
  cprintf("node_name:\n");
  for (const std::string& s : hd.names) cprintf("  %s", s.c_str());
  cprintf("\n");
}

// The node that carries each body's cg.
void readCgNodes(Tokens& t, const Model& m, Header& hd) {
  const int nn = static_cast<int>(hd.columns.size());
  t.label("cg_node_index");
  hd.cgNode.resize(m.bodies.size());
  for (int b = 0; b < m.body_num(); ++b) {
    const std::string& body = m.bodies[static_cast<size_t>(b)].name;
    const int c =
        t.integer([&] { return "cg_node_index of body " + str(b + 1) + " (" + body + ")"; });
    if (c < 1 || c > nn)
      t.fail("cg_node_index of body " + str(b + 1) + " (" + body + ") is " + str(c) +
                 ", outside 1.." + str(nn),
             "an integer from 1 to " + str(nn));
    hd.cgNode[static_cast<size_t>(b)] = c - 1;
  }
  cprintf("cg_node_index:\n");
  for (int c : hd.cgNode) cprintf("  %d", c + 1);
  cprintf("\n");
}

void readHeader(const std::string& path, const Model& m, Header& hd) {
  std::vector<char> text;
  cprintf("  %s\n", path.c_str());
  if (!load(path, text)) {
    cprintf("MOV FILE OPEN ERROR\n");
    report(Severity::Error, kNotImported + "the file cannot be opened", path);
    throw ImportFailure{};  // already reported
  }
  cprintf("MOV FILE OPEN !!\n");
  Tokens t(text, path);
  readTimeSpan(t, hd);
  readNodes(t, hd);
  readCgNodes(t, m, hd);
  if (!t.atEnd()) {
    cprintf("  ### %s: text after cg_node_index ignored ###\n", path.c_str());
    report(Severity::Warning, "text after cg_node_index ignored", path);
  }
}

const char* const kNodeSuffix[kNodeValues] = {"dx", "dy", "dz", "euler_x", "euler_y", "euler_z",
                                              "vx", "vy", "vz", "wx",      "wy",      "wz"};
const char* const kJointSuffix[16] = {"Fx_Local",  "Fy_Local",  "Fz_Local",  "Fmag_Local",
                                      "Tx_Local",  "Ty_Local",  "Tz_Local",  "Tmag_Local",
                                      "Fx_Global", "Fy_Global", "Fz_Global", "Fmag_Global",
                                      "Tx_Global", "Ty_Global", "Tz_Global", "Tmag_Global"};

// Sizes every store once, with its final size, after checking that the
// files can hold what the header claims and that the total stays bounded.
void allocate(const std::string& path, const Model& m, const Header& hd, uint64_t channels,
              LoadedResult& r) {
  const uint64_t N = static_cast<uint64_t>(hd.N);
  const uint64_t nb = m.bodies.size(), nj = m.joints.size();
  const uint64_t nm = m.motions.size(), nf = m.forces.size();
  const uint64_t perSample = 1 + 14 * nb + channels + 6 * nj + (nm + nj) + 6 * nf + 2;
  if (N * perSample > kMaxStoreValues)
    fail(path, str(hd.N) + " samples of " + str(static_cast<long long>(channels)) +
                   " channels exceed what an import may hold");
  r.time.resize(N);
  r.state.assign(N * 14 * nb, 0.0);
  r.output.assign(N * channels, 0.0);
  r.reaction.assign(N * 6 * nj, 0.0);
  r.violation.assign(N * (nm + nj), 0.0);
  r.force.assign(N * 6 * nf, 0.0);
  r.sampleFirstContact.assign(N, 0);
  r.sampleContacts.assign(N, 0);
  for (int k = 0; k < hd.N; ++k) r.time[static_cast<size_t>(k)] = k * hd.dt + hd.t0;
}

void makeChannels(const Model& m, const Header& hd, LoadedResult& r) {
  auto add = [&](const std::string& name) { r.channels.push_back(name); };
  for (const std::string& node : hd.names)
    for (const char* s : kNodeSuffix) add(node + "_" + s);
  for (const Joint& J : m.joints) {
    for (const char* s : kJointSuffix) add(J.name + "_" + s);
    for (int e = 1; e <= jointForceColumns(J.type) - kJointValues; ++e)
      add(J.name + "_Extra" + str(e));
  }
}

void readMotion(const std::string& path, const Model& m, const Header& hd, LoadedResult& r) {
  std::vector<char> text;
  if (!load(path, text)) {
    cprintf("MOV FILE OPEN ERROR\n");
    report(Severity::Error, kNotImported + "the file cannot be opened", path);
    throw ImportFailure{};
  }
  cprintf("MOV FILE OPEN !!\n");
  Tokens t(text, path);

  const int nn = static_cast<int>(hd.columns.size());
  const int nb = m.body_num();
  const StateLayout layout{nb};
  uint64_t rowTokens = 0;
  for (int c : hd.columns) rowTokens += 1 + static_cast<uint64_t>(c);
  // Each token is at least a character and a blank.
  if (uint64_t(hd.N) > (t.remaining() + 1) / (2 * rowTokens))
    t.failAt(t.textEnd(),
             "time_num " + str(hd.N) + ": the file is too short for that many samples of " +
                 str(static_cast<long long>(rowTokens)) + " values",
             str(hd.N) + " samples of " + str(static_cast<long long>(rowTokens)) + " values");
  uint64_t channels = 12 * uint64_t(nn);
  for (const Joint& J : m.joints) channels += static_cast<uint64_t>(jointForceColumns(J.type)) + 4;
  allocate(path, m, hd, channels, r);
  makeChannels(m, hd, r);
  cprintf("p_YYY\n");

  const size_t no = static_cast<size_t>(channels);
  std::vector<double> initial(9 * static_cast<size_t>(nn));  // R(sample-0 angles) per node
  Progress progress(hd.N);
  for (int k = 0; k < hd.N; ++k) {
    progress.at(k);
    double* out = &r.output[static_cast<size_t>(k) * no];
    for (int n = 0; n < nn; ++n) {
      auto where = [&](int v) {
        return "sample " + str(k + 1) + " of " + str(hd.N) + ", node " + str(n + 1) + " (" +
               hd.names[static_cast<size_t>(n)] + "), " +
               (v == 0 ? std::string("row label")
                       : "value " + str(v) + " of " + str(hd.columns[static_cast<size_t>(n)]));
      };
      t.rowLabel([&] { return where(0); });
      const int cols = hd.columns[static_cast<size_t>(n)];
      for (int v = 0; v < cols; ++v) {
        const double x = t.real([&] { return where(v + 1); });
        if (v < kNodeValues) out[kNodeValues * n + v] = x;
      }
      if (k == 0) rotationOfAngles(&initial[9 * static_cast<size_t>(n)], out + kNodeValues * n + 3);
    }
    double* Y = &r.state[static_cast<size_t>(k) * layout.size()];
    for (int b = 0; b < nb; ++b) {
      const int c = hd.cgNode[static_cast<size_t>(b)];
      const double* node = out + kNodeValues * c;
      for (int i = 0; i < 3; ++i) Y[layout.r(b) + i] = node[i];
      // Velocities and Euler-parameter rates stay 0: the view needs poses
      // only, and the node velocities are kept as channels.
      double Rk[9], Rt[9], A[9];
      rotationOfAngles(Rk, node + 3);
      mat3Mul(A, Rk, mat3Transpose(Rt, &initial[9 * static_cast<size_t>(c)]));
      eulerParametersFromMatrix(A, &Y[layout.p(b)]);
    }
  }
  progress.done();
  if (!t.atEnd()) {
    cprintf("  ### %s: text after the last sample ignored ###\n", path.c_str());
    report(Severity::Warning, "text after the last sample ignored", path);
  }
  cprintf("FILE CLOSE !!\n");
}

// Loads the joint-force file (the first path, else the second) into `text`;
// `used` is the path opened.
void openJointForces(const std::string& movPath, std::vector<char>& text, std::string& used) {
  std::string first, second;
  jointForcePaths(movPath, first, second);
  cprintf("  %s\n", first.c_str());
  used = first;
  if (!load(first, text)) {
    if (second.empty()) {
      cprintf("JNT FILE OPEN ERROR\n");
      report(Severity::Error, kNotImported + "the joint-force file cannot be opened", first);
      throw ImportFailure{};
    }
    cprintf("  not there; trying %s\n", second.c_str());
    used = second;
    if (!load(second, text)) {
      cprintf("JNT FILE OPEN ERROR\n");
      report(Severity::Error,
             kNotImported + "no joint-force file can be opened, neither " + first + " nor this one",
             second);
      throw ImportFailure{};
    }
  }
  cprintf("JNT FILE OPEN !!\n");
}

void readJointForces(const std::string& movPath, const Model& m, const Header& hd,
                     LoadedResult& r) {
  std::vector<char> text;
  std::string path;
  openJointForces(movPath, text, path);
  Tokens t(text, path);

  const int nj = m.joint_num(), nb = m.body_num(), nn = static_cast<int>(hd.columns.size());
  const StateLayout layout{nb};
  uint64_t rowTokens = 0;
  for (const Joint& J : m.joints) rowTokens += 1 + static_cast<uint64_t>(jointForceColumns(J.type));
  if (rowTokens > 0 && uint64_t(hd.N) > (t.remaining() + 1) / (2 * rowTokens))
    t.failAt(t.textEnd(),
             "time_num " + str(hd.N) + ": the file is too short for that many samples of " +
                 str(static_cast<long long>(rowTokens)) + " values",
             str(hd.N) + " samples of " + str(static_cast<long long>(rowTokens)) + " values");

  const size_t no = r.channels.size();
  std::vector<double> v;
  Progress progress(hd.N);
  for (int k = 0; k < hd.N; ++k) {
    progress.at(k);
    double* out = &r.output[static_cast<size_t>(k) * no];
    const double* Y = &r.state[static_cast<size_t>(k) * layout.size()];
    size_t ch = kNodeValues * static_cast<size_t>(nn);
    for (int j = 0; j < nj; ++j) {
      const Joint& J = m.joints[static_cast<size_t>(j)];
      const int cols = jointForceColumns(J.type);
      auto where = [&](int i) {
        return "sample " + str(k + 1) + " of " + str(hd.N) + ", joint " + str(j + 1) + " (" +
               J.name + "), " +
               (i == 0 ? std::string("row label") : "value " + str(i) + " of " + str(cols));
      };
      t.rowLabel([&] { return where(0); });
      v.resize(static_cast<size_t>(cols));
      for (int i = 0; i < cols; ++i)
        v[static_cast<size_t>(i)] = t.real([&] { return where(i + 1); });
      for (int g = 0; g < 4; ++g) {
        const double* x = &v[3 * static_cast<size_t>(g)];
        for (int i = 0; i < 3; ++i) out[ch++] = x[i];
        out[ch++] = vec3Norm(x[0], x[1], x[2]);
      }
      for (int e = kJointValues; e < cols; ++e) out[ch++] = v[static_cast<size_t>(e)];

      // The reaction store holds the force in global axes and the torque in
      // the axes of body i, as the analysis leaves it for F_JOINT.
      double* F = &r.reaction[(static_cast<size_t>(k) * nj + j) * 6];
      for (int i = 0; i < 3; ++i) F[i] = v[6 + static_cast<size_t>(i)];
      if (J.i_body >= 0 && J.i_body < nb) {
        double A[9];
        mat3FromEulerParameters(A, &Y[layout.p(J.i_body)]);
        mat3TransposeMulVec(F + 3, &v[9], A);
      } else {
        for (int i = 0; i < 3; ++i) F[3 + i] = v[9 + static_cast<size_t>(i)];
      }
    }
  }
  progress.done();
  if (!t.atEnd()) {
    cprintf("  ### %s: text after the last sample ignored ###\n", path.c_str());
    report(Severity::Warning, "text after the last sample ignored", path);
  }
  cprintf("JNT FILE CLOSE !!\n");
}

}  // namespace

void jointForcePaths(const std::string& movPath, std::string& first, std::string& second) {
  first = movPath.substr(0, movPath.find('.')) + ".jnt";
  const size_t slash = movPath.rfind('/');
  const size_t dot = movPath.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  second = (hasExtension ? movPath.substr(0, dot) : movPath) + ".jnt";
  if (second == first) second.clear();
}

void eulerParametersFromMatrix(const double* A, double* p) {
  // Shepperd: start from the largest of 4e0^2, 4e1^2, 4e2^2, 4e3^2, so the
  // divisor is never small. Where e0 is largest this is the plain trace
  // formula e0 = sqrt((tr + 1) / 4), e = axial(A - A^T) / (4 e0).
  const double tr = A[0] + A[4] + A[8];
  const double q[4] = {1.0 + tr, 1.0 + 2 * A[0] - tr, 1.0 + 2 * A[4] - tr, 1.0 + 2 * A[8] - tr};
  int big = 0;
  for (int i = 1; i < 4; ++i)
    if (q[i] > q[big]) big = i;
  const double s = 0.5 * std::sqrt(q[big] > 0.0 ? q[big] : 0.0);
  const double d = 4.0 * s;  // s >= 1/2 (the largest of four squares summing to 4)
  switch (big) {
    case 0:
      p[0] = s;
      p[1] = (A[7] - A[5]) / d;
      p[2] = (A[2] - A[6]) / d;
      p[3] = (A[3] - A[1]) / d;
      break;
    case 1:
      p[1] = s;
      p[0] = (A[7] - A[5]) / d;
      p[2] = (A[1] + A[3]) / d;
      p[3] = (A[2] + A[6]) / d;
      break;
    case 2:
      p[2] = s;
      p[0] = (A[2] - A[6]) / d;
      p[1] = (A[1] + A[3]) / d;
      p[3] = (A[5] + A[7]) / d;
      break;
    default:
      p[3] = s;
      p[0] = (A[3] - A[1]) / d;
      p[1] = (A[2] + A[6]) / d;
      p[2] = (A[5] + A[7]) / d;
      break;
  }
  if (p[0] < 0.0)
    for (int i = 0; i < 4; ++i) p[i] = -p[i];
}

bool importMotion(const std::string& movPath, const Model& m, Histories& h) {
  if (m.bodies.empty()) {
    cprintf("MOTION IMPORT ERROR: no model is open; open the model the motion belongs to first\n");
    report(Severity::Error,
           kNotImported + "no model is open; open the model the motion belongs to first", movPath);
    return false;
  }
  for (const Joint& J : m.joints)
    if (jointForceColumns(J.type) == 0) {
      cprintf("MOTION IMPORT ERROR: joint %s has type %s, for which the joint-force file has no "
              "row layout\n",
              J.name.c_str(), J.type.c_str());
      report(Severity::Error,
             kNotImported + "joint " + J.name + " has type " + J.type +
                 ", for which the joint-force file has no row layout",
             m.path, J.line);
      return false;
    }

  Header hd;
  LoadedResult r;
  try {
    readHeader(headerPath(movPath), m, hd);
    readMotion(movPath, m, hd, r);
    readJointForces(movPath, m, hd, r);
    r.samples = hd.N;
    r.version = h.version;  // an import has none of its own
  } catch (const ImportFailure& e) {
    if (!e.file.empty()) cprintf("MOTION IMPORT ERROR: %s: %s\n", e.file.c_str(), e.what.c_str());
    if (!e.place.empty()) cprintf("%s\n", e.place.c_str());
    if (!e.file.empty())
      report(Severity::Error,
             kNotImported + e.what + (e.expected.empty() ? "" : "; expected " + e.expected), e.file,
             e.line);
    return false;
  } catch (const std::bad_alloc&) {
    cprintf("MOTION IMPORT ERROR: %s: Not enough memory to import the motion\n", movPath.c_str());
    report(Severity::Error, kNotImported + "not enough memory to import it", movPath);
    return false;
  }
  takeLoadedResult(h, r, m);  // no contact records
  return true;
}

}  // namespace orv
