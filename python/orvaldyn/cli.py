"""orvaldyn-study MODEL TABLE.csv [--scheduler ADDRESS] [--workers N] [--out DIR]"""

import argparse
import sys
import time


def _bar(out):
    t0 = time.perf_counter()

    def show(done, total):
        width = 30
        full = width * done // max(total, 1)
        out.write(f"\r[{'#' * full}{'.' * (width - full)}] {done}/{total} runs, "
                  f"{time.perf_counter() - t0:.1f} s")
        if done == total:
            out.write("\n")
        out.flush()
    return show


def main(argv=None):
    p = argparse.ArgumentParser(
        prog="orvaldyn-study",
        description="Runs MODEL once per row of TABLE.csv (columns: parameter names) and "
                    "writes OUT/study.csv, one row per run.")
    p.add_argument("model")
    p.add_argument("table")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="a Dask scheduler (tcp://HOST:8786) whose workers run the analyses")
    p.add_argument("--workers", type=int, metavar="N",
                   help="without --scheduler: N runs at a time on this machine "
                        "(default: one per core)")
    p.add_argument("--out", default="study", metavar="DIR",
                   help="the folder of study.csv and runs/ (default: study)")
    a = p.parse_args(argv)

    from . import study
    client = None
    try:
        if a.scheduler:
            from dask.distributed import Client
            client = Client(a.scheduler)
        df = study(a.model, a.table, client=client, out=a.out, workers=a.workers,
                   progress=_bar(sys.stderr))
    except (OSError, ValueError, KeyError) as e:
        print(f"orvaldyn-study: {e}", file=sys.stderr)
        return 1
    finally:
        if client is not None:
            client.close()
    counts = df["status"].value_counts()
    print(f"{len(df)} runs: " + ", ".join(f"{counts.get(s, 0)} {s}" for s in
                                         ("done", "stopped", "refused", "failed")) +
          f"; {a.out}/study.csv")
    return 0 if counts.get("done", 0) + counts.get("stopped", 0) == len(df) else 1


if __name__ == "__main__":
    sys.exit(main())
