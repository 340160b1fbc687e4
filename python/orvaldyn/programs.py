"""Where the batch program and the settings are."""

import os
import shutil

_HERE = os.path.dirname(os.path.abspath(__file__))


def batch_program():
    """ORVALDYN_BATCH if set; else the program installed beside this package
    (PREFIX/share/orvaldyn/python -> PREFIX/bin), a build of the source tree,
    or orvaldyn-batch on the PATH."""
    env = os.environ.get("ORVALDYN_BATCH")
    if env:
        return env
    top = os.path.dirname(os.path.dirname(_HERE))
    for p in (os.path.join(os.path.dirname(os.path.dirname(top)), "bin", "orvaldyn-batch"),
              os.path.join(top, "build-release", "src", "orvaldyn-batch"),
              os.path.join(top, "build", "src", "orvaldyn-batch")):
        if os.access(p, os.X_OK):
            return p
    found = shutil.which("orvaldyn-batch")
    if not found:
        raise FileNotFoundError("orvaldyn-batch not found: set ORVALDYN_BATCH to the program")
    return found


def setting_dir(model):
    """The setting/ folder a run of `model` reads: beside the model, else in
    the working directory."""
    for d in (os.path.dirname(os.path.abspath(model)), os.getcwd()):
        s = os.path.join(d, "setting")
        if os.path.isfile(os.path.join(s, "setting.txt")):
            return s
    raise FileNotFoundError(f"no setting/ beside {model} or in the working directory")
