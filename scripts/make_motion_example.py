#!/usr/bin/env python3
"""Makes a motion set (header.txt, NAME.mov, NAME.jnt) from a result file of
our own analysis, so that importing it with the model shows the same motion.

    scripts/make_motion_example.py [--model examples/double_pendulum.txt]
        [--result RESULTFILE] [--out examples/motion] [--stride 4]
        [--batch build/src/orvaldyn-batch]

With --batch the analysis is run first (in the model's directory, where the
settings are). The result file defaults to <model dir>/log/result_<model file>.

One node per body, named after it, tracks the body's centre of gravity:
  dx dy dz         displacement of the centre of gravity (the state's r)
  euler_x/y/z      Rx Ry Rz angles in degrees of the rotation from the initial
                   orientation, so sample 0 has zero angles
  vx vy vz         velocity of the centre of gravity
  wx wy wz         angular velocity in global axes
Joint rows: force and torque in body-i axes, then in global axes, then the
extra values of the type (written as 0). The analysis keeps the force in
global axes and the torque in body-i axes; the other two are rotated with
the body's Euler parameters.

Standard library only.
"""

import argparse
import math
import os
import subprocess
import sys

# The degree conversion of the program: the import turns degrees back into
# radians with the same value.
PI = 3.1415926535

JOINT_COLUMNS = {
    "ground": 12, "sphere": 18, "revolution": 18, "revolution_": 19, "cylinder": 18,
    "translation": 18, "fix": 18, "in_line": 12, "prismatic": 12,
}


def fail(msg):
    sys.exit("make_motion_example: " + msg)


def read_model(path):
    """Body names, and per joint (name, type, index of body i or -1), in table order."""
    with open(path) as f:
        tokens = f.read().split()
    sections = {}
    i = 0
    while i < len(tokens):
        key = tokens[i]
        i += 2  # keyword and its label word
        rows = []
        while i < len(tokens) and tokens[i] != "%":
            rows.append(tokens[i])
            i += 1
        i += 1
        sections[key] = rows

    def rows_of(key, width):
        toks = sections.get(key, [])
        if len(toks) % width:
            fail("%s: section %s does not split into rows of %d" % (path, key, width))
        return [toks[k:k + width] for k in range(0, len(toks), width)]

    bodies = [r[0] for r in rows_of("body_info", 12)]
    span = sections.get("simulation_time", [])
    try:
        start_time, d_time = float(span[0]), float(span[1])
    except (IndexError, ValueError):
        fail("%s: simulation_time must give plain numbers" % path)
    if not d_time > 0:
        fail("%s: the output interval must be positive" % path)
    frames = rows_of("frame_info", 8) or rows_of("local_coordinate_info", 8)

    def last(names, name):
        found = -1
        for k, n in enumerate(names):
            if n == name:
                found = k
        return found

    frame_body = {}
    for name, body, *_ in frames:
        frame_body[name] = last(bodies, body)  # the last frame of a name wins
    joints = []
    for _flag, name, jtype, iframe, _jframe in rows_of("joint_info", 5):
        if jtype not in JOINT_COLUMNS:
            fail("joint %s has type %s, which has no joint-force row" % (name, jtype))
        joints.append((name, jtype, frame_body.get(iframe, -1)))
    return bodies, joints, start_time, d_time


def read_result(path, nb, nj):
    """Times, state rows (14 nb) and reaction rows (6 nj) of a result file."""
    with open(path) as f:
        tokens = f.read().split()
    pos = {}
    for k, t in enumerate(tokens):
        if t in ("time_num", "time", "motion", "F_const") and k > 0 and tokens[k - 1] == "%":
            pos.setdefault(t, k + 1)
    if len(pos) != 4:
        fail("%s: not a result file" % path)
    n = int(tokens[pos["time_num"]])

    def rows(key, width):
        start = pos[key]
        vals = [float(x) for x in tokens[start:start + n * width]]
        if len(vals) != n * width:
            fail("%s: section %s is short" % (path, key))
        return [vals[k * width:(k + 1) * width] for k in range(n)]

    return ([r[0] for r in rows("time", 1)], rows("motion", 14 * nb),
            rows("F_const", 6 * nj) if nj else [[] for _ in range(n)])


def matrix(p):
    """A(p), row-major, of Euler parameters (e0, e1, e2, e3)."""
    e0, e1, e2, e3 = p
    return [
        2 * (e0 * e0 + e1 * e1) - 1, 2 * (e1 * e2 - e0 * e3), 2 * (e1 * e3 + e0 * e2),
        2 * (e1 * e2 + e0 * e3), 2 * (e0 * e0 + e2 * e2) - 1, 2 * (e2 * e3 - e0 * e1),
        2 * (e1 * e3 - e0 * e2), 2 * (e2 * e3 + e0 * e1), 2 * (e0 * e0 + e3 * e3) - 1,
    ]


def mul(A, v):
    return [A[3 * i] * v[0] + A[3 * i + 1] * v[1] + A[3 * i + 2] * v[2] for i in range(3)]


def mul_t(A, v):
    return [A[i] * v[0] + A[3 + i] * v[1] + A[6 + i] * v[2] for i in range(3)]


def angles_xyz(A):
    """(a, b, c) in degrees with A = Rx(a) Ry(b) Rz(c)."""
    b = math.asin(max(-1.0, min(1.0, A[2])))
    if math.hypot(A[0], A[1]) > 1e-12:
        a = math.atan2(-A[5], A[8])
        c = math.atan2(-A[1], A[0])
    else:  # gimbal lock: only a +- c is defined, all of it goes to a
        a = math.atan2(A[7], A[4])
        c = 0.0
    return [x / PI * 180.0 for x in (a, b, c)]


def normalised(p):
    n = math.sqrt(sum(x * x for x in p))
    return [x / n for x in p] if n > 0 else [1.0, 0.0, 0.0, 0.0]


def fmt(values):
    return " ".join("%.9g" % v for v in values)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--model", default="examples/double_pendulum.txt")
    ap.add_argument("--result")
    ap.add_argument("--out", default="examples/motion")
    ap.add_argument("--stride", type=int, default=4, help="keep every n-th sample")
    ap.add_argument("--batch", help="orvaldyn-batch to run the analysis with first")
    args = ap.parse_args()
    if args.stride < 1:
        fail("--stride must be at least 1")

    model = os.path.abspath(args.model)
    mdir, mfile = os.path.split(model)
    if args.batch:
        subprocess.run([os.path.abspath(args.batch), model], cwd=mdir, check=True,
                       stdout=subprocess.DEVNULL)
    result = args.result or os.path.join(mdir, "log", "result_" + mfile)

    bodies, joints, start_time, d_time = read_model(model)
    nb, nj = len(bodies), len(joints)
    times, states, reactions = read_result(result, nb, nj)
    keep = list(range(0, len(times), args.stride))
    if not keep:
        fail("%s: no samples" % result)

    # The import recomputes the times as t0 + k dt: take the model's output
    # interval rather than the stored times (seven digits, and a sample may
    # land a hair after its nominal time), and an end time that gives exactly
    # the kept count under trunc((t_end - t0) / dt) + 1.
    t0 = start_time
    dt = d_time * args.stride
    n = len(keep)
    t_end = t0 + (n - 1) * dt
    for _ in range(100):
        if int((t_end - t0) / dt) + 1 == n:
            break
        t_end += dt * 1e-9
    else:
        fail("no end time gives %d samples" % n)

    name = os.path.splitext(mfile)[0]
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "header.txt"), "w") as f:
        f.write("time %s %s %s\n" % (repr(t0), repr(dt), repr(t_end)))
        f.write("node_num %d\n" % nb)
        f.write("node_column %s\n" % " ".join("12" for _ in bodies))
        f.write("node_name %s\n" % " ".join(bodies))
        f.write("cg_node_index %s\n" % " ".join(str(b + 1) for b in range(nb)))

    rotations = []  # per kept sample, A(p) of every body
    with open(os.path.join(args.out, name + ".mov"), "w") as f:
        for k in keep:
            Y = states[k]
            mats = []
            for b in range(nb):
                p = normalised(Y[6 * nb + 4 * b:6 * nb + 4 * b + 4])
                pd = Y[10 * nb + 4 * b:10 * nb + 4 * b + 4]
                A = matrix(p)
                mats.append(A)
                e0, e1, e2, e3 = p
                # Body-axis angular velocity 2 G(p) p_dot, then in global axes.
                w_body = [
                    2 * (-e1 * pd[0] + e0 * pd[1] + e3 * pd[2] - e2 * pd[3]),
                    2 * (-e2 * pd[0] - e3 * pd[1] + e0 * pd[2] + e1 * pd[3]),
                    2 * (-e3 * pd[0] + e2 * pd[1] - e1 * pd[2] + e0 * pd[3]),
                ]
                row = (Y[3 * b:3 * b + 3] + angles_xyz(A) + Y[3 * nb + 3 * b:3 * nb + 3 * b + 3]
                       + mul(A, w_body))
                f.write("%d %s\n" % (b + 1, fmt(row)))
            rotations.append(mats)

    with open(os.path.join(args.out, name + ".jnt"), "w") as f:
        for s, k in enumerate(keep):
            R = reactions[k]
            for j, (_name, jtype, ib) in enumerate(joints):
                force, torque_i = R[6 * j:6 * j + 3], R[6 * j + 3:6 * j + 6]
                A = rotations[s][ib] if ib >= 0 else [1, 0, 0, 0, 1, 0, 0, 0, 1]
                row = mul_t(A, force) + torque_i + force + mul(A, torque_i)
                row += [0.0] * (JOINT_COLUMNS[jtype] - 12)
                f.write("%d %s\n" % (j + 1, fmt(row)))

    print("%s: %d samples, %d nodes, %d joints" % (args.out, n, nb, nj))


if __name__ == "__main__":
    main()
