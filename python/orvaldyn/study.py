"""A study: one analysis per row of a table of parameter values, on a Dask
cluster or in local processes, summed up in one row per run."""

import json
import os
import shutil
import tempfile
import uuid
import math
import queue
import zlib
from concurrent.futures import ThreadPoolExecutor

import numpy as np

from .model import ModelInfo
from .result import read_channels
from .run import CONSOLE, RESULT, bundle, execute, run_key, value_text, write_files


# The metrics of a channel by default: name -> function of (values, time).
# Named functions, so that workers get them by reference.
def final(v, t):
    return v[-1]


def rms(v, t):
    return np.sqrt(np.mean(v * v))


def _reduce(fn):
    def metric(v, t):
        return fn(v)
    return metric


METRICS = {"final": final, "min": _reduce(np.min), "max": _reduce(np.max),
           "mean": _reduce(np.mean), "rms": rms}


def _metric_functions(metrics):
    if metrics is None:
        return dict(METRICS)
    if isinstance(metrics, dict):
        return dict(metrics)
    return {name: METRICS[name] for name in metrics}


def _keep(folder, record, moved):
    """Keeps a run in its folder of the study: the files of `moved` ({name
    there: path}) moved in, then record.json, whose presence says the run
    is complete."""
    os.makedirs(folder, exist_ok=True)
    for name, path in moved.items():
        os.replace(path, os.path.join(folder, name))
    _write_atomic(os.path.join(folder, "record.json"), json.dumps(record).encode())


def run_rows(rows, files, model_name, metrics, program=None, place=None):
    """Runs of a study one after another, where a worker can do them, in one
    folder holding the model's files, removed after. rows: [(params, run
    folder name)]. Returns, per row, (record, result file compressed or None,
    console text, kept: its files are in place already). place = (study folder, mark file, mark) or None:
    where the worker sees the mark, it shares the study's disk, works there
    and keeps each run in the study's folder itself (kept True) rather than
    sending it; a run kept there already, by this task before its worker
    died, is not run again."""
    shared = False
    if place is not None:
        try:
            with open(os.path.join(place[0], place[1])) as f:
                shared = f.read() == place[2]
        except OSError:
            pass
    base = os.path.join(place[0], ".work") if shared else tempfile.gettempdir()
    folder = os.path.join(base, f"orvaldyn-run-{uuid.uuid4().hex}")
    outcomes = []
    channels = ModelInfo(model_name, files[model_name]).outputs
    try:
        write_files(files, folder)
        for params, run_name in rows:
            target = os.path.join(place[0], "runs", run_name) if shared else None
            if shared:
                try:
                    with open(os.path.join(target, "record.json")) as f:
                        outcomes.append((json.load(f), None, "", True))
                    continue
                except (OSError, ValueError):
                    pass
            run_id = uuid.uuid4().hex
            result, console_file = f"result-{run_id}.txt", f"console-{run_id}.txt"
            status, message, console, wall = execute(folder, model_name, params, result,
                                                     console_file, program)
            record = {"status": status, "message": message, "wall": wall, "params": params}
            path = os.path.join(folder, result)
            written = status != "refused" and os.path.exists(path)
            record["metrics"] = _metrics(path if written else None, channels, metrics)
            if shared:
                moved = {CONSOLE: os.path.join(folder, console_file)}
                if written:
                    moved[RESULT] = path
                _keep(target, record, moved)
                outcomes.append((record, None, "", True))
                continue
            data = None
            if written:
                with open(path, "rb") as f:
                    data = zlib.compress(f.read(), 1)
                os.remove(path)
            os.remove(os.path.join(folder, console_file))
            outcomes.append((record, data, console, False))
        return outcomes
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def _metrics(path, channels, metrics):
    """CHANNEL.METRIC of every output channel of the result at `path` (None:
    no result), its channels named as the model names them."""
    values = {"metric names": sorted(metrics)}
    if path is None:
        return values
    time, samples = read_channels(path, channels)
    for ch, v in samples.items():
        for name, fn in metrics.items():
            values[f"{ch}.{name}"] = float(fn(v, time))
    return values


def _write_atomic(path, data):
    # A reader, or another study writing the same run, sees the whole file or
    # none: the text goes to a file of its own first.
    tmp = f"{path}.{uuid.uuid4().hex}.tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


# What a task of several runs should take at least [s]: a task costs a few
# milliseconds of the scheduler's and the worker's time, a run of a small
# model hardly more.
TASK_SECONDS = 0.5


def _submit(client, args):
    # Its own small function: the client sends the source of the function
    # that submits, for the dashboard, and reads it anew for every task.
    return client.submit(run_rows, *args, pure=False)


def _read_table(table):
    import pandas as pd
    if isinstance(table, pd.DataFrame):
        return table.reset_index(drop=True)
    # As texts: a value goes to the program as the table writes it.
    return pd.read_csv(table, dtype=str, keep_default_na=False, skipinitialspace=True)


def _row_params(row):
    params = {}
    for name, v in row.items():
        text = value_text(v)
        if text != "" and text != "nan":  # an empty cell keeps the file's value
            params[str(name)] = text
    return params


def study(model, table, client=None, metrics=None, out=None, workers=None, progress=None,
          program=None):
    """Runs `model` once per row of `table` (a CSV file or a DataFrame whose
    columns are parameter names; an empty cell keeps the file's value), on
    the dask.distributed Client `client` or, without one, `workers` local
    runs at a time. Each run's result file is kept in `out`
    (runs/NAME_HASH/); a run whose folder holds a record already, for the
    same model, files and values, is not run again. Returns a DataFrame, one
    row per table row: the parameters, status (done, stopped, refused,
    failed), message, wall time [s], run (its folder) and CHANNEL.METRIC for
    every output channel and metric (default: final, min, max, mean, rms).
    `progress(done, total)` is called as runs end."""
    import pandas as pd
    rows = _read_table(table)
    fns = _metric_functions(metrics)
    files = bundle(model)
    name = os.path.basename(model)
    stem = os.path.splitext(name)[0]
    out = os.path.abspath(out or "study")
    runs_dir = os.path.join(out, "runs")
    os.makedirs(runs_dir, exist_ok=True)

    params = [_row_params(r) for _, r in rows.iterrows()]
    keys = [run_key(files, p) for p in params]
    run_names = [f"{stem}_{key}" for key in keys]
    records = [None] * len(params)
    channels = ModelInfo(name, files[name]).outputs

    def with_metrics(record, i):
        # A run kept by a study that asked for other metrics: the result is
        # there, only the numbers are made again.
        if record["metrics"].get("metric names") != sorted(fns):
            result = os.path.join(runs_dir, run_names[i], RESULT)
            record["metrics"] = _metrics(result if os.path.exists(result) else None,
                                         channels, fns)
        return record

    todo = []
    for i in range(len(params)):
        try:
            with open(os.path.join(runs_dir, run_names[i], "record.json")) as f:
                records[i] = with_metrics(json.load(f), i)
        except (OSError, ValueError):
            todo.append(i)
    done = len(params) - len(todo)
    if progress:
        progress(done, len(params))

    # One run per distinct key: rows that repeat a run share it.
    first = {}
    for i in todo:
        first.setdefault(keys[i], i)
    waiting = list(first.values())
    repeats = {i: sum(1 for j in todo if keys[j] == keys[i]) for i in waiting}
    # A worker that sees this mark writes into `out` itself.
    mark = uuid.uuid4().hex
    mark_file = os.path.join(out, f".mark-{mark}")
    _write_atomic(mark_file, mark.encode())
    place = (out, os.path.basename(mark_file), mark)

    if client is not None:
        def slots():
            info = client.scheduler_info().get("workers", {})
            return max(1, sum(w.get("nthreads", 1) for w in info.values()))
    else:
        local = workers or os.cpu_count() or 1
        pool = ThreadPoolExecutor(max_workers=local)

        def slots():
            return local
    ended = queue.Queue()
    running = {}  # future -> the rows it runs
    walls = []

    def submit(n):
        # A task runs several rows once runs are seen to be short, so that
        # the cost of a task stays small beside its runs; never so many that
        # the last tasks leave workers idle (n: the workers' threads).
        size = 1
        if walls:
            size = int(TASK_SECONDS / max(sum(walls) / len(walls), 1e-3))
        size = max(1, min(size, math.ceil(len(waiting) / (2 * n))))
        chunk, waiting[:size] = waiting[:size], []
        args = ([(params[i], run_names[i]) for i in chunk], files, name, fns, program, place)
        fut = _submit(client, args) if client is not None else pool.submit(run_rows, *args)
        running[fut] = chunk
        fut.add_done_callback(ended.put)

    try:
        while waiting or running:
            n = slots()
            while waiting and len(running) < 2 * n:
                submit(n)
            fut = ended.get()
            chunk = running.pop(fut)
            try:
                outcomes = fut.result()
            except Exception as e:  # noqa: BLE001 - the rows tell, the study goes on
                # Not the analysis but where it ran (no program on a worker,
                # workers killed again and again): nothing is kept, so a
                # study run again tries the rows anew.
                # (True: no files to keep.)
                outcomes = [({"status": "failed", "message": f"{type(e).__name__}: {e}",
                              "wall": float("nan"), "metrics": {}}, None, "", True)] * len(chunk)
            for i, (record, data, console, kept) in zip(chunk, outcomes):
                if not kept:
                    folder = os.path.join(runs_dir, run_names[i])
                    os.makedirs(folder, exist_ok=True)
                    if data:
                        _write_atomic(os.path.join(folder, RESULT), zlib.decompress(data))
                    _write_atomic(os.path.join(folder, CONSOLE), console.encode())
                    _keep(folder, record, {})
                records[i] = with_metrics(record, i) if record["metrics"] else record
                if record["wall"] == record["wall"]:  # not NaN
                    walls.append(record["wall"])
                done += repeats[i]
            if progress:
                progress(done, len(params))
    finally:
        if client is None:
            pool.shutdown(cancel_futures=True)
        else:
            for fut in running:
                fut.cancel()
        os.remove(mark_file)  # .work/ stays: another study may be starting a run in it
    for i in todo:
        if records[i] is None:
            records[i] = records[first[keys[i]]]

    table_rows = []
    for i, rec in enumerate(records):
        row = {c: rows.iloc[i][c] for c in rows.columns}
        row.update(status=rec["status"], message=rec["message"], wall=rec["wall"],
                   run=os.path.join("runs", run_names[i]))
        row.update((k, v) for k, v in rec["metrics"].items() if k != "metric names")
        table_rows.append(row)
    result = pd.DataFrame(table_rows, columns=None if table_rows else
                          [*rows.columns, "status", "message", "wall", "run"])
    for c in rows.columns:  # numbers where the whole column is numbers
        try:
            result[c] = pd.to_numeric(result[c])
        except (ValueError, TypeError):
            pass
    _write_atomic(os.path.join(out, "study.csv"), result.to_csv(index=False).encode())
    return result
