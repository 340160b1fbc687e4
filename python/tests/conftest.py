"""What the tests of the Python package share: the package from the source
tree, the batch program (ORVALDYN_BATCH, which CTest sets), fresh copies of
the examples and one Dask cluster of two local worker processes."""

import os
import shutil
import sys

import pytest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "python"))

from orvaldyn.programs import batch_program  # noqa: E402

BATCH = batch_program()
EXAMPLES = os.path.join(TOP, "examples")


@pytest.fixture
def examples(tmp_path):
    """A copy of examples/ without its results, as the working directory."""
    d = tmp_path / "examples"
    shutil.copytree(EXAMPLES, d, ignore=shutil.ignore_patterns("log"))
    old = os.getcwd()
    os.chdir(d)
    yield d
    os.chdir(old)


@pytest.fixture(scope="module")
def client():
    from dask.distributed import Client, LocalCluster
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                           dashboard_address=":0")
    c = Client(cluster)
    yield c
    c.close()
    cluster.close()
