// The bodies of the expression language's operators and keywords: what a
// parse or a compiled program calls once its arguments are known. Each takes
// the model, the histories and its arguments in text order.
#pragma once

#include <string_view>

namespace orv {

struct Model;
struct Kinematics;

// Keyword or operator body; a[0..n-1] are its arguments in text order.
using KeywordFn = double (*)(const Model& m, const Kinematics& kin, const double* a);

// Most arguments any keyword takes (CONTACT).
constexpr int kMaxArgs = 6;

// First parameter named `name`, 0 when there is none.
double parameterByName(const Model& m, std::string_view name);

// Index argument of a keyword: truncated toward zero. Values no int can hold
// (NaN, infinities, huge) become -1, which every table treats as absent.
int toIndex(double x);

// a[0] op a[1].
double fnAdd(const Model&, const Kinematics&, const double* a);
double fnSub(const Model&, const Kinematics&, const double* a);
double fnMul(const Model&, const Kinematics&, const double* a);
double fnDiv(const Model&, const Kinematics&, const double* a);
double fnPow(const Model&, const Kinematics&, const double* a);

// time, and the math keywords of one argument.
double fnTime(const Model&, const Kinematics& kin, const double*);
double fnSin(const Model&, const Kinematics&, const double* a);
double fnCos(const Model&, const Kinematics&, const double* a);
double fnAsin(const Model&, const Kinematics&, const double* a);
double fnAcos(const Model&, const Kinematics&, const double* a);
double fnAbs(const Model&, const Kinematics&, const double* a);
double fnSqrt(const Model&, const Kinematics&, const double* a);
// Sign; 0 for 0 and NaN, and +-1 for infinities (where x/|x| would be NaN).
double fnSgn(const Model&, const Kinematics&, const double* a);

// P(i): parameter i, 0 outside the table.
double fnParam(const Model& m, const Kinematics&, const double* a);
// SWITCH(x, a, b, c): a, b or c as x is positive, zero or negative; 0 for NaN.
double fnSwitch(const Model&, const Kinematics&, const double* a);
// CONTACT(x, x1, u, k, w, e): penetration force below x1, damping u*w.
double fnContact(const Model&, const Kinematics&, const double* a);

// The measures (expr/measures.h): D, DX/DY/DZ, V, VX/VY/VZ, WX/WY/WZ,
// A1/A2/A3 and F_JOINT. The templates exist for the axes 'x', 'y', 'z' and
// the angles '1', '2', '3'. The third argument of an angle is part of the
// written form but does not enter it.
double fnDist(const Model& m, const Kinematics& kin, const double* a);
template <char Mode>
double fnDistAxis(const Model& m, const Kinematics& kin, const double* a);
double fnVel(const Model& m, const Kinematics& kin, const double* a);
template <char Mode>
double fnVelAxis(const Model& m, const Kinematics& kin, const double* a);
template <char Mode>
double fnOmega(const Model& m, const Kinematics& kin, const double* a);
template <char Mode>
double fnAngle(const Model& m, const Kinematics& kin, const double* a);
double fnJoint(const Model& m, const Kinematics& kin, const double* a);
// TURN(i, j): the angle of j about i's z axis, counting whole turns in a run.
double fnTurn(const Model& m, const Kinematics& kin, const double* a);

}  // namespace orv
