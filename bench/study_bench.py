#!/usr/bin/python3
"""A study against the same runs one after another: N runs (default 100) of
the spring-mass example, k_spring swept, as N sequential orvaldyn-batch runs
in one folder, as orvaldyn.study on a Dask LocalCluster of W worker
processes (default 2) of T threads each (default 1) and as orvaldyn.study
running W programs at a time without Dask, measured side by side in this
one run, R rounds (default 2) one after the other. Prints the wall times,
their ratio (the cluster's start-up, the workers' import of the package
with it, apart and included) and the load average before and after each
round, since the machine may be shared. On a loaded machine the wall times
say little, so it prints the processor time each side used as well (the
study's: the scheduler's process, the workers and their runs): with W idle
cores the ratio could be at most W times their quotient.

    /usr/bin/python3 bench/study_bench.py PATH/TO/orvaldyn-batch [N] [W] [T] [R]

Nothing is asserted; the runs happen in a scratch folder."""

import importlib
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, "python"))


def cpu():
    """Processor seconds of this process and of its children that have ended."""
    return sum(getattr(resource.getrusage(who), f) for who in
               (resource.RUSAGE_SELF, resource.RUSAGE_CHILDREN) for f in ("ru_utime", "ru_stime"))


def main():
    if len(sys.argv) < 2 or not os.access(sys.argv[1], os.X_OK):
        sys.exit(__doc__)
    batch = os.path.abspath(sys.argv[1])
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    w = int(sys.argv[3]) if len(sys.argv) > 3 else 2
    threads = int(sys.argv[4]) if len(sys.argv) > 4 else 1
    rounds = int(sys.argv[5]) if len(sys.argv) > 5 else 2
    for r in range(rounds):
        round_(batch, n, w, threads, r + 1)


def round_(batch, n, w, threads, r):
    os.environ["ORVALDYN_BATCH"] = batch
    import pandas as pd
    from dask.distributed import Client, LocalCluster
    import orvaldyn

    rates = [20.0 + 380.0 * i / max(n - 1, 1) for i in range(n)]
    load0 = os.getloadavg()
    with tempfile.TemporaryDirectory(prefix="orvaldyn-study-bench-") as tmp:
        work = os.path.join(tmp, "examples")
        shutil.copytree(os.path.join(TOP, "examples"), work,
                        ignore=shutil.ignore_patterns("log"))
        os.chdir(work)
        t0, c0 = time.perf_counter(), cpu()
        for i, k in enumerate(rates):
            subprocess.run([batch, "--quiet", "--set", f"k_spring={k!r}", "--output",
                            f"seq/r{i}.txt", "spring_mass.txt"], check=True,
                           stdout=subprocess.DEVNULL)
        sequential, sequential_cpu = time.perf_counter() - t0, cpu() - c0

        t0 = time.perf_counter()
        cluster = LocalCluster(n_workers=w, threads_per_worker=threads,
                               dashboard_address=":0")
        client = Client(cluster)
        # A cluster that has served a study before: the workers have
        # imported the package (NumPy with it) once and for all.
        client.run(importlib.import_module, "orvaldyn.study")
        workers0 = client.run(cpu)
        started, c0 = time.perf_counter(), cpu()
        df = orvaldyn.study("spring_mass.txt", pd.DataFrame({"k_spring": rates}),
                            client=client, out="study")
        ended, c1 = time.perf_counter(), cpu()
        workers1 = client.run(cpu)
        study_cpu = c1 - c0 + sum(workers1[a] - workers0[a] for a in workers1)
        client.close()
        cluster.close()

        # The same without Dask: W runs at a time from threads of this process.
        l0, c0 = time.perf_counter(), cpu()
        local = orvaldyn.study("spring_mass.txt", pd.DataFrame({"k_spring": rates}),
                               workers=w, out="local")
        local_wall, local_cpu = time.perf_counter() - l0, cpu() - c0
        os.chdir(TOP)
    load1 = os.getloadavg()
    assert (df["status"] == "done").all() and (local["status"] == "done").all()
    print(f"round {r}: {n} runs of spring_mass.txt, {os.cpu_count()} cores, {w} Dask "
          f"workers of {threads} thread{'s' if threads > 1 else ''}")
    print(f"sequential orvaldyn-batch: {sequential:7.2f} s")
    for what, wall in (("study (cluster running):", ended - started),
                       ("study with its start-up:", ended - t0)):
        print(f"{what:27}{wall:7.2f} s  ratio {sequential / wall:.2f}")
    print(f"{'study in local processes:':27}{local_wall:7.2f} s  ratio {sequential / local_wall:.2f}")
    print(f"processor time: sequential {sequential_cpu:.2f} s, study {study_cpu:.2f} s "
          f"({local_cpu:.2f} s in local processes); on {w} idle cores a ratio of at most "
          f"{w * sequential_cpu / study_cpu:.2f} ({w * sequential_cpu / local_cpu:.2f})")
    print("load average before: %.2f %.2f %.2f, after: %.2f %.2f %.2f" % (load0 + load1))


if __name__ == "__main__":
    main()
