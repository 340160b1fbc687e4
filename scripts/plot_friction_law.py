#!/usr/bin/python3
"""Draws the friction coefficient against the sliding speed, as the contact
computation evaluates it (src/contact/detection.h, frictionCoefficient), into
docs/images/friction_law.png.

    scripts/plot_friction_law.py [OUT.png]

Needs Debian's python3-matplotlib (scripts/install-deps.sh).
"""
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def coefficient(v, myu, vs, ratio, vd):
    """myu(v): 0 at rest, myu*ratio at vs, myu from vd on; vs = 0: the sign law."""
    if vs <= 0.0 or v >= max(vd, vs):
        return myu if v > 1e-10 else 0.0
    myus = myu * max(1.0, ratio)
    if v < vs:
        x = v / vs
        return 0.5 * myus * x * (3.0 - x * x)
    y = (v - vs) / (vd - vs)
    return myus - (myus - myu) * y * y * (3.0 - 2.0 * y)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "docs", "images",
                                                               "friction_law.png")
    speeds = [4e-3 * k / 800 for k in range(801)]
    curves = [
        ("sign law (stiction_speed 0)", dict(vs=0.0, ratio=1.0, vd=0.0), "k:"),
        ("default: stiction_speed 1e-3", dict(vs=1e-3, ratio=1.0, vd=2e-3), "C0-"),
        ("static_friction_ratio 1.3, sliding_speed 2e-3", dict(vs=1e-3, ratio=1.3, vd=2e-3), "C1--"),
    ]
    fig, ax = plt.subplots(figsize=(7.0, 3.6), dpi=100)
    for label, p, style in curves:
        ax.plot([v * 1e3 for v in speeds], [coefficient(v, 1.0, **p) for v in speeds], style,
                label=label)
    ax.axvline(1.0, color="0.6", lw=0.8)
    ax.axvline(2.0, color="0.6", lw=0.8)
    ax.text(1.03, 1.33, "stiction_speed", color="0.4", fontsize=8)
    ax.text(2.03, 1.33, "sliding_speed", color="0.4", fontsize=8)
    ax.set_xlabel("relative speed at the contact point |u| [mm/s]")
    ax.set_ylabel("friction coefficient / myu")
    ax.set_xlim(0, 4)
    ax.set_ylim(0, 1.4)
    ax.grid(True, lw=0.3)
    ax.legend(loc="lower right", fontsize=8)
    fig.tight_layout()
    fig.savefig(out)


if __name__ == "__main__":
    main()
