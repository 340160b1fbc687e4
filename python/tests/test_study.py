"""Studies: on a cluster as one by one, bad rows, reruns, a worker killed."""

import os
import signal
import sys
import threading
import zlib

import pandas as pd

import orvaldyn

study_module = sys.modules["orvaldyn.study"]
SWEEP = pd.DataFrame({"k_spring": [40.0 + 15 * i for i in range(12)], "c_damp": [0.5, 1, 2] * 4})


def test_a_cluster_study_equals_its_rows_run_one_by_one(examples, client):
    df = orvaldyn.study("spring_mass.txt", SWEEP, client=client, out="study")
    assert df["status"].tolist() == ["done"] * 12 and df[["k_spring", "c_damp"]].equals(SWEEP)
    for i, row in SWEEP.iterrows():
        one = orvaldyn.run("spring_mass.txt", row.to_dict(), workdir=f"one{i}")
        kept = os.path.join("study", df["run"][i], "result.txt")
        assert open(kept, "rb").read() == open(one.result_path, "rb").read()
        h = one.result.channels["height"]
        assert df["height.final"][i] == h[-1] and df["height.min"][i] == h.min()
    # A worker without the study's disk sends the result files instead.
    [(record, data, _, kept)] = study_module.run_rows(
        [({"k_spring": "40.0", "c_damp": "0.5"}, "a")],
        sys.modules["orvaldyn.run"].bundle("spring_mass.txt"), "spring_mass.txt", orvaldyn.METRICS)
    assert zlib.decompress(data) == open("one0/result.txt", "rb").read() and not kept
    assert record["metrics"]["energy.rms"] == df["energy.rms"][0]


def test_bad_rows_are_refused_and_the_rest_done_and_kept(examples):
    open("table.csv", "w").write("k_spring,c_damp\n100,1\n1OO,1\n-1e5,\n50,2\n100,1\n0x10,1\n"
                                 "1e999,1\n")
    df = orvaldyn.study("spring_mass.txt", "table.csv", out="s", workers=2)
    assert df["status"].tolist() == ["done", "refused", "stopped", "done", "done", "refused",
                                     "refused"]
    assert df["message"][1] == ("--set k_spring=1OO: expected a number\nthe parameters of "
                                "spring_mass.txt: m_mass, edge, free_len, k_spring, c_damp, g_acc")
    assert df["message"][2].startswith("the run stopped early: The energy changed")
    assert df["run"][0] == df["run"][4]  # one run for two equal rows
    # Run again, by two studies at once into the same folder: nothing is run
    # again, every file stays whole, other metrics come from the kept results.
    stamps = {r: os.stat(os.path.join("s", r, "record.json")).st_mtime_ns for r in df["run"]}
    again = []
    threads = [threading.Thread(target=lambda: again.append(orvaldyn.study(
        "spring_mass.txt", "table.csv", out="s", workers=2, metrics=["max"]))) for _ in range(2)]
    [t.start() for t in threads]
    [t.join() for t in threads]
    for d in again:
        assert d[["status", "message", "run"]].equals(df[["status", "message", "run"]])
        assert d["height.max"].equals(df["height.max"]) and "height.min" not in d
    assert stamps == {r: os.stat(os.path.join("s", r, "record.json")).st_mtime_ns
                      for r in df["run"]}
    assert pd.read_csv("s/study.csv")["status"].tolist() == df["status"].tolist()


def test_a_worker_killed_mid_study_loses_no_row(examples, client):
    pid, killed = next(iter(client.run(os.getpid).values())), []

    def kill_one(done, total):
        if done >= 2 and not killed:
            killed.append(os.kill(pid, signal.SIGKILL))

    df = orvaldyn.study("spring_mass.txt", SWEEP, client=client, out="killed", progress=kill_one)
    assert killed and df["status"].tolist() == ["done"] * 12
    client.wait_for_workers(2)  # the nanny's new worker, before the cluster closes
