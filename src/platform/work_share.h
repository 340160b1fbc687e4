// Work shared between the calling thread and a few pooled threads, without
// waiting on threads the system does not run.
#pragma once

#include <functional>

namespace orv {

// Runs fn(c, rank) for every chunk c in [0, chunks) on the calling thread
// (rank 0) and up to threads - 1 pooled threads (ranks 1 to threads - 1), and
// returns when every chunk has run. Each thread claims a chunk whenever it is
// free, the caller from the first on and pooled threads from the last back,
// so that each runs neighbouring chunks and they meet where their speeds
// make them meet; a pooled thread that the system has not scheduled (another
// process holds the core) claims nothing and is not waited for: the caller
// runs the chunks itself. A pooled thread polls for the next job for a short
// while, yielding its core to anything that wants it, then sleeps. A job that
// kept the caller waiting for a chunk in progress longer than it took the
// caller to do its own share (a pooled thread stopped by the system while
// another process holds its core) sends the jobs of a while after it to the
// calling thread alone; that while doubles as long as it keeps happening.
// finish(rank), when given, runs on each thread that ran a chunk, after its
// last one and before the call returns: work on what that thread found,
// side by side. Calls from different threads run one at a time.
void shareWork(int threads, int chunks, const std::function<void(int, int)>& fn,
               const std::function<void(int)>& finish = {});

}  // namespace orv
