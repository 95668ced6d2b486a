// Iterative deepening and the root search: the only search that reports a move. The root
// walks its moves in the staged order, searches each with the node search in a
// principal-variation scheme and feeds the time budget when its search is unsettled.
#pragma once
#include <cstdint>

#include "search/search.h"

extern int32_t lastIterationValue;  // value of the last completed iteration
extern int32_t singleCandidate;     // 1: only one root move was not lost in the last search
extern int32_t stableCount;         // iterations in a row that kept the best move

// Searches depth 1, 2, 3 ... for side (1 or 2) to move until the budget, a stop request, a
// proven result or a stopping rule ends it; firstValue is the pre-selection's value. Leaves
// the move in bestX/bestY, rootDepth at the deepest iteration that counted, and returns
// the final value. No iteration goes deeper than maxDepth.
int32_t depthLoop(int side, int32_t firstValue, int maxDepth = MAX_PLY);

// One iteration: depth = rootDepth, window (alpha, beta), ext = 0. Returns the root value
// (0 = no result when interrupted before two root moves were searched).
int32_t rootSearch(int depth, int alpha, int beta, int side, int ext);
