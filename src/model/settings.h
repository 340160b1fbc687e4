// The values of setting/setting.txt and the colour table of
// setting/color.txt.
#pragma once

#include <string>
#include <vector>

namespace orv {

struct Color {
  std::string name;
  double rgb[3] = {0, 0, 0};
};

// How a run integrates the rotation of its bodies. FirstOrder: the Euler
// parameters p and the body-axis angular velocity w', p' = G(p)^T w' / 2 and
// Euler's equations for w'. SecondOrder: p and p' as a second-order system,
// as runs before the first-order form did (kept so that stored studies can be
// re-run as they were); fast spin loses accuracy in it.
enum class RotationIntegration { FirstOrder, SecondOrder };

// The integration method of a run. RungeKutta4: the classical explicit
// method. Implicit: a three-stage L-stable implicit one whose steps follow
// its error (implicit_step.cpp), for springs and dampers too stiff for the
// explicit step.
enum class Integrator { RungeKutta4, Implicit };

struct Settings {
  int energy_flag[3] = {0, 0, 0};  // P (potential), T (translational), R (rotational)
  double minimum_limit_energy = 0.0;
  double Energy_variation = 0.0;
  double contact_time_step_coefficient = 0.0;
  float Main_Light_Position[3] = {0, 0, 0};
  int N_THREADS = 1;
  int max_threads = 1;        // size of a default OpenMP team
  int CONTACT_ALGORITHM = 0;  // 1: "point_and_edge"
  int CONTACT_PARALLEL = 0;   // 1: "all"
  int Qt_Timer_ms = 50;
  int Force_Graphic = 1;
  int Force_Value = 1;
  RotationIntegration rotation = RotationIntegration::FirstOrder;
  // Friction (contact/detection.h): the coefficient rises from 0 at rest to
  // myu x static_friction_ratio at stiction_speed [m/s] and falls to myu at
  // sliding_speed. stiction_speed 0: myu against any sliding (the sign law).
  double stiction_speed = 1e-3;
  double static_friction_ratio = 1.0;
  double sliding_speed = 2e-3;
  Integrator integrator = Integrator::RungeKutta4;
  // The implicit method's error per step, relative to 1 + |value| of each
  // state variable.
  double implicit_tolerance = 1e-6;
  // Through singular positions: the multipliers by damped least squares when
  // S loses rank, and every step's positions and velocities projected back
  // onto the constraints (dynamics/projection.cpp). 0 keeps the plain solve,
  // which drops the rows that depend on others at that state. The setting
  // file's reader makes it 1 unless the file says otherwise.
  int constraint_projection = 0;
  // Stiction anchors (contact/contact.h, StickAnchor): a point contact that
  // sticks is held by a tangential spring of stick_stiffness x k and a damper
  // of stick_stiffness x c (k, c the contact's). 0: none, friction is the
  // law above alone.
  double stick_stiffness = 1.0;
  std::vector<Color> colors;
  int color_num() const { return static_cast<int>(colors.size()); }
};

// Colour of the first table entry named `name`; false (rgb untouched) if none.
bool lookupColor(const Settings& s, const std::string& name, double rgb[3]);

}  // namespace orv
