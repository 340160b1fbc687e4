#!/usr/bin/python3
"""The N-four-bar benchmark against its exact motion: writes the model
(scripts/make_n_four_bar.py), runs it with orvaldyn-batch in a folder of its
own with the settings of examples/setting (constraint_projection as given),
and compares every sample with a fine fourth-order solution of
J t'' = K sin t, J = (N + 1)/3 + N, K = g((N + 1)/2 + N), t'(0) = 1.

    n_four_bar.py BATCH N STEP END [on|off] [runge_kutta4|implicit]

Prints the largest tip error [m], the largest energy change (J and relative
to the start), redundancy reports, how the run ended and its CPU time, and
exits 1 when the tip strays by more than 1e-3 m, the energy by more than 1e-3
of its start, the run ends early or a row is reported redundant during it.
"""
import csv
import math
import os
import resource
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
G = 9.81


def exact(n, times):
    """(x, y) of the first rocker's tip at the sample times."""
    J = (n + 1) / 3 + n
    K = G * ((n + 1) / 2 + n)

    def f(th, om):
        return om, K / J * math.sin(th)

    out, th, om, t = [], 0.0, 1.0, 0.0
    for target in times:
        while t < target - 1e-12:
            h = min(1e-4, target - t)
            a1, b1 = f(th, om)
            a2, b2 = f(th + h / 2 * a1, om + h / 2 * b1)
            a3, b3 = f(th + h / 2 * a2, om + h / 2 * b2)
            a4, b4 = f(th + h * a3, om + h * b3)
            th += h / 6 * (a1 + 2 * a2 + 2 * a3 + a4)
            om += h / 6 * (b1 + 2 * b2 + 2 * b3 + b4)
            t += h
        out.append((math.sin(th), math.cos(th)))
    return out


def main():
    if len(sys.argv) not in (5, 6, 7):
        sys.exit(__doc__)
    batch, n, step, end = os.path.abspath(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
    mode = sys.argv[5] if len(sys.argv) >= 6 else "on"
    integrator = sys.argv[6] if len(sys.argv) == 7 else "runge_kutta4"
    work = tempfile.mkdtemp()
    try:
        shutil.copytree(os.path.join(HERE, "..", "examples", "setting"), os.path.join(work, "setting"))
        path = os.path.join(work, "setting", "setting.txt")
        with open(path) as f:
            kept = [l for l in f if not l.startswith(("constraint_projection", "INTEGRATOR"))]
        with open(path, "w") as f:
            f.writelines(kept + [f"constraint_projection          {mode}\n",
                                 f"INTEGRATOR                     {integrator}\n"])
        model = os.path.join(work, "nfb.txt")
        subprocess.run([sys.executable, os.path.join(HERE, "..", "scripts", "make_n_four_bar.py"),
                        str(n), step, end, model], check=True)
        before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_utime
        run = subprocess.run([batch, "--csv", "out.csv", "nfb.txt"], cwd=work,
                             capture_output=True, text=True)
        cpu = resource.getrusage(resource.RUSAGE_CHILDREN).ru_utime - before
        with open(os.path.join(work, "out.csv")) as f:
            rows = list(csv.reader(f))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    head, data = rows[0], [[float(v) for v in r] for r in rows[1:]]
    ix, iy = head.index("tip_x"), head.index("tip_y")
    energy = [sum(r[3:]) for r in data]
    ref = exact(n, [r[0] for r in data])
    tip = max(math.hypot(r[ix] - x, r[iy] - y) for r, (x, y) in zip(data, ref))
    drift = max(abs(e - energy[0]) for e in energy)
    lines = run.stdout.splitlines()
    redundant = [l for l in lines if l.startswith("Redundant constraints at")]
    reached = data[-1][0]
    print(f"N={n} h={step} end={end} projection={mode} {integrator}: reached t={reached:g}, "
          f"tip error {tip:.3e} m, energy drift {drift:.3e} J ({drift / abs(energy[0]):.3e} of "
          f"{energy[0]:.4g} J), {len(redundant)} redundancy reports during the run, "
          f"CPU {cpu:.2f} s ({cpu / max(reached, 1e-9):.3f} s per simulated second)")
    for l in redundant[:3]:
        print("  " + l)
    ok = (tip <= 1e-3 and drift <= 1e-3 * abs(energy[0]) and not redundant
          and abs(reached - float(end)) < 1e-9)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
