"""The package from the source tree, the batch program (ORVALDYN_BATCH, which
CTest sets), a fresh copy of examples/ as working directory, one Dask cluster
of two local worker processes."""

import os
import shutil
import sys

import pytest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "python"))

from orvaldyn.programs import batch_program  # noqa: E402

BATCH = batch_program()


@pytest.fixture
def examples(tmp_path, monkeypatch):
    shutil.copytree(os.path.join(TOP, "examples"), tmp_path / "ex",
                    ignore=shutil.ignore_patterns("log"))
    monkeypatch.chdir(tmp_path / "ex")


@pytest.fixture(scope="module")
def client():
    from dask.distributed import Client, LocalCluster
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=":0") as cluster, \
            Client(cluster) as c:
        yield c
