// Iterative deepening and the root search: the only search that reports a move. The root
// walks its moves in the staged order, searches each with the node search in a
// principal-variation scheme and feeds the time budget when its search is unsettled.
#pragma once
#include <cstdint>

#include "search/search.h"

// The main thread's depth loop on its worker's board: searches depth 1, 2, 3 ... for side
// (1 or 2) to move until the budget, a stop request, a proven result or a stopping rule ends
// it; firstValue is the pre-selection's value. Leaves the move in w.bestMove, w.rootDepth at
// the deepest iteration that counted, and returns the final value. No iteration goes deeper
// than maxDepth.
int32_t depthLoop(SearchWorker& w, int side, int32_t firstValue, int maxDepth = MAX_PLY);

// A helper thread's depth loop: no clock, iterations of its own depths, until stopped or a
// result is proven.
void helperLoop(SearchWorker& w, int side);

// One iteration: depth = w.rootDepth, window (alpha, beta), ext = 0. Returns the root value
// (0 = no result when interrupted before two root moves were searched).
int32_t rootSearch(SearchWorker& w, int depth, int alpha, int beta, int side, int ext);

// The search of g_board to a fixed depth with no clock and cold turn state (benchmarks and
// tests, which keep one thread): the time settings are lifted for the search and restored
// afterwards. With a node budget the search stops exactly after that many nodes.
int32_t fixedDepthSearch(int side, int depth, int64_t nodeBudget = 0);

// Budget feedback of the root, the main thread's only: after the first root move's search
// (its value), and before the re-search of a later root move that beat the best so far.
void scoreDropRule(SearchWorker& w, int32_t value);
void bestMoveChangeRule(SearchWorker& w);
