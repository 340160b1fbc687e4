#include "analysis/observer.h"

#include "model/histories.h"
#include "model/model.h"
#include "platform/console.h"

namespace orv {

void ConsoleObserver::sampleStored(const Model& m, const Histories& h, int ti,
                                   const RunProgress& p) {
  // Sample 0 has its own line (the initial analysis).
  if (ti == 0 || ti % 10 != 0) return;
  cprintf("Time=%e, h=%e, ti=%d\n", h.p_time[ti], p.step, ti);
  cprintf("    E_:");
  cprintf("%.3e,", p.energy);
  cprintf("    d_E:");
  cprintf("%.3e,", p.ratio);
  cprintf("\n");
  cprintf("    C_c:");
  const size_t nc = m.motion_num() + m.joint_num();
  for (size_t k = 0; k < nc; ++k) cprintf("%.3e,", h.p_C_const[ti * nc + k]);
  cprintf("\n");
}

void ConsoleObserver::message(Severity, const std::string& text) { cprintf("  %s\n", text.c_str()); }

}  // namespace orv
