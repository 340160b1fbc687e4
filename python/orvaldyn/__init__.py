"""orvaldyn from Python: read result files, run analyses with other parameter
values, and run studies of many such runs on one machine or a Dask cluster."""

from .result import BodyStates, Result, ResultError, read_result
from .run import Outcome, RunError, run
from .study import METRICS, study

__all__ = ["BodyStates", "METRICS", "Outcome", "Result", "ResultError", "RunError",
           "read_result", "run", "study"]
