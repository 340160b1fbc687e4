// Constants every computation shares.
#pragma once

namespace orv {

// Every degree/radian conversion uses this ten-decimal value, not M_PI, so
// that results match stored files computed with it.
constexpr double kPi = 3.1415926535;
constexpr double kGravityAcceleration = 9.81;

constexpr double degToRad(double deg) { return deg / 180.0 * kPi; }
constexpr double radToDeg(double rad) { return rad / kPi * 180.0; }

}  // namespace orv
