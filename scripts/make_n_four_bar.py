#!/usr/bin/python3
"""Writes the N-four-bar benchmark model: N + 1 unit rockers pinned to the
ground 1 m apart and N unit couplers joining their tips (2N + 1 links of
1 kg, slender rods), gravity -y, the rockers upright at the start and the
first rocker's tip moving at 1 m/s along +x. Outputs: the first rocker's
tip and the energy of each link (e_NAME). The parallelogram never
deforms, so every rocker turns by the same angle t from the upright:
J t'' = K sin t with J = (N + 1)/3 + N and K = g((N + 1)/2 + N).

    make_n_four_bar.py N STEP END OUT.txt
"""
import sys


def model(n, step, end):
    rod = "1/12"  # about a centre axis across a unit rod of 1 kg
    lines = ["parameter_info  name_value", "  g_acc  9.81", "%",
             "body_info  name_cg_mass_Ixx_Iyy_Izz_vx_vy_vz_wx_wy_wz",
             "  ground  ground_cg  1  1  1  1  0 0 0  0 0 0"]
    for i in range(n + 1):
        lines.append(f"  r{i}  r{i}_cg  1  {rod}  1/12  {rod}  0.5 0 0  0 0 -1")
    for i in range(1, n + 1):
        lines.append(f"  c{i}  c{i}_cg  1  1/12  {rod}  {rod}  1 0 0  0 0 0")
    lines += ["%", "local_coordinate_info  name_body_x_y_z_a1_a2_a3",
              "  ground_cg  ground  0 0 0  0 0 0"]
    for i in range(n + 1):
        lines += [f"  g{i}  ground  {i} 0 0  0 0 0",
                  f"  r{i}_base  r{i}  {i} 0 0  0 0 0",
                  f"  r{i}_cg  r{i}  {i} 0.5 0  0 0 0",
                  f"  r{i}_tip  r{i}  {i} 1 0  0 0 0"]
    for i in range(1, n + 1):
        lines += [f"  c{i}_a  c{i}  {i - 1} 1 0  0 0 0",
                  f"  c{i}_cg  c{i}  {i - 0.5} 1 0  0 0 0",
                  f"  c{i}_b  c{i}  {i} 1 0  0 0 0"]
    lines += ["%", "joint_info  flag_name_type_i_j", "  on  fix  ground  ground_cg  non"]
    for i in range(n + 1):
        lines.append(f"  on  p{i}  revolution  r{i}_base  g{i}")
    for i in range(1, n + 1):
        lines.append(f"  on  a{i}  revolution  c{i}_a  r{i - 1}_tip")
        lines.append(f"  on  b{i}  revolution  c{i}_b  r{i}_tip")
    lines += ["%", "shape_info  name_type_frame_color_trans_sizes"]
    for i in range(n + 1):
        lines.append(f"  s_r{i}  cube  r{i}_cg  orange  1.0  0.05")
    for i in range(1, n + 1):
        lines.append(f"  s_c{i}  cube  c{i}_cg  blue  1.0  0.05")
    # The energy of every link, the zero of height at the pivots (an output
    # fits 255 characters, so one per link): each is planar, its rotation
    # WZ alone, about a centre axis (1/12).
    cgs = [f"r{i}_cg" for i in range(n + 1)] + [f"c{i}_cg" for i in range(1, n + 1)]
    lines += ["%", "output_info  name_expression",
              "  tip_x  DX(r0_tip,g0,g0)", "  tip_y  DY(r0_tip,g0,g0)"]
    lines += [f"  e_{c[:-3]}  g_acc*DY({c},g0,g0)+0.5*V({c},g0)*V({c},g0)"
              f"+0.5/12*WZ({c},g0,g0)*WZ({c},g0,g0)" for c in cgs]
    lines += ["%",
              "gravity  g  on  y-  %",
              f"simulation_time  start_step_end  0.0  {step}  {end}  %",
              "graphic_size  sizes  frame  0.2  force  0.01  %", ""]
    return "\n".join(lines)


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    n = int(sys.argv[1])
    with open(sys.argv[4], "w") as f:
        f.write(model(n, sys.argv[2], sys.argv[3]))
