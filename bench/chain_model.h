// The chain the benchmarks time: a pendulum of N links on revolution joints.
#pragma once

#include <string>

namespace orvbench {

// N links of 1 m along x, each hinged to the previous one about z; link 0
// hinged to a grounded base.
inline std::string chainModel(int n, double endTime) {
  std::string s = "parameter_info P %\nbody_info B base base_cg 1 1 1 1 0 0 0 0 0 0\n";
  for (int i = 0; i < n; ++i)
    s += "l" + std::to_string(i) + " c" + std::to_string(i) + " 1 0.01 0.1 0.1 0 0 0 0 0 0\n";
  s += "%\nframe_info F base_cg base 0 0 0 0 0 0\n";
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    s += "c" + k + " l" + k + " " + std::to_string(i + 0.5) + " 0 0 0 0 0\n";
    s += "a" + k + " l" + k + " " + std::to_string(i) + " 0 0 0 0 0\n";
    s += "b" + k + " " + (i == 0 ? std::string("base") : "l" + std::to_string(i - 1)) + " " +
         std::to_string(i) + " 0 0 0 0 0\n";
  }
  s += "%\njoint_info J on g ground base_cg non\n";
  for (int i = 0; i < n; ++i)
    s += "on h" + std::to_string(i) + " revolution a" + std::to_string(i) + " b" +
         std::to_string(i) + "\n";
  s += "%\ngravity G on y- %\nsimulation_time T 0 0.001 " + std::to_string(endTime) + " %\n";
  return s;
}

}  // namespace orvbench
