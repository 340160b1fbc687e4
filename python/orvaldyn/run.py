"""One analysis by orvaldyn-batch in a working directory of its own."""

import hashlib
import numbers
import os
import subprocess
import tempfile
import time

from .model import ModelInfo
from .programs import batch_program, setting_dir
from .result import read_result

RESULT = "result.txt"  # the result file's name in a run's folder
CONSOLE = "console.txt"  # what the program printed, beside it


class RunError(RuntimeError):
    """A run that was refused or failed; `status`, `message` and `console` say how."""

    def __init__(self, status, message, console=""):
        super().__init__(message)
        self.status, self.message, self.console = status, message, console


class Outcome:
    """A run: `status` (done or stopped), `message`, `result` (a Result),
    `console` (the program's standard output), `result_path` and `wall`."""


def value_text(v):
    """A parameter value as the text --set gives the program: numbers in the
    shortest form that reads back to them, texts as written."""
    if isinstance(v, str):
        return v.strip()
    if isinstance(v, numbers.Integral):
        return str(int(v))
    return repr(float(v))


def bundle(model):
    """What a run of `model` reads, as {path in its folder: bytes}: the model
    file, the meshes and images it names and setting/."""
    info = ModelInfo(model)
    files = {os.path.basename(model): info.text}
    model_dir = os.path.dirname(os.path.abspath(model))
    for name in info.files:
        rel = os.path.normpath(name)
        if os.path.isabs(rel) or rel.startswith(".."):
            continue  # found where it is, or not at all
        # As the program looks: the working directory, then beside the model.
        for base in (os.getcwd(), model_dir):
            p = os.path.join(base, rel)
            if os.path.isfile(p):
                with open(p, "rb") as f:
                    files[rel] = f.read()
                break
    sdir = setting_dir(model)
    for name in sorted(os.listdir(sdir)):
        p = os.path.join(sdir, name)
        if os.path.isfile(p):
            with open(p, "rb") as f:
                files[os.path.join("setting", name)] = f.read()
    return files


def run_key(files, params):
    """A hash of what a run reads and the values it is given: equal for runs
    that must give equal results."""
    h = hashlib.sha256()
    for name in sorted(files):
        h.update(name.encode() + b"\0" + hashlib.sha256(files[name]).digest())
    for name, text in sorted(params.items()):
        h.update(f"{name}={text}\0".encode())
    return h.hexdigest()[:16]


def _command(model_name, params, result, program):
    cmd = [program or batch_program()]
    for name, text in params.items():
        cmd += ["--set", f"{name}={text}"]
    return cmd + ["--output", result, model_name]


def write_files(files, folder):
    """Makes `folder` (must not exist) holding the files of a bundle."""
    os.makedirs(folder)
    for rel, data in files.items():
        p = os.path.join(folder, rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data)


def execute(folder, model_name, params, result=RESULT, console=CONSOLE, program=None):
    """Runs the model `model_name` of the bundle in `folder` with the value
    texts `params`, writing the result (if any) as folder/`result` and what
    it prints as folder/`console`. Returns (status, message, console text,
    wall seconds)."""
    t0 = time.perf_counter()
    # Standard output to a file, not a pipe: no loop of reads here while it runs.
    with open(os.path.join(folder, console), "wb") as out:
        p = subprocess.run(_command(model_name, params, result, program), cwd=folder,
                           stdout=out, stderr=subprocess.PIPE)
    wall = time.perf_counter() - t0
    with open(os.path.join(folder, console), "rb") as f:
        text = f.read().decode("utf-8", "replace")
    message = "\n".join(ln[len("orvaldyn-batch: "):] if ln.startswith("orvaldyn-batch: ") else ln
                        for ln in p.stderr.decode("utf-8", "replace").splitlines())
    written = os.path.exists(os.path.join(folder, result))
    # 1 covers a run refused before it started (no result) and one that
    # failed on its way (its samples so far written).
    status = {0: "done", 3: "stopped"}.get(p.returncode, "failed" if written else "refused")
    if p.returncode == 2:
        status = "refused"
    return status, message, text, wall


def run(model, params=None, workdir=None, program=None):
    """Runs `model` with the parameter values `params` ({name: value}) in
    `workdir` (a fresh folder; a temporary one that is kept when None).
    Returns an Outcome; a refused or failed run raises RunError."""
    params = {k: value_text(v) for k, v in (params or {}).items()}
    files = bundle(model)
    folder = os.path.abspath(workdir or tempfile.mkdtemp(prefix="orvaldyn-run-"))
    if workdir is None:
        os.rmdir(folder)
    name = os.path.basename(model)
    write_files(files, folder)
    status, message, console, wall = execute(folder, name, params, program=program)
    if status in ("refused", "failed"):
        raise RunError(status, message, console)
    out = Outcome()
    out.status, out.message, out.console, out.wall = status, message, console, wall
    out.result_path = os.path.join(folder, RESULT)
    out.result = read_result(out.result_path, os.path.join(folder, name), check=False)
    return out
