"""Reading a result file (docs/result-file.md) into NumPy arrays."""

import os
import subprocess
import tempfile
from collections import namedtuple

import numpy as np

from .model import ModelInfo
from .programs import batch_program, setting_dir

# The state of one body at every sample: displacement and velocity of its
# centre of gravity (N x 3), Euler parameters and their rates (N x 4).
BodyStates = namedtuple("BodyStates", "r v e ed")


class ResultError(ValueError):
    """A result file that cannot be read, or that was not written for the model."""


class Result:
    """One result: `time` (N), `channels` {name: N values}, `bodies` {name:
    BodyStates}, `joint_reactions` (N x nj x 6), `violations` (N x nj),
    `element_forces` (N x nf x 6) and `contacts` (the F_contact records)."""

    def frame(self):
        """The time and the output channels as a pandas DataFrame."""
        import pandas as pd
        data = {"time": self.time}
        data.update(self.channels)
        return pd.DataFrame(data)


class _Tokens:
    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        self.tok = text.lstrip("\ufeff").split()
        self.k = 0

    def fail(self, what):
        raise ResultError(f"{self.path}: {what}")

    def next(self, expected):
        if self.k >= len(self.tok):
            self.fail(f"the file ends; expected {expected}")
        t = self.tok[self.k]
        self.k += 1
        return t

    def label(self, name):
        t = self.next(f"'{name}'")
        if t != name:
            self.fail(f"found '{t}', expected '{name}'")

    def count(self, what):
        t = self.next(what)
        if not t.isdigit():
            self.fail(f"found '{t}', expected {what}")
        return int(t)

    def numbers(self, n, what):
        if self.k + n > len(self.tok):
            self.fail(f"the file ends; expected {n} values of {what}")
        try:
            v = np.array(self.tok[self.k:self.k + n], dtype=float)
        except ValueError:
            self.fail(f"expected {n} numbers in {what}")
        self.k += n
        return v

    def section(self, name, rows, unit):
        """The values of a section up to its '%' as `rows` rows of a whole
        number of `unit` values each."""
        self.label(name)
        try:
            end = self.tok.index("%", self.k)
        except ValueError:
            self.fail(f"the file ends; expected '%' closing {name}")
        n = end - self.k
        if n % rows or (n // rows) % unit:
            self.fail(f"{name} holds {n} values, not {rows} rows of a multiple of {unit}")
        v = self.numbers(n, name).reshape(rows, n // rows)
        self.label("%")
        return v


def _parse(path):
    t = _Tokens(path)
    r = Result()
    t.label("Version")
    r.version = t.next("the version text")
    t.label("%")
    r.imported_channels = None
    if t.k < len(t.tok) and t.tok[t.k] == "channels":
        t.next("channels")
        c = t.count("the number of channels")
        r.imported_channels = [t.next("a channel name") for _ in range(c)]
        t.label("%")
    t.label("time_num")
    n = t.count("the number of samples")
    if n < 1:
        t.fail("time_num is 0; expected at least 1 sample")
    t.label("%")
    r.time = t.section("time", n, 1)[:, 0]
    motion = t.section("motion", n, 14)
    f_const = t.section("F_const", n, 6)
    c_const = t.section("C_const", n, 1)
    nj = f_const.shape[1] // 6
    if c_const.shape[1] != nj:
        t.fail(f"C_const rows hold {c_const.shape[1]} values; F_const says {nj} joints")
    f_force = t.section("F_force", n, 6)
    t.label("F_contact")
    r.contacts = {}
    if t.tok[t.k:t.k + 1] != ["%"]:
        t.label("position")
        m3 = t.count("3R")
        r.contacts["position"] = t.numbers(m3, "position").reshape(-1, 3)
        t.label("value")
        if t.count("3R") != m3:
            t.fail("value does not count the records that position does")
        r.contacts["force"] = t.numbers(m3, "value").reshape(-1, 3)
        t.label("time_index")
        if t.count("R") * 3 != m3:
            t.fail("time_index does not count the records that position does")
        r.contacts["sample"] = t.numbers(m3 // 3, "time_index").astype(int)
        t.label("ti_st")
        r.contacts["first"] = t.numbers(n, "ti_st").astype(int)
        t.label("ti_num")
        r.contacts["count"] = t.numbers(n, "ti_num").astype(int)
    t.label("%")
    out = t.section("output", n, 1)
    if t.k != len(t.tok):
        t.fail(f"found '{t.tok[t.k]}' after the last section; expected the end of the file")
    nb = motion.shape[1] // 14
    r._motion = motion
    r.nb = nb
    r.joint_reactions = f_const.reshape(n, nj, 6)
    r.violations = c_const
    r.element_forces = f_force.reshape(n, -1, 6)
    r._outputs = out
    return r


def _program_check(path, model):
    """The program's own reader judges whether the file fits the model: its
    refusal is raised with its very words."""
    with tempfile.TemporaryDirectory(prefix="orvaldyn-read-") as tmp:
        os.symlink(setting_dir(model), os.path.join(tmp, "setting"))
        p = subprocess.run([batch_program(), "--quiet", "--result", os.path.abspath(path),
                            os.path.abspath(model)], cwd=tmp, capture_output=True, text=True)
    if p.returncode != 0:
        lines = [ln[len("orvaldyn-batch: "):] if ln.startswith("orvaldyn-batch: ") else ln
                 for ln in p.stderr.splitlines()]
        # Said of the paths as the caller gave them, as a run from there would.
        text = "\n".join(lines).replace(os.path.abspath(path), path)
        text = text.replace(os.path.abspath(model), model)
        raise ResultError(text or f"orvaldyn-batch exited with {p.returncode}")


def read_channels(path, names):
    """The sample times and the output channels {name: values} of a result
    file the program has just written: what a study's metrics need, read
    without the rest of the file."""
    with open(path, "rb") as f:
        text = f.read()
    start, out = text.index(b"\ntime\n") + 6, text.rindex(b"\noutput\n") + 8
    time = np.fromstring(text[start:text.index(b"%", start)], sep=" ")
    values = np.fromstring(text[out:text.rindex(b"%")], sep=" ")
    if values.size != time.size * len(names):
        raise ResultError(f"{path}: output rows hold {values.size} values, not "
                          f"{time.size} rows of {len(names)}")
    values = values.reshape(time.size, len(names))
    return time, {name: values[:, i] for i, name in enumerate(names)}


def read_result(path, model=None, as_frame=False, check=True):
    """Reads the result file at `path`. With `model` (its model file) the
    channels and bodies get their names, and a file not written for that
    model is refused (by the program's own reader unless check=False).
    Returns a Result, or with as_frame=True a DataFrame of time and channels."""
    r = _parse(path)
    info = ModelInfo(model) if model is not None else None
    if info is not None and check:
        _program_check(path, model)
    no = r._outputs.shape[1]
    if r.imported_channels is not None:
        names = r.imported_channels
    elif info is not None and len(info.outputs) == no:
        names = info.outputs
    else:
        names = [f"output{i}" for i in range(no)]
    if len(names) != no:
        raise ResultError(f"{path}: output rows hold {no} values; channels names {len(names)}")
    r.channels = {name: r._outputs[:, i] for i, name in enumerate(names)}
    bodies = info.bodies if info is not None and len(info.bodies) == r.nb else \
        [f"body{b}" for b in range(r.nb)]
    m, nb = r._motion, r.nb
    r.bodies = {name: BodyStates(m[:, 3 * b:3 * b + 3], m[:, 3 * nb + 3 * b:3 * nb + 3 * b + 3],
                                 m[:, 6 * nb + 4 * b:6 * nb + 4 * b + 4],
                                 m[:, 10 * nb + 4 * b:10 * nb + 4 * b + 4])
                for b, name in enumerate(bodies)}
    del r._motion, r._outputs
    return r.frame() if as_frame else r
