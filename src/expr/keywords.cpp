#include "expr/keywords.h"

#include <cmath>

#include "expr/measures.h"
#include "model/kinematics.h"
#include "model/model.h"

namespace orv {

double parameterByName(const Model& m, std::string_view name) {
  for (const Parameter& p : m.parameters)
    if (p.name == name) return p.value;
  return 0.0;
}

int toIndex(double x) {
  if (!(x > -2147483649.0 && x < 2147483648.0)) return -1;
  return static_cast<int>(x);
}

double fnAdd(const Model&, const Kinematics&, const double* a) { return a[0] + a[1]; }
double fnSub(const Model&, const Kinematics&, const double* a) { return a[0] - a[1]; }
double fnMul(const Model&, const Kinematics&, const double* a) { return a[0] * a[1]; }
double fnDiv(const Model&, const Kinematics&, const double* a) { return a[0] / a[1]; }
double fnPow(const Model&, const Kinematics&, const double* a) { return std::pow(a[0], a[1]); }

double fnTime(const Model&, const Kinematics& kin, const double*) { return kin.time; }
double fnSin(const Model&, const Kinematics&, const double* a) { return std::sin(a[0]); }
double fnCos(const Model&, const Kinematics&, const double* a) { return std::cos(a[0]); }
double fnAsin(const Model&, const Kinematics&, const double* a) { return std::asin(a[0]); }
double fnAcos(const Model&, const Kinematics&, const double* a) { return std::acos(a[0]); }
double fnAbs(const Model&, const Kinematics&, const double* a) { return std::fabs(a[0]); }
double fnSqrt(const Model&, const Kinematics&, const double* a) { return std::sqrt(a[0]); }

double fnSgn(const Model&, const Kinematics&, const double* a) {
  return static_cast<double>((a[0] > 0.0) - (a[0] < 0.0));
}

double fnParam(const Model& m, const Kinematics&, const double* a) {
  const int n = toIndex(a[0]);
  if (n < 0 || n >= m.parameter_num()) return 0.0;
  return m.parameters[static_cast<std::size_t>(n)].value;
}

double fnSwitch(const Model&, const Kinematics&, const double* a) {
  if (a[0] > 0.0) return a[1];
  if (a[0] == 0.0) return a[2];
  if (a[0] < 0.0) return a[3];
  return 0.0;
}

double fnContact(const Model&, const Kinematics&, const double* a) {
  if (!(a[0] < a[1])) return 0.0;
  return a[3] * std::pow(a[1] - a[0], a[5]) - a[2] * a[4];
}

double fnDist(const Model& m, const Kinematics& kin, const double* a) {
  const int j = toIndex(a[1]);
  return measureDisplacement(m, kin, toIndex(a[0]), j, j, 'd');
}
template <char Mode>
double fnDistAxis(const Model& m, const Kinematics& kin, const double* a) {
  return measureDisplacement(m, kin, toIndex(a[0]), toIndex(a[1]), toIndex(a[2]), Mode);
}
double fnVel(const Model& m, const Kinematics& kin, const double* a) {
  const int j = toIndex(a[1]);
  return measureVelocity(m, kin, toIndex(a[0]), j, j, j, 'd');
}
template <char Mode>
double fnVelAxis(const Model& m, const Kinematics& kin, const double* a) {
  return measureVelocity(m, kin, toIndex(a[0]), toIndex(a[1]), toIndex(a[2]), toIndex(a[3]), Mode);
}
template <char Mode>
double fnOmega(const Model& m, const Kinematics& kin, const double* a) {
  return measureAngularVelocity(m, kin, toIndex(a[0]), toIndex(a[1]), toIndex(a[2]), Mode);
}
template <char Mode>
double fnAngle(const Model& m, const Kinematics& kin, const double* a) {
  return measureAngle(m, kin, toIndex(a[0]), toIndex(a[1]), Mode);
}
double fnTurn(const Model& m, const Kinematics& kin, const double* a) {
  return measureTurn(m, kin, toIndex(a[0]), toIndex(a[1]));
}
double fnJoint(const Model& m, const Kinematics& kin, const double* a) {
  return measureJointReaction(m, kin, toIndex(a[0]), toIndex(a[1]), toIndex(a[2]), toIndex(a[3]));
}

template double fnDistAxis<'x'>(const Model&, const Kinematics&, const double*);
template double fnDistAxis<'y'>(const Model&, const Kinematics&, const double*);
template double fnDistAxis<'z'>(const Model&, const Kinematics&, const double*);
template double fnVelAxis<'x'>(const Model&, const Kinematics&, const double*);
template double fnVelAxis<'y'>(const Model&, const Kinematics&, const double*);
template double fnVelAxis<'z'>(const Model&, const Kinematics&, const double*);
template double fnOmega<'x'>(const Model&, const Kinematics&, const double*);
template double fnOmega<'y'>(const Model&, const Kinematics&, const double*);
template double fnOmega<'z'>(const Model&, const Kinematics&, const double*);
template double fnAngle<'1'>(const Model&, const Kinematics&, const double*);
template double fnAngle<'2'>(const Model&, const Kinematics&, const double*);
template double fnAngle<'3'>(const Model&, const Kinematics&, const double*);

}  // namespace orv
