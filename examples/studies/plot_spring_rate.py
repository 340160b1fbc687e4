#!/usr/bin/python3
"""Runs the spring-rate sweep of the spring-mass example and plots how low the
mass goes and how hard the spring pulls against the spring rate: the picture
of docs/studies.md.

    /usr/bin/python3 examples/studies/plot_spring_rate.py [PICTURE.png]

Runs in a temporary copy of examples/ with the package of the source tree
(or the installed one) and the batch program it finds (ORVALDYN_BATCH)."""

import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.dirname(HERE)
# The package beside the examples: python/ in the source tree, and
# share/orvaldyn/python where they are installed.
sys.path.insert(0, os.path.abspath(os.path.join(EXAMPLES, "..", "python")))

import matplotlib  # noqa: E402
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import orvaldyn  # noqa: E402

picture = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    EXAMPLES, "..", "docs", "images", "spring_rate_study.png"))
with tempfile.TemporaryDirectory() as tmp:
    work = os.path.join(tmp, "examples")
    shutil.copytree(EXAMPLES, work, ignore=shutil.ignore_patterns("log"))
    os.chdir(work)
    df = orvaldyn.study("spring_mass.txt", "studies/spring_rate.csv", out="study")

fig, ax = plt.subplots(figsize=(6.4, 4.0), dpi=100)
ax.plot(df["k_spring"], -df["height.min"], "o-", label="lowest point below the anchor [m]")
ax.set_xlabel("spring rate k_spring [N/m]")
ax.set_ylabel("depth [m]")
ax2 = ax.twinx()
ax2.plot(df["k_spring"], df["spring_force.max"], "s--", color="tab:red",
         label="largest spring force [N]")
ax2.set_ylabel("force [N]")
ax.set_title("spring_mass.txt: a sweep of k_spring (20 runs)")
lines = ax.get_legend_handles_labels()[0] + ax2.get_legend_handles_labels()[0]
ax.legend(lines, [ln.get_label() for ln in lines], loc="center right")
ax.grid(True, alpha=0.3)
fig.tight_layout()
fig.savefig(picture)
print(f"{len(df)} runs, {sum(df['status'] == 'done')} done; {picture}")
