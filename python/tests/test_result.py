"""--set against an edited file, and read_result against the program's reader."""

import glob
import subprocess
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pandas as pd
import pytest

import orvaldyn
from conftest import BATCH


def batch(*args):
    return subprocess.run([BATCH, "--quiet", *args], capture_output=True, text=True)


def test_set_is_editing_the_file(examples):
    # A plain value, one other parameters use, one in place of an expression,
    # a contact coefficient.
    for model, name, value in [("spring_mass.txt", "k_spring", "150"),
                               ("four_bar.txt", "crank_a", "0.12"),
                               ("pendulum.txt", "I_link", "1.5e-1"),
                               ("ramp_slide.txt", "mu_cont", "0.3")]:
        text = open(model).read()
        old = next(ln for ln in text.split("\n") if ln.split()[:1] == [name])
        open("edited.txt", "w").write(text.replace(old, f"{name} {value}"))
        assert batch("--output", "edited.res", "edited.txt").returncode == 0
        run = batch("--output", "set.res", "--set", f"{name}={value}", model)
        assert run.stdout.startswith(f"{model}: done, ") and run.stdout.endswith(" set.res\n")
        assert batch("--output", "plain.res", model).returncode == 0
        set_res = open("set.res", "rb").read()
        assert set_res == open("edited.res", "rb").read() != open("plain.res", "rb").read()
    # A local coordinate reads as a parameter in expressions, but is none to set.
    with pytest.raises(orvaldyn.RunError, match="^--set anchor: spring_mass.txt has no par"):
        orvaldyn.run("spring_mass.txt", {"anchor": 1}, workdir="w")


def test_read_result_agrees_with_the_program(examples):
    models = sorted(glob.glob("*.txt"))
    with ThreadPoolExecutor(2) as pool:
        assert all(r.returncode == 0 for r in pool.map(batch, models))
    assert batch("--import-mov", "motion/double_pendulum.mov", "double_pendulum.txt").returncode == 0
    for path, model in [(f"log/result_{m}", m) for m in models] + \
            [("log/import_double_pendulum.txt", "double_pendulum.txt")]:
        # The program's reader writes what it read as CSV, to the last bit.
        assert batch("--result", path, model, "--csv", "read.csv").returncode == 0
        program = pd.read_csv("read.csv", float_precision="round_trip")
        ours = orvaldyn.read_result(path, model, as_frame=True)
        assert list(ours.columns) == list(program.columns), path
        assert np.array_equal(ours.to_numpy(), program.to_numpy(), equal_nan=True), path
    # Body states by name: the pendulum's link turns from rest, its e of unit length.
    r = orvaldyn.read_result("log/result_pendulum.txt", "pendulum.txt")
    e = r.bodies["link"].e
    assert e.shape == (len(r.time), 4) and e[0].tolist() == [1, 0, 0, 0]
    assert np.allclose(np.sum(e ** 2, axis=1), 1, atol=1e-3) and e[-1, 0] < 0.99


def test_a_file_of_another_model_is_refused_as_the_program_refuses_it(examples):
    assert batch("spring_mass.txt").returncode == 0
    program = batch("--result", "log/result_spring_mass.txt", "pendulum.txt")
    with pytest.raises(orvaldyn.ResultError) as e:
        orvaldyn.read_result("log/result_spring_mass.txt", "pendulum.txt")
    assert program.returncode == 1 and program.stderr == f"orvaldyn-batch: {e.value}\n"
    # Cut short, it is refused without a model too, naming the file.
    text = open("log/result_spring_mass.txt").read()
    open("short.txt", "w").write(text[:len(text) // 2])
    with pytest.raises(orvaldyn.ResultError, match="^short.txt: "):
        orvaldyn.read_result("short.txt")
