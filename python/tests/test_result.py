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


# A plain value, one that other parameters use, one that replaces an
# expression, and a contact coefficient.
@pytest.mark.parametrize("model,name,value", [
    ("spring_mass.txt", "k_spring", "150"), ("four_bar.txt", "crank_a", "0.12"),
    ("pendulum.txt", "I_link", "1.5e-1"), ("ramp_slide.txt", "mu_cont", "0.3")])
def test_set_is_editing_the_file(examples, model, name, value):
    lines = open(model).read().split("\n")
    for k, line in enumerate(lines):
        if line.split()[:1] == [name]:
            lines[k] = line.replace(line.split()[1], value, 1)
            break
    open("edited.txt", "w").write("\n".join(lines))
    assert batch("--output", "edited.res", "edited.txt").returncode == 0
    assert batch("--output", "set.res", "--set", f"{name}={value}", model).returncode == 0
    assert open("set.res", "rb").read() == open("edited.res", "rb").read()
    assert batch("--output", "plain.res", model).returncode == 0
    assert open("plain.res", "rb").read() != open("set.res", "rb").read()  # the value counts


def test_read_result_agrees_with_the_program(examples):
    models = sorted(glob.glob("*.txt"))
    with ThreadPoolExecutor(2) as pool:
        runs = list(pool.map(lambda m: batch(m), models))
    assert all(r.returncode == 0 for r in runs), [r.stderr for r in runs]
    assert batch("--import-mov", "motion/double_pendulum.mov", "double_pendulum.txt").returncode == 0
    results = [(f"log/result_{m}", m) for m in models] + \
        [("log/import_double_pendulum.txt", "double_pendulum.txt")]
    for path, model in results:
        # The program's reader writes what it read as CSV, to the last bit.
        assert batch("--result", path, model, "--csv", "read.csv").returncode == 0
        program = pd.read_csv("read.csv", float_precision="round_trip")
        ours = orvaldyn.read_result(path, model, as_frame=True)
        assert list(ours.columns) == list(program.columns), path
        assert np.array_equal(ours.to_numpy(), program.to_numpy(), equal_nan=True), path
    # Body states by name: the pendulum's link swings about z from rest.
    r = orvaldyn.read_result("log/result_pendulum.txt", "pendulum.txt")
    link = r.bodies["link"]
    assert link.e.shape == (len(r.time), 4) and link.e[0].tolist() == [1, 0, 0, 0]
    assert np.allclose(np.sum(link.e ** 2, axis=1), 1, atol=1e-3)


def test_a_file_of_another_model_is_refused_as_the_program_refuses_it(examples):
    assert batch("spring_mass.txt").returncode == 0
    program = batch("--result", "log/result_spring_mass.txt", "pendulum.txt")
    assert program.returncode == 1
    with pytest.raises(orvaldyn.ResultError) as e:
        orvaldyn.read_result("log/result_spring_mass.txt", "pendulum.txt")
    assert "orvaldyn-batch: " + str(e.value) + "\n" == program.stderr
    # Cut short, it is refused without a model too, naming the file.
    text = open("log/result_spring_mass.txt").read()
    open("short.txt", "w").write(text[:len(text) // 2])
    with pytest.raises(orvaldyn.ResultError, match="^short.txt: "):
        orvaldyn.read_result("short.txt")
