#!/usr/bin/python3
"""Writes the sphere-on-plate contact benchmark into a folder: a sphere of
about 30,000 triangles dropped from just above a plate of about 29,000, with
the example settings (examples/setting), 0.1 s simulated.

    scripts/make_sphere_plate.py DIR [THREADS]

DIR gets model.txt, setting/ (the example settings, N_THREADS set to THREADS
when given) and meshes/sphere.stl, meshes/plate.stl.
"""
import math
import os
import shutil
import sys


def facet(out, a, b, c):
    u = [b[k] - a[k] for k in range(3)]
    w = [c[k] - a[k] for k in range(3)]
    n = [u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]]
    s = math.sqrt(sum(x * x for x in n)) or 1.0
    out.append("facet normal %.9g %.9g %.9g\n outer loop\n" % tuple(x / s for x in n))
    for p in (a, b, c):
        out.append("  vertex %.9g %.9g %.9g\n" % tuple(p))
    out.append(" endloop\nendfacet\n")


def sphere(radius, rings, sectors):
    """UV sphere, outward facets: 2 * sectors * (rings - 1) triangles."""
    def at(i, j):
        th = math.pi * i / rings
        ph = 2.0 * math.pi * j / sectors
        return (radius * math.sin(th) * math.cos(ph), radius * math.cos(th),
                radius * math.sin(th) * math.sin(ph))
    out = ["solid sphere\n"]
    for i in range(rings):
        for j in range(sectors):
            a, b, c, d = at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)
            if i > 0:
                facet(out, a, c, b)
            if i < rings - 1:
                facet(out, a, d, c)
    out.append("endsolid sphere\n")
    return "".join(out)


def plate(half, thick, cells):
    """A slab with its top face at y = 0 split into cells x cells squares."""
    out = ["solid plate\n"]
    h = 2.0 * half / cells
    for i in range(cells):
        for j in range(cells):
            x0, z0 = -half + i * h, -half + j * h
            a, b, c, d = (x0, 0, z0), (x0 + h, 0, z0), (x0 + h, 0, z0 + h), (x0, 0, z0 + h)
            facet(out, a, c, b)
            facet(out, a, d, c)
    lo = -thick
    corners = [(-half, -half), (half, -half), (half, half), (-half, half)]
    facet(out, (-half, lo, -half), (half, lo, -half), (half, lo, half))
    facet(out, (-half, lo, -half), (half, lo, half), (-half, lo, half))
    for k in range(4):
        (xa, za), (xb, zb) = corners[k], corners[(k + 1) % 4]
        facet(out, (xa, 0, za), (xb, 0, zb), (xb, lo, zb))
        facet(out, (xa, 0, za), (xb, lo, zb), (xa, lo, za))
    out.append("endsolid plate\n")
    return "".join(out)


MODEL = """parameter_info  name_value
  m_ball  1.0
%
body_info  name_cg_mass_Ixx_Iyy_Izz_vx_vy_vz_wx_wy_wz
  ground  ground_cg  1.0     1.0    1.0    1.0    0.0 0.0 0.0  0.0 0.0 0.0
  ball    ball_cg    m_ball  1e-3   1e-3   1e-3   0.0 0.0 0.0  0.0 0.0 0.0
%
local_coordinate_info  name_body_x_y_z_a1_a2_a3
  ground_cg  ground  0.0  0.0    0.0  0.0  0.0  0.0
  plate_top  ground  0.0  0.0    0.0  0.0  0.0  0.0
  ball_cg    ball    0.0  0.052  0.0  0.0  0.0  0.0
%
joint_info  flag_name_type_i_j
  on  fix_ground  ground  ground_cg  non
%
shape_info  name_type_frame_color_trans_sizes
  plate_mesh  STL  plate_top  silver  1.0  1.0  +  meshes/plate.stl
  ball_mesh   STL  ball_cg    orange  1.0  1.0  +  meshes/sphere.stl
%
contact_info  flag_name_i_j_k_c_d_e_mu
  on  ball_on_plate  ball_mesh  plate_mesh  1.0e5  150.0  0.005  1.0  0.3
%
output_info  name_expression
  height  DY(ball_cg,plate_top,plate_top)
%
gravity  g  on  y-  %
simulation_time  start_step_end  0.0  0.001  0.1  %
"""


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    out = sys.argv[1]
    here = os.path.dirname(os.path.abspath(__file__))
    os.makedirs(os.path.join(out, "meshes"), exist_ok=True)
    with open(os.path.join(out, "meshes", "sphere.stl"), "w") as f:
        f.write(sphere(0.05, 122, 124))
    with open(os.path.join(out, "meshes", "plate.stl"), "w") as f:
        f.write(plate(0.3, 0.02, 120))
    with open(os.path.join(out, "model.txt"), "w") as f:
        f.write(MODEL)
    setting = os.path.join(out, "setting")
    shutil.rmtree(setting, ignore_errors=True)
    shutil.copytree(os.path.join(here, "..", "examples", "setting"), setting)
    if len(sys.argv) == 3:
        path = os.path.join(setting, "setting.txt")
        with open(path) as f:
            lines = f.read().splitlines()
        lines = ["N_THREADS                      " + sys.argv[2] if l.startswith("N_THREADS") else l
                 for l in lines]
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
