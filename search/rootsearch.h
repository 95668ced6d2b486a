// Iterative deepening and the root search: the only search that reports a move. The root
// walks its moves in the staged order, searches each with the node search in a
// principal-variation scheme and feeds the time budget when its search is unsettled.
#pragma once
#include <cstdint>

#include "search/search.h"

extern int32_t lastIterationValue;  // value of the last completed iteration
extern int32_t singleCandidate;     // 1: only one root move was not lost in the last search
extern int32_t stableCount;         // iterations in a row that kept the best move
extern int32_t rootMovesCompleted;  // root moves fully searched by the last rootSearch call

// Searches depth 1, 2, 3 ... for side (1 or 2) to move until the budget, a stop request, a
// proven result or a stopping rule ends it; firstValue is the pre-selection's value. Leaves
// the move in bestX/bestY, rootDepth at the deepest iteration that counted, and returns
// the final value. No iteration goes deeper than maxDepth.
int32_t depthLoop(int side, int32_t firstValue, int maxDepth = MAX_PLY);

// One iteration: depth = rootDepth, window (alpha, beta), ext = 0. Returns the root value
// (0 = no result when interrupted before two root moves were searched).
int32_t rootSearch(int depth, int alpha, int beta, int side, int ext);

// The depth loop to a fixed depth with no clock and cold turn state (benchmarks, tests):
// the time settings are lifted for the search and restored afterwards. With a node budget
// the search stops exactly after that many nodes, as the clock would stop it.
int32_t fixedDepthSearch(int side, int depth, int64_t nodeBudget = 0);

// Budget feedback of the root: after the first root move's search (its value), and before
// the re-search of a later root move that beat the best so far.
void scoreDropRule(int32_t value);
void bestMoveChangeRule();
