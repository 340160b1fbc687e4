#!/usr/bin/python3
"""The layer check passes on the sources and catches includes against the order."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SCRIPT = os.path.join(ROOT, "scripts", "check_layers.py")


def check(src):
    return subprocess.run([sys.executable, SCRIPT, src], capture_output=True, text=True)


class LayersTest(unittest.TestCase):
    def test_sources_follow_the_order(self):
        r = check(os.path.join(ROOT, "src"))
        self.assertEqual(r.returncode, 0, r.stdout)

    def test_planted_includes_are_named(self):
        with tempfile.TemporaryDirectory() as tmp:
            src = os.path.join(tmp, "src")
            shutil.copytree(os.path.join(ROOT, "src"), src)
            planted = [("math/vec3.h", "dynamics/dynamics.h", "above"),
                       ("view/drawing.cpp", "batch/main.cpp", "beside"),
                       ("model/model.h", "solver/old.h", "no place")]
            for where, what, _ in planted:
                with open(os.path.join(src, where), "a") as f:
                    f.write(f'#include "{what}"\n')
            r = check(src)
            self.assertEqual(r.returncode, 1)
            for where, what, kind in planted:
                line = next(l for l in r.stdout.splitlines() if where in l)
                self.assertIn(what, line)
                self.assertIn(kind, line)


if __name__ == "__main__":
    unittest.main()
