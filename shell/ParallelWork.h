// Work on many files at once. Each file operation waits mostly for the disk, the server
// or, under Wine, its own server process: a few at a time finish sooner, even on two cores
// (measured by the transfer benchmark).
#pragma once

#include <cstddef>
#include <functional>

// Threads for file work: more than the cores, since each mostly waits.
constexpr size_t kFileWorkThreads = 4;

// Calls `work(i)` for each i below `count`, on up to `threads` threads (the calling one
// among them; fewer for short lists), handing the i out in rising order. Once a call
// returns false no further i is handed out, and the calls already running finish. Returns
// the lowest i whose call returned false, or `count` when none did: every i below it was
// done.
size_t ForEachInParallel(size_t count, size_t threads, const std::function<bool(size_t)>& work);
