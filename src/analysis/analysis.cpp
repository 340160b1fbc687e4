#include "analysis/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <vector>

#include "expr/evaluator.h"
#include "joints/constraints.h"
#include "joints/motions.h"
#include "model/histories.h"
#include "model/model.h"
#include "model/settings.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "dynamics/dynamics.h"
#include "dynamics/model_check.h"
#include "dynamics/start_check.h"
#include "analysis/run_limits.h"
#include "math/vec3.h"

namespace orv {

double totalEnergy(const Model& m, const Settings& s, const Histories& h, const double* Y) {
  const int nb = m.body_num();
  int axis = 0;
  double sign = 1.0;
  if (!m.gravity.empty()) {
    const std::string& d = m.gravity[0].direction;
    if (d.size() == 2 && d[0] >= 'x' && d[0] <= 'z' && (d[1] == '+' || d[1] == '-')) {
      axis = d[0] - 'x';
      sign = d[1] == '-' ? -1.0 : 1.0;
    }
  }
  double E = 0.0;
  for (int b = 0; b < nb; ++b) {
    const double mass = m.bodies[b].mass;
    if (s.energy_flag[0] == 1)
      E += mass * kGravityAcceleration * (-1.0) * sign * (m.bodies[b].cg_pos[axis] + Y[3 * b + axis]);
    if (s.energy_flag[1] == 1) {
      const double* v = &Y[3 * nb + 3 * b];
      E += 0.5 * mass * vec3Dot(v, v);
    }
    if (s.energy_flag[2] == 1) {
      double w[3], Jw[3];
      omegaFromEulerRates(w, &Y[6 * nb + 4 * b], &Y[10 * nb + 4 * b]);
      mat3MulVec(Jw, &h.inertia[9 * b], w);
      E += 0.5 * vec3Dot(w, Jw);
    }
  }
  return E;
}

namespace {

// Reallocates every history for N samples, with the console label of each.
void allocateHistories(const Model& m, Histories& h, int N) {
  const size_t n = static_cast<size_t>(N);
  const size_t nb = m.body_num(), nj = m.joint_num(), nm = m.motion_num();
  const size_t nf = m.force_num(), nc = m.contact_num(), no = m.output_num();
  auto fresh = [](auto& v, size_t size, const char* label) {
    using V = std::remove_reference_t<decltype(v)>;
    V().swap(v);  // release the old store before the new one is made
    v.assign(size, 0);
    cprintf("%s\n", label);
  };
  fresh(h.p_time, n, "p_time");
  fresh(h.p_YYY, (n + 1) * 14 * nb, "p_YYY");
  fresh(h.p_Yi, 14 * nb, "p_Yi");
  fresh(h.p_F_const_i, 6 * nj, "p_F_const_i");
  fresh(h.p_output, (n + 1) * no, "p_output");
  fresh(h.stl_cont_ti_st, n + 1, "stl_cont_ti_st");
  fresh(h.stl_cont_ti_num, n + 1, "stl_cont_ti_num");
  cprintf("Relese\n");
  fresh(h.p_C_const, (n + 10) * (nm + nj), "p_C_const");
  fresh(h.p_F_const, (n + 10) * nj * 6, "p_F_const");
  fresh(h.p_F_force, (n + 10) * nf * 6, "p_F_force");
  fresh(h.p_F_cotact, (n + 10) * nc * 6, "p_F_cotact");
  h.cont_time_index.clear();
  h.cont_position.clear();
  h.cont_value.clear();
  h.attempt_contacts.clear();
  h.accepted_contacts.clear();
  cprintf("Relese\n");
}

void evaluateOutputs(const Model& m, const ModelPrograms& progs, Histories& h, int ti) {
  const size_t no = m.output_num();
  for (size_t c = 0; c < no; ++c)
    h.p_output[static_cast<size_t>(ti) * no + c] = progs.output[c].evaluate(m, h);
}

// Samples lie at start + i D. A step that ends within this fraction of D of
// a sample time ends on it: rounding of the running time is not a step.
constexpr double kSampleTolerance = 1e-9;

void buildContactIndex(Histories& h, int N) {
  for (int k = 0; k < N; ++k) h.stl_cont_ti_num[k] = 0;
  for (int v : h.cont_time_index)
    if (v >= 0 && v < N) ++h.stl_cont_ti_num[v];
  h.stl_cont_ti_st[0] = 0;
  for (int k = 1; k < N; ++k) h.stl_cont_ti_st[k] = h.stl_cont_ti_st[k - 1] + h.stl_cont_ti_num[k - 1];
}

}  // namespace

AnalysisStatus simulate(const Model& m, const Settings& s, Histories& h, std::string& message,
                        const SimulationOptions& opt) {
  message.clear();
  if (!checkModelForAnalysis(m, message)) return AnalysisStatus::Refused;
  if (opt.store && !opt.store->ready(message)) return AnalysisStatus::Refused;
  for (const std::string& warning : contactStepWarnings(m, s)) cprintf("  %s\n", warning.c_str());
  const int nb = m.body_num();
  const int nj = m.joint_num();
  const int N = m.sample_num;
  const double D = m.d_time;
  const size_t state = 14 * static_cast<size_t>(nb);
  const size_t nj6 = 6 * static_cast<size_t>(nj);

  cprintf("mbd analysis\n");
  DynamicsWork w;
  setupDynamics(m, h, w);
  if (!checkStartOfRun(m, w, message)) return AnalysisStatus::Refused;
  cprintf("Simulation Start\n");
  try {
    allocateHistories(m, h, N);
  } catch (const std::bad_alloc&) {
    resetToInitialState(h, m);
    message = "Not enough memory to store the histories of " + std::to_string(N) + " samples";
    return AnalysisStatus::Refused;
  }
  h.result_shape = resultShapeOf(m);
  h.channel_names.clear();  // the model's output requests, not an import's channels
  h.analysis_finished = 0;
  h.anime_num = 1;
  h.current_frame = 0;
  h.constraintViolationSum = 0.0;

  double t = m.start_time;
  h.time = t;
  h.p_time[0] = t;
  cprintf("Time=%e\n", t);

  // Initial state as the model gives it, then made consistent with the
  // joints and motions; row 0 of the state history keeps the consistent one.
  std::vector<double> Y(state, 0.0);
  for (int b = 0; b < nb; ++b) {
    const double p0[4] = {1, 0, 0, 0};
    for (int k = 0; k < 3; ++k) Y[3 * nb + 3 * b + k] = m.bodies[b].vel0[k];
    for (int k = 0; k < 4; ++k) Y[6 * nb + 4 * b + k] = p0[k];
    eulerRatesFromOmega(&Y[10 * nb + 4 * b], p0, m.bodies[b].omega0);
  }
  publishKinematics(m, h, Y.data());
  initialAnalysis(m, h, w, t, Y.data());
  for (size_t i = 0; i < state; ++i) h.p_YYY[i] = Y[i];
  for (size_t k = 0; k < nj6; ++k) h.p_F_const[k] = h.p_F_const_i[k] = 0.0;
  for (int k = 0; k < nj; ++k) h.p_C_const[k] = 0.0;

  std::vector<double> Ynew(state), Ys(state), k1(state), k2(state), k3(state), k4(state);
  std::vector<int> dofs;
  bool stopped = false;
  AnalysisStatus status = AnalysisStatus::Completed;
  auto fail = [&](double when) {
    message = "The constraint equations cannot be solved at t=" + std::to_string(when) +
              " (singular or not finite); the run stops with the samples stored so far";
    cprintf("  %s\n", message.c_str());
    status = AnalysisStatus::Failed;
    stopped = true;
  };

  // The evaluation of a sample's own state: its joint reactions, violations
  // and element forces are what the result file stores and the outputs read,
  // and it is the first stage of the step that follows.
  bool haveK1 = false;
  int k1Contact = 0;
  auto evaluateSample = [&](int ti) {
    w.rateSide = RateSide::Forward;
    h.time = t;
    h.p_Yi = Y;
    h.attempt_contacts.clear();
    h.contact_flag = 0;
    w.recordRows = true;
    const bool ok = computeStateDerivative(m, s, h, w, t, Y.data(), k1.data(), dofs);
    w.recordRows = false;
    k1Contact = h.contact_flag;
    haveK1 = ok && ti < N - 1;
    // The sample's contact records are those of its own state, like its rows.
    h.accepted_contacts = h.attempt_contacts;
    if (ok && nj > 0) {
      extractJointReactions(m, w, w.lambda, &h.p_F_const[static_cast<size_t>(ti) * nj6]);
      for (size_t k = 0; k < nj6; ++k) h.p_F_const_i[k] = h.p_F_const[ti * nj6 + k];
    }
    // The outputs see the state as stored, not the evaluation's copy.
    h.time = t;
    h.p_Yi = Y;
    publishKinematics(m, h, Y.data());
    return ok;
  };
  auto storeContacts = [&]() {
    for (const ContactRecord& r : h.accepted_contacts) {
      h.cont_time_index.push_back(r.ti);
      h.cont_position.insert(h.cont_position.end(), r.pos, r.pos + 3);
      h.cont_value.insert(h.cont_value.end(), r.val, r.val + 3);
    }
    h.accepted_contacts.clear();
  };
  if (!evaluateSample(0)) fail(t);
  evaluateOutputs(m, w.programs, h, 0);
  storeContacts();
  cprintf("  Initial analysis completed\n");

  double step = D;
  int ti = 1;
  cprintf("Start integration\n");
  const double clock0 = monotonicMs();

  // A coefficient of 0 or less would retry a step with contact at h = 0
  // forever; such a run keeps d_time as the contact step instead.
  const double hc = s.contact_time_step_coefficient > 0.0 ? s.contact_time_step_coefficient * D : D;
  if (!(s.contact_time_step_coefficient > 0.0) && m.contact_num() > 0)
    cprintf("  Warning: contact_time_step_coefficient is not positive; steps with contact are not shortened\n");
  // With contact, the energy change of a step is judged against |E0|, but
  // never against less than the work of lifting every body by the model's
  // size: the zero of potential energy is wherever the origin happens to be.
  double Eref = 0.0;
  for (const Body& b : m.bodies) Eref += std::fabs(b.mass) * kGravityAcceleration * m.max_length;
  // The rules that stop a run judge against the run's energy scale, which is
  // never 0 (run_limits.h).
  RunLimits limits = startLimits(m, h, Y.data(), (N > 1 ? N - 1 : 0) * D);
  noteStep(limits, m, w, Y.data(), 0.0);
  const double Estart = totalEnergy(m, s, h, Y.data());
  auto stop = [&](const std::string& why) {
    message = why + "; the run stops with the samples stored so far";
    cprintf("  %s\n", message.c_str());
    status = AnalysisStatus::Stopped;
    stopped = true;
  };
  auto at = [](double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", v);
    return std::string(b);
  };

  while (N >= 2 && ti < N && !stopped) {
    const double target = m.start_time + ti * D;
    // Far from 0 a time is not known closer than a few of its last bits.
    const double tolT = std::max(kSampleTolerance * D,
                                 4.0 * std::fabs(target) * std::numeric_limits<double>::epsilon());
    double ratio = 0.0;
    bool onSample = false;
    for (;;) {
      h.attempt_contacts.clear();
      h.contact_flag = 0;
      // The step that would pass the next sample time ends on it; the step
      // size chosen goes on from `step` all the same.
      double hs = step, tEnd = t + step;
      onSample = tEnd >= target - tolT;
      if (onSample && std::fabs(tEnd - target) > tolT) hs = target - t, tEnd = target;
      const std::vector<double>* lastIn = &Y;  // the state the last stage was given
      // One stage: time and current state published, then f(ts, Ys) into k.
      auto stage = [&](double ts, std::vector<double>& in, std::vector<double>& k, RateSide side) {
        h.time = ts;
        h.p_Yi = in;
        w.rateSide = side;
        // A step's contact records are those of its last evaluation, the one
        // nearest the state the step ends in; the earlier stages' records
        // would repeat every contact up to four times. (contact_flag keeps
        // whatever any stage raised.)
        h.attempt_contacts.clear();
        lastIn = &in;
        return computeStateDerivative(m, s, h, w, ts, in.data(), k.data(), dofs);
      };
      auto combine = [&](double f, const std::vector<double>& k, std::vector<double>& out) {
        for (size_t i = 0; i < state; ++i) out[i] = Y[i] + f * k[i];
      };
      bool ok = true;
      if (haveK1)
        h.contact_flag = k1Contact;  // k1 is the sample's evaluation
      else
        ok = stage(t, Y, k1, RateSide::Forward);
      if (ok) combine(hs / 2, k1, Ys), ok = stage(t + hs / 2, Ys, k2, RateSide::Central);
      if (ok) combine(hs / 2, k2, Ys), ok = stage(t + hs / 2, Ys, k3, RateSide::Central);
      if (ok) combine(hs, k3, Ys), ok = stage(t + hs, Ys, k4, RateSide::Backward);
      if (!ok) {
        // A stage state whose orientations left the unit sphere is a step
        // that blew up, not a mechanism the equations cannot hold.
        double norm2 = 0.0;
        const int b = bodyOffUnitSphere(m, lastIn->data(), norm2);
        if (b >= 0)
          stop("The integration diverged in the step from t=" + at(t) + ": the orientation of body " +
               m.bodies[b].name + " left the unit sphere (|p|^2 = " + at(norm2) + ")");
        else
          fail(t);
        break;
      }
      for (size_t i = 0; i < state; ++i)
        Ynew[i] = Y[i] + (hs / 6.0) * (k1[i] + 2.0 * k2[i] + 2.0 * k3[i] + k4[i]);
      // The driven velocities of the new state are those of its own positions.
      if (m.motion_num() > 0) prescribeDrivenVelocities(m, h, w, tEnd, Ynew.data());

      const double E0 = totalEnergy(m, s, h, Y.data());
      const double E1 = totalEnergy(m, s, h, Ynew.data());
      h.last_energy = E1;
      const double dE = std::fabs(E1 - E0) / std::max(std::fabs(E0), Eref);

      bool accepted = false, retry = false;
      if (h.contact_flag == 0) {
        // The work the force elements have done is left out of this scale:
        // a run that diverges feeds it as fast as its own energy grows. The
        // scale is never smaller than the lifting work the rule always used.
        const double scale = std::max(Eref, limits.fixed + limits.drive);
        const double jump = std::fabs(E1 - E0) / std::max(std::fabs(E0), scale);
        if (jump > 10.0) {
          // Diverging without contact: keep the new state, stop the run.
          Y = Ynew;
          ratio = jump;
          stop("The energy changed by more than ten times the run's energy scale (" + at(scale) +
               " J) in the step from t=" + at(t));
          break;
        }
        accepted = true;
        step = 1.5 * step;
      } else {
        if (dE <= 0.0001) {
          accepted = true;
          step = 2.0 * step;
        } else if (step == hc) {
          accepted = true;
        } else if (step > hc && hs > hc) {
          retry = true;
          step = hc;
        } else if (step > hc) {
          // Ending on a sample made it no longer than the contact step.
          accepted = true;
          step = hc;
        }
      }
      if (step > D) step = D;
      if (E0 < s.minimum_limit_energy && E1 < s.minimum_limit_energy) {
        accepted = true;
        step = D;
      }
      if (step < hc) {
        accepted = true;
        step = 1.5 * step;
      }
      ratio = accepted ? 0.0 : 2.0 * s.Energy_variation;
      // With Energy_variation <= 0 a retry mark cannot repeat the attempt;
      // the step is then taken as it stands rather than left half-applied.
      if (accepted || !retry || !(ratio > s.Energy_variation)) {
        double speed = 0.0, bound = 0.0;
        const int fast = bodyBeyondSpeedBound(limits, m, Ynew.data(), speed, bound);
        if (h.contact_flag == 1 && E1 - Estart > 10.0 * limits.energyScale()) {
          Y = Ynew;
          stop("The energy grew in contact by more than ten times the run's energy scale (" +
               at(limits.energyScale()) + " J) in the step from t=" + at(t));
        } else if (fast >= 0) {
          Y = Ynew;
          stop("Body " + m.bodies[fast].name + " reached " + at(speed) + " m/s in the step from t=" +
               at(t) + ", more than the " + at(bound) +
               " m/s its gravity, start speeds, driven rates and force elements can give it");
        }
        if (stopped) break;
        noteStep(limits, m, w, Ynew.data(), hs);
        t = tEnd;
        Y = Ynew;
        haveK1 = false;
        break;
      }
    }
    if (stopped || !onSample) continue;

    if (!evaluateSample(ti)) {
      fail(t);
      break;
    }
    h.p_time[ti] = target;
    for (size_t i = 0; i < state; ++i) h.p_YYY[ti * state + i] = Y[i];
    evaluateOutputs(m, w.programs, h, ti);
    storeContacts();
    h.anime_num = ti + 1;
    h.current_frame = ti;
    if (ti % 10 == 0) {
      cprintf("Time=%e, h=%e, ti=%d\n", h.p_time[ti], step, ti);
      cprintf("    E_:");
      cprintf("%.3e,", h.last_energy);
      cprintf("    d_E:");
      cprintf("%.3e,", ratio);
      cprintf("\n");
      cprintf("    C_c:");
      const size_t nc = m.motion_num() + m.joint_num();
      for (size_t k = 0; k < nc; ++k) cprintf("%.3e,", h.p_C_const[ti * nc + k]);
      cprintf("\n");
    }
    ++ti;
  }

  cprintf("Simulation End\n");
  cprintf("   %lf[s]\n", (monotonicMs() - clock0) / 1000.0);
  h.analysis_finished = 1;
  if (opt.pauses) sleepMs(100);
  // Only the samples actually stored may be shown: a run that stopped early
  // has fewer than the time span asks for.
  h.anime_num = ti;
  cprintf("   anime_num=%d\n", h.anime_num);
  cprintf("   ti=%d\n", ti);
  buildContactIndex(h, N);
  if (opt.pauses) sleepMs(100);
  std::string why;
  if (opt.store && !opt.store->keep(m, h, why)) {
    // A stopped run without its samples written is a failure too.
    message = (status == AnalysisStatus::Failed ? message + "; " : std::string()) +
              "The result file could not be written: " + why;
    status = AnalysisStatus::Failed;
  }
  if (opt.pauses) sleepMs(100);
  // A run that went to its end tells of the rows it had to leave out; one
  // that was stopped says why first.
  if (status == AnalysisStatus::Completed) message = w.notice;
  if (status == AnalysisStatus::Stopped && !w.notice.empty()) message += "\n" + w.notice;
  return status;
}

}  // namespace orv
