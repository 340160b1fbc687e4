// The model file reader's expressions: functions (section 6), output
// channels (section 13), the rewriting of stored texts and the check of the
// texts evaluated during the run.
#include <algorithm>
#include <vector>

#include "files/model_reader.h"
#include "files/model_reader_impl.h"
#include "platform/console.h"

namespace orv {
namespace reader {

void Reader::functions() {
  cprintf("%s\n", cur_.c_str());
  std::vector<ModelFunction> rows;
  int n = list(kFunction, " %s\n", [&](const std::string& first, int rec) {
    recordName(kFunction, rec, first, "function");
    refuseKeywordName(kFunction, rec, first, "function");
    ModelFunction f;
    f.line = recordLine_;
    f.name = first;
    f.expr = field(kFunction, rec, "the function's expression", kExprMax);
    rows.push_back(f);
  });
  cprintf("func_num=%d\n", n);
  if (n == 0) return;
  t_.functions = rows;
  cprintf("Function\n");
  for (int i = 0; i < n; ++i) {
    t_.functions[i].id = i;
    cprintf("  %d:%s, %s\n", i, t_.functions[i].name.c_str(), t_.functions[i].expr.c_str());
  }
}

void Reader::outputs() {
  cprintf("%s\n", cur_.c_str());
  std::vector<OutputRequest> rows;
  std::vector<SourcePos> equPos;
  int n = list(kOutput, " %s, ", [&](const std::string& first, int rec) {
    recordName(kOutput, rec, first, "output");
    OutputRequest o;
    o.line = recordLine_;
    o.name = first;
    o.equ = field(kOutput, rec, "the channel's expression", kTokenMax);
    equPos.push_back(in_.pos());
    rows.push_back(o);
  });
  refuseDuplicates(kOutput, rows, "output");
  cprintf("output_num=%d\n", n);
  if (n == 0) return;
  for (int i = 0; i < n; ++i) {
    rows[i].id = i;
    rewrite(kOutput, i + 1, equPos[i], rows[i].equ, kExprMax);
  }
  t_.outputs = rows;
  for (int i = 0; i < n; ++i) runTexts_.push_back({equPos[i], &t_.outputs[i].equ});
  for (const OutputRequest& o : t_.outputs)
    cprintf("  %d, %s:equ=%s\n", o.id, o.name.c_str(), o.equ.c_str());
}

void Reader::rewrite(Section sec, int record, SourcePos p, std::string& text, size_t limit) {
  std::string why;
  if (!rewriteExpression(t_, text, limit, why)) {
    cprintf("  ### %s ###\n", why.c_str());
    fail(sec, record, p, why);
  }
  if (nestedTooDeep(text))
    fail(sec, record, p,
         format("the expression is nested deeper than %d brackets (after functions are put in)",
                kMaxExpressionNesting));
}

void Reader::checkRunTexts() {
  // Names in these texts are looked up at every evaluation: the parameters,
  // the local coordinates and the joints (F_JOINT) by name. Anything else
  // reads 0 for the whole run.
  for (const TextPlace& tp : runTexts_) {
    const ExprReading r = readExpression(*tp.text, t_);
    for (const ExprReading::Name& n : r.names)
      if (!n.known) warn(tp.pos, "unknown name '" + n.name + "' read as 0");
    if (r.stop < tp.text->size())
      warn(tp.pos, format("'%s' is read only as far as '%s'; the rest is ignored", tp.text->c_str(),
                          tp.text->substr(0, r.stop).c_str()));
  }
}

}  // namespace reader

bool rewriteExpression(const Model& m, std::string& text, size_t limit, std::string& why) {
  auto isBefore = [](char c) {
    return c == '+' || c == '-' || c == '*' || c == '/' || c == ',' || c == '(';
  };
  auto isAfter = [](char c) {
    return c == '+' || c == '-' || c == '*' || c == '/' || c == ',' || c == ')';
  };
  auto standsAsName = [&](size_t pos, size_t len) {
    size_t end = pos + len;
    return (end == text.size() || isAfter(text[end])) && (pos == 0 || isBefore(text[pos - 1]));
  };
  // First occurrence of `name` in text, if it stands as a name there.
  auto findName = [&](const std::string& name, size_t& pos) {
    if (name.empty()) return false;
    pos = text.find(name);
    return pos != std::string::npos && standsAsName(pos, name.size());
  };
  // Local-coordinate indices and P(i) put in are final and never matched
  // again: otherwise names that read like them ("0", "P(1)") make a pass
  // replace forever. Every replacement then uses up text that was there
  // before the pass, so the passes end.
  std::vector<bool> put;  // per character of text: put in by a replacement
  auto findFreeName = [&](const std::string& name, size_t& pos) {
    if (name.empty()) return false;
    for (pos = text.find(name); pos != std::string::npos; pos = text.find(name, pos + 1)) {
      const auto from = put.begin() + static_cast<std::ptrdiff_t>(pos);
      if (std::find(from, from + static_cast<std::ptrdiff_t>(name.size()), true) ==
          from + static_cast<std::ptrdiff_t>(name.size()))
        return standsAsName(pos, name.size());
    }
    return false;
  };
  auto replaceFinal = [&](size_t pos, size_t len, const std::string& by) {
    text.replace(pos, len, by);
    const auto at = put.begin() + static_cast<std::ptrdiff_t>(pos);
    put.insert(put.erase(at, at + static_cast<std::ptrdiff_t>(len)), by.size(), true);
  };
  // A pass restarts from the first record after every replacement. Function
  // expansion can cycle (f uses g, g uses f) without growing, so both the
  // number of expansions and the intermediate length are bounded.
  const size_t kGrowthLimit = 1 << 16;
  const int kMaxExpansions = 100000;
  std::vector<int> uses(m.functions.size(), 0);
  int expansions = 0;
  for (size_t j = 0; j < m.functions.size(); ++j) {
    size_t pos;
    if (!findName(m.functions[j].name, pos)) continue;
    text.replace(pos, m.functions[j].name.size(), m.functions[j].expr);
    ++uses[j];
    if (++expansions > kMaxExpansions || text.size() > kGrowthLimit) {
      size_t worst = 0;
      for (size_t k = 1; k < uses.size(); ++k)
        if (uses[k] > uses[worst]) worst = k;
      why = "Function " + m.functions[worst].name + " refers to itself";
      return false;
    }
    j = static_cast<size_t>(-1);
  }
  put.assign(text.size(), false);
  for (size_t j = 0; j < m.frames.size(); ++j) {
    size_t pos;
    if (!findFreeName(m.frames[j].name, pos)) continue;
    replaceFinal(pos, m.frames[j].name.size(), std::to_string(j));
    j = static_cast<size_t>(-1);
  }
  for (size_t j = 0; j < m.parameters.size(); ++j) {
    size_t pos;
    if (!findFreeName(m.parameters[j].name, pos)) continue;
    replaceFinal(pos, m.parameters[j].name.size(), "P(" + std::to_string(j) + ")");
    if (text.size() > kGrowthLimit) break;
    j = static_cast<size_t>(-1);
  }
  if (text.size() > limit) {
    why = reader::format("Expression is longer than %zu characters after rewriting", limit);
    return false;
  }
  return true;
}

}  // namespace orv
