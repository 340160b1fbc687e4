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
  // Through singular positions: the multipliers by damped least squares when
  // S loses rank, and every step's positions and velocities projected back
  // onto the constraints (dynamics/projection.cpp). 0, the default, keeps the
  // plain solve, which drops the rows that depend on others at that state.
  int constraint_projection = 0;
  std::vector<Color> colors;
  int color_num() const { return static_cast<int>(colors.size()); }
};

// Colour of the first table entry named `name`; false (rgb untouched) if none.
bool lookupColor(const Settings& s, const std::string& name, double rgb[3]);

}  // namespace orv
