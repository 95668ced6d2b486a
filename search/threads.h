// The search threads: one worker record per thread, the main thread's first. A search runs
// the main thread's depth loop with the clock and, beside it, helper threads on their own
// copies of the board that fill the shared hash tables (lazy SMP): the main thread decides.
#pragma once
#include <cstdint>

#include "search/search.h"

constexpr int MAX_THREADS = 64;

// The most search threads the machine gives work to: its hardware threads, 1 to MAX_THREADS.
int maxThreadCount();

// The main thread's worker (index 0); it always exists.
SearchWorker& mainWorker();
// Threads the next search uses, clamped to 1 .. maxThreadCount(); workers are made here.
// Returns the count in force.
int setSearchThreads(int count);
int searchThreads();
// Bytes one more worker takes.
constexpr uint64_t WORKER_BYTES = sizeof(SearchWorker);

// Zeroes the per-ply marks, killers and depths of every worker (a new board invalidates them).
void resetAllSearchState();

// What a search may do beyond the clock: its depth, the main thread's nodes, the root moves
// it leaves out (every thread honours them).
struct SearchLimits {
    int32_t maxDepth = MAX_PLY;
    int64_t maxNodes = 0;  // 0: none; exact with one thread
    int32_t excludedCount = 0;
    int32_t excluded[MAX_STONES];
};

// Searches the position on g_board for side to move with every search thread: the main
// thread runs depthLoop(firstValue, limits.maxDepth) under the clock and the turn's budget,
// the helpers run until it ends. Returns the main thread's value; its move is in
// mainWorker().bestMove. Every worker's node count starts at 0.
int32_t parallelSearch(int side, int32_t firstValue, const SearchLimits& limits);
// Nodes of the last search, all threads together.
int64_t searchNodes();
// The same while the search runs, for the main thread: helpers' counts as last published.
int64_t liveSearchNodes();

// Bytes the hash tables may take when the whole process must stay within limit bytes with
// the given number of search threads: the limit less the fixed tables, every worker and its
// stack, the program itself and a safety margin; 0 when nothing is left.
uint64_t hashTableAllowance(uint64_t limit, int threads);
