"""A study: one analysis per row of a table of parameter values, on a Dask
cluster or in local processes, summed up in one row per run."""

import json
import os
import shutil
import tempfile
import uuid
import zlib
from concurrent.futures import ThreadPoolExecutor, as_completed

import numpy as np

from .model import ModelInfo
from .result import read_channels
from .run import RESULT, bundle, execute, run_key, value_text


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


def run_row(files, model_name, params, metrics, program=None, place=None):
    """One run of a study, where a worker can do it: in a folder of its own,
    removed after. Returns its record, its result file (compressed; None when
    there is none or it was moved into the study's folder) and its console text.
    place = (study folder, mark file, mark): where the worker sees the mark,
    it shares the study's disk and works there, moving the result in place
    rather than sending it."""
    shared = False
    if place is not None:
        try:
            with open(os.path.join(place[0], place[1])) as f:
                shared = f.read() == place[2]
        except OSError:
            pass
    base = os.path.join(place[0], ".work") if shared else tempfile.gettempdir()
    folder = os.path.join(base, f"orvaldyn-run-{uuid.uuid4().hex}")
    try:
        status, message, console, wall = execute(files, model_name, params, folder, program)
        record = {"status": status, "message": message, "wall": wall}
        path = os.path.join(folder, RESULT)
        written = status != "refused" and os.path.exists(path)
        record["metrics"] = _metrics(path if written else None, files, model_name, metrics)
        data = None
        if written and shared:
            target = os.path.join(place[0], "runs", place[3])
            os.makedirs(target, exist_ok=True)
            os.replace(path, os.path.join(target, RESULT))
        elif written:
            with open(path, "rb") as f:
                data = zlib.compress(f.read(), 1)
        return record, data, console
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def _metrics(path, files, model_name, metrics):
    """CHANNEL.METRIC of every output channel of the result at `path` (None:
    no result), its channels named as the model names them."""
    values = {"metric names": sorted(metrics)}
    if path is None:
        return values
    time, channels = read_channels(path, ModelInfo(model_name, files[model_name]).outputs)
    for ch, v in channels.items():
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
    records = [None] * len(params)
    todo = []
    for i, key in enumerate(keys):
        folder = os.path.join(runs_dir, f"{stem}_{key}")
        try:
            with open(os.path.join(folder, "record.json")) as f:
                records[i] = json.load(f)
        except (OSError, ValueError):
            todo.append(i)
            continue
        if records[i]["metrics"].get("metric names") != sorted(fns):
            # Kept from a study that asked for other metrics: the result is
            # there, only the numbers are made again.
            result = os.path.join(folder, RESULT)
            records[i]["metrics"] = _metrics(result if os.path.exists(result) else None,
                                             files, name, fns)
    done = len(params) - len(todo)
    if progress:
        progress(done, len(params))

    def keep(i, outcome):
        record, data, console = outcome
        folder = os.path.join(runs_dir, f"{stem}_{keys[i]}")
        os.makedirs(folder, exist_ok=True)
        record["params"] = params[i]
        if data:
            _write_atomic(os.path.join(folder, RESULT), zlib.decompress(data))
        _write_atomic(os.path.join(folder, "console.txt"), console.encode())
        # Written last: its presence says the run is complete.
        _write_atomic(os.path.join(folder, "record.json"), json.dumps(record).encode())
        records[i] = record

    # One task per distinct run: rows that repeat a run share it.
    first = {}
    for i in todo:
        first.setdefault(keys[i], i)
    # A worker that sees this mark writes into `out` itself.
    mark = uuid.uuid4().hex
    mark_file = os.path.join(out, f".mark-{mark}")
    _write_atomic(mark_file, mark.encode())

    def place(i):
        return (out, os.path.basename(mark_file), mark, f"{stem}_{keys[i]}")

    if client is not None:
        futures = {client.submit(run_row, files, name, params[i], fns, program, place(i),
                                 pure=False): i
                   for i in first.values()}
        from dask.distributed import as_completed as dask_completed
        pending = dask_completed(futures)
    else:
        pool = ThreadPoolExecutor(max_workers=workers or os.cpu_count() or 1)
        futures = {pool.submit(run_row, files, name, params[i], fns, program, place(i)): i
                   for i in first.values()}
        pending = as_completed(futures)
    try:
        for fut in pending:
            try:
                keep(futures[fut], fut.result())
            except Exception as e:  # noqa: BLE001 - the row tells, the study goes on
                # Not the analysis but where it ran (no program on a worker,
                # workers killed again and again): nothing is kept, so a
                # study run again tries the row anew.
                records[futures[fut]] = {"status": "failed", "message": f"{type(e).__name__}: {e}",
                                         "wall": float("nan"), "metrics": {}}
            done += sum(1 for i in todo if keys[i] == keys[futures[fut]])
            if progress:
                progress(done, len(params))
    finally:
        if client is None:
            pool.shutdown(cancel_futures=True)
        os.remove(mark_file)  # .work/ stays: another study may be starting a run in it
    for i in todo:
        if records[i] is None:
            records[i] = records[first[keys[i]]]

    table_rows = []
    for i, rec in enumerate(records):
        row = {c: rows.iloc[i][c] for c in rows.columns}
        row.update(status=rec["status"], message=rec["message"], wall=rec["wall"],
                   run=os.path.join("runs", f"{stem}_{keys[i]}"))
        row.update((k, v) for k, v in rec["metrics"].items() if k != "metric names")
        table_rows.append(row)
    result = pd.DataFrame(table_rows)
    for c in rows.columns:  # numbers where the whole column is numbers
        try:
            result[c] = pd.to_numeric(result[c])
        except (ValueError, TypeError):
            pass
    _write_atomic(os.path.join(out, "study.csv"), result.to_csv(index=False).encode())
    return result
