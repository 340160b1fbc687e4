#!/usr/bin/python3
"""Says by how much two result files differ: the largest absolute difference
of each section's values (motion, F_const, C_const, F_force, output) over the
sample times both hold, so that a run at half the step can be set against one
at the step; and of each output channel. An output difference within 1e-3 of
360 (an angle in degrees that wrapped at +-180 in one run only) counts as its
remainder. Contact records are compared by their count only.

    scripts/result_differences.py RESULT_A RESULT_B
"""
import sys

import numpy as np

SECTIONS = ("motion", "F_const", "C_const", "F_force", "output")


def load(path):
    sec, cur = {}, None
    for tok in open(path).read().split():
        if cur is None and tok in ("time_num", "time", "F_contact") + SECTIONS:
            cur = tok
            sec[cur] = []
        elif tok == "%" and cur is not None:
            cur = None
        elif cur is not None:
            sec[cur].append(tok)
    n = int(sec["time_num"][0])
    rows = {k: np.array(sec[k], float).reshape(n, -1) for k in SECTIONS if sec.get(k)}
    return np.array(sec["time"], float), rows, len(sec.get("F_contact", []))


def main(a, b):
    ta, ra, ca = load(a)
    tb, rb, cb = load(b)
    at = {round(t, 9): i for i, t in enumerate(ta)}
    pairs = [(at[round(t, 9)], j) for j, t in enumerate(tb) if round(t, 9) in at]
    ia, ib = (np.array(x, int) for x in zip(*pairs))
    print(f"{len(pairs)} common samples")
    for k in SECTIONS:
        if k not in ra or k not in rb:
            continue
        d = np.abs(ra[k][ia] - rb[k][ib])
        if k == "output":
            d = np.where(np.abs(d - 360.0) < 1e-3, np.abs(d - 360.0), d)
        print(f"{k:8s} max |difference| {d.max():.3g}  (max |value| {np.abs(ra[k]).max():.3g})")
        if k == "output":
            print("         by channel: " + " ".join(f"{x:.2g}" for x in d.max(axis=0)))
    if ca != cb:
        print(f"F_contact: {ca} and {cb} tokens")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
