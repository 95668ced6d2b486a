// The time budget of a move and the stop protocol of the searches: the depth loop checks
// the budget between iterations, the searches every 1024 nodes.
#pragma once
#include <atomic>
#include <cstdint>

#include "search/search.h"

// Written by INFO on the main thread at any time, read by the search without a lock.
using Setting = std::atomic<int32_t>;
extern Setting timeoutTurn;  // milliseconds; upper bound of a move's budget
extern Setting timeLeft;     // milliseconds; base of a move's budget

extern std::atomic<int32_t> stopRequested;  // above 0: the main thread wants the search to end
// Set by the main search thread when its depth loop has ended: the helpers stop too.
extern std::atomic<int32_t> helpersStop;

// The turn's clock: set before a search and afterwards written only by the main search thread.
extern int32_t timeLimit;        // budget of the current move, milliseconds
extern int32_t searchStartTime;  // clock value when the current search began
// In units of 1024 nodes; no command changes it (benchmarks and tests stop searches by it).
extern int32_t nodeLimit;
// Budget factors: a large previous value, a first root move scoring below the previous
// iteration, a change of best move; each adds a 32nd of the time left to the base 16th.
extern int32_t largeValue;
extern int32_t scoreDropped;
extern int32_t extensionFlag;
extern bool plentyOfTime;  // the time left per free square covers the budget; sticky per turn
// Set before a search that has no time limit (analysis): it runs until a stop request, a
// limit of depth or nodes, or a proven result.
extern bool unlimitedTime;

// Wall-clock milliseconds since the process started, from a monotonic clock.
int32_t clockMs();

// min(timeLeft x (2 + the three factors) / 32, timeoutTurn), in 64-bit arithmetic; INT32_MAX
// with unlimitedTime.
int32_t budgetFormula();
// Sets timeLimit from the formula and plentyOfTime from the free squares left after
// movesPlayed moves.
void computeTimeLimit(int movesPlayed);

// A fresh budget for a search after movesPlayed moves, starting now: the budget factors and
// the main thread's stable-move count cleared, timeLimit and plentyOfTime computed.
void startSearchClock(SearchWorker& main, int movesPlayed);

// The check the searches run every 1024 nodes: true means stop (w.abort is then set). The
// main thread checks the clock and its node limit, a helper only whether it must stop (and
// publishes its node count).
bool stopCheck(SearchWorker& w);

// Node entry of every search: counts the node and, every 1024 nodes, runs the stop check.
inline bool countNodeAndStop(SearchWorker& w) { return (++w.nodeCount & 1023) == 0 && stopCheck(w); }
