#include "search/rootsearch.h"

#include <algorithm>
#include <cstdlib>

#include "board/board.h"
#include "search/candidates.h"
#include "search/hashtable.h"
#include "search/nodesearch.h"
#include "search/report.h"
#include "search/threads.h"
#include "search/timecontrol.h"

// A first root move scoring well below the last iteration: the position is worse than it
// looked, so the move gets more time.
void scoreDropRule(SearchWorker& w, int32_t value) {
    if (w.index != 0) return;
    if (w.abort) {
        scoreDropped = 0;
        return;
    }
    int32_t last = w.lastIterationValue;
    int32_t threshold = std::abs(last) >= 200 ? last - std::abs(last) / 4 : last - 50;
    if (value <= threshold) {
        scoreDropped = 1;
        timeLimit = budgetFormula();
    } else {
        scoreDropped = 0;
    }
}

// A later root move beating the first: the best move is changing, so it gets more time.
void bestMoveChangeRule(SearchWorker& w) {
    if (w.index != 0) return;
    if (w.abort) {
        extensionFlag = 0;
        return;
    }
    extensionFlag = 1;
    timeLimit = budgetFormula();
}

namespace {

// Helper threads skip depths so that they do not all search the same tree: helper k skips a
// depth d when (d + phase) / size is odd, with size and phase from these rows (k - 1 mod 20).
constexpr int SKIP_SIZE[20] = {1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4};
constexpr int SKIP_PHASE[20] = {0, 1, 0, 1, 2, 3, 0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5, 6, 7};

bool skippedDepth(int helper, int depth) {
    int row = (helper - 1) % 20;
    return ((depth + SKIP_PHASE[row]) / SKIP_SIZE[row]) % 2 != 0;
}

}  // namespace

int32_t rootSearch(SearchWorker& w, int depth, int alpha, int beta, int side, int ext) {
    w.rootMovesCompleted = 0;
    if (countNodeAndStop(w)) return 0;
    BoardBase& b = w.board;
    const int opp = 3 - side;
    enterPly(w, 0);
    // Excluded moves count as searched already: no stage lists them.
    for (int i = 0; i < w.excludedCount; i++) markSearched(w, 0, w.excluded[i]);
    const SearchReporter* reporter = reporterFor(w);
    if (hasThreat(b, T_FIVE, side - 1)) return depth + WIN_SCORE;
    const bool forced = hasThreat(b, T_FIVE, opp - 1);
    if (!forced && hasPlayableOpenFour(b, side)) return depth + WIN_SCORE;

    const int32_t bound = w.rootDepth + 9999999;
    auto clamp = [&](int32_t v) { return std::clamp(v, -bound, bound); };
    NodeState node{depth, 0, side, depth + (ext >> 1), false, MINUS_INF, 0, STAGE_HASH, false};
    MoveEntry* list = w.plyMoves[0];
    TopMoves top;
    int32_t staticValue = NO_SCORE;
    int nonLosingCount = 0;
    int& completed = w.rootMovesCompleted;
    bool raised = false;
    int32_t settled;  // the root is never a null-window node: nothing is settled here
    int n = firstStage(w, node, list, forced, alpha, beta, ext, &settled);
    if (w.abort) return 0;
    for (; n > 0 || (!forced && (n = nextStage(w, node, list)) > 0); n = 0) {
        for (int k = 0; k < n; k++) {
            const int m = list[k].move;
            if (reporter != nullptr) reporter->moveStart(w, m);
            MoveCost cost = moveCost(w, node, m, &staticValue);
            makeMove(b, m, side);
            cost.extension = threatExtension(w, depth, side, cost.rank, cost.extension);
            const int p = cost.penalty, childExt = ext + cost.extension;
            int32_t value = 0;
            if (w.abort) {
                // the move's own search never started
            } else if (completed == 0) {
                value = p - nodeSearch(w, depth - 1, p - beta, p - alpha, opp, childExt);
                scoreDropRule(w, value);
            } else {
                value = p - nodeSearch(w, depth - 1, p - alpha - 1, p - alpha, opp, childExt);
                if (alpha < value && value < beta) {
                    bestMoveChangeRule(w);
                    if (!w.abort) value = p - nodeSearch(w, depth - 1, p - beta, p - alpha, opp, childExt);
                }
            }
            unmakeMove(b, m, side);
            if (w.abort) {
                // Fewer than two root moves searched say nothing about this depth.
                if (completed < 2) return 0;
                w.bestMove = top.move[0];
                int32_t v = clamp(node.best);
                return v == 0 ? 1 : v;
            }
            completed++;
            if (value > -DECIDED) nonLosingCount++;
            node.best = std::max(node.best, value);
            const int previousBest = top.move[0];
            top.insert(m, keptValue(value, alpha));
            if (reporter != nullptr) {
                reporter->moveDone(w, m, value);
                if (top.move[0] != previousBest) reporter->bestChange(w, top.move[0]);
            }
            if (value > alpha) {
                alpha = value;
                raised = true;
            }
        }
    }

    w.bestMove = top.move[0];
    w.singleCandidate = nonLosingCount == 1 ? 1 : 0;
    const bool legal = node.earlier > 0;
    const bool full = !legal && boardFull(b);
    int32_t stored = full ? 0 : (node.best == MINUS_INF ? alpha : node.best);
    // Without its excluded moves the root's value is not the position's.
    if (w.excludedCount == 0) {
        ttReplace(b.hashKey, depth + (ext >> 1), stored, raised ? BOUND_EXACT : BOUND_UPPER, side, top.move[0],
                  top.move[1], top.move[2]);
    }
    alpha = std::min(bound, alpha);
    if (legal) return node.best == MINUS_INF ? alpha : clamp(node.best);
    return full ? 0 : std::max(-(depth + 9999998), alpha);
}

// Under a match clock, shares of the budget (numerator, denominator). Another iteration starts
// only while less than NEW_ITERATION_SHARE of it has gone: an iteration takes some three times
// the one before, and one cut short still counts once two root moves were searched. A best
// move that has stood for five iterations ends the search once STABLE_STOP_SHARE has gone.
// What a move leaves goes to later moves, whose budgets are shares of the time left.
constexpr int64_t NEW_ITERATION_SHARE[2] = {4, 5};
constexpr int64_t STABLE_STOP_SHARE[2] = {2, 3};

int32_t depthLoop(SearchWorker& w, int side, int32_t firstValue, int maxDepth) {
    const int squares = boardWidth * boardHeight;
    const int stones = w.board.stoneCount;
    int32_t v = firstValue, final = firstValue;
    w.lastIterationValue = firstValue;
    int32_t& depth = w.rootDepth;
    for (depth = 1;; depth++) {
        if (depth > 1) {
            int64_t elapsed = int64_t{clockMs()} - searchStartTime;
            bool goOn = (elapsed * NEW_ITERATION_SHARE[1] < int64_t{timeLimit} * NEW_ITERATION_SHARE[0] || plentyOfTime) &&
                        depth + stones <= squares &&
                        stopRequested.load() <= 0;
            if (!goOn) break;
        }
        if (depth > std::min(maxDepth, MAX_PLY)) break;
        w.singleCandidate = 0;
        w.selDepth = 0;
        if (const SearchReporter* reporter = reporterFor(w)) reporter->iterationStart(w);
        const int previous = w.bestMove;
        int32_t shifted = v;
        if (tablesRule == RULE_RENJU) shifted += side == FIRST ? -75 : 75;
        largeValue = std::abs(int64_t{shifted}) >= 150 ? 1 : 0;
        computeTimeLimit(stones);

        int32_t r = rootSearch(w, depth, -100000000, 100000000, side, 0);
        if (w.abort) {
            if (r != 0) {
                final = r;
                depth++;
            }
            break;
        }
        final = r;
        if (const SearchReporter* reporter = reporterFor(w)) reporter->iterationDone(w, r);
        if (r >= MATE_BOUND || r < -9999031 || (w.singleCandidate && depth >= 5)) {
            depth++;
            break;
        }
        w.lastIterationValue = v = r;
        if (w.bestMove == previous) {
            w.stableCount++;
            if (w.stableCount >= 5 && !plentyOfTime &&
                (int64_t{clockMs()} - searchStartTime) * STABLE_STOP_SHARE[1] > int64_t{timeLimit} * STABLE_STOP_SHARE[0]) {
                depth++;
                break;
            }
        } else {
            w.stableCount = 0;
        }
        int64_t freeSquares = int64_t{squares} - stones + 1;
        if (timeLeft.load() / freeSquares >= timeLimit) plentyOfTime = true;
    }
    depth--;
    return final;
}

void helperLoop(SearchWorker& w, int side) {
    const int squares = boardWidth * boardHeight;
    w.completedDepth = 0;
    w.bestMove = -1;
    for (w.rootDepth = 1; w.rootDepth <= MAX_PLY && w.rootDepth + w.board.stoneCount <= squares; w.rootDepth++) {
        if (skippedDepth(w.index, w.rootDepth)) continue;
        int32_t r = rootSearch(w, w.rootDepth, -100000000, 100000000, side, 0);
        if (w.abort) return;
        w.completedDepth = w.rootDepth;
        w.completedMove = w.bestMove;
        w.completedValue = r;
        if (r >= MATE_BOUND || r < -9999031) return;  // a proven result needs no deeper iteration
    }
}

int32_t fixedDepthSearch(int side, int depth, int64_t nodeBudget) {
    const int32_t savedTurn = timeoutTurn.load(), savedLeft = timeLeft.load();
    timeoutTurn = INT32_MAX;
    timeLeft = INT32_MAX;
    stopRequested = 0;
    SearchWorker& w = mainWorker();
    w.bestMove = -1;
    startSearchClock(w, g_board.stoneCount);
    SearchLimits limits;
    limits.maxDepth = depth;
    limits.maxNodes = nodeBudget;
    int32_t value = parallelSearch(side, 0, limits);
    timeoutTurn = savedTurn;
    timeLeft = savedLeft;
    return value;
}
