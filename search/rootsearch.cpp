#include "search/rootsearch.h"

#include <algorithm>
#include <cstdlib>

#include "board/board.h"
#include "search/candidates.h"
#include "search/timecontrol.h"
#include "tactics/hashtable.h"
#include "tactics/nodesearch.h"

int32_t lastIterationValue = 0;
int32_t singleCandidate = 0;
int32_t stableCount = 0;
int32_t rootMovesCompleted = 0;

// A first root move scoring well below the last iteration: the position is worse than it
// looked, so the move gets more time.
void scoreDropRule(int32_t value) {
    if (g_abort) {
        scoreDropped = 0;
        return;
    }
    int32_t last = lastIterationValue;
    int32_t threshold = std::abs(last) >= 200 ? last - std::abs(last) / 4 : last - 50;
    if (value <= threshold) {
        scoreDropped = 1;
        timeLimit = budgetFormula();
    } else {
        scoreDropped = 0;
    }
}

// A later root move beating the first: the best move is changing, so it gets more time.
void bestMoveChangeRule() {
    if (g_abort) {
        extensionFlag = 0;
        return;
    }
    extensionFlag = 1;
    timeLimit = budgetFormula();
}

namespace {

void publish(int m) {
    bestX = m < 0 ? -1 : m >> 5;
    bestY = m < 0 ? -1 : m & 31;
}

}  // namespace

int32_t rootSearch(int depth, int alpha, int beta, int side, int ext) {
    rootMovesCompleted = 0;
    if (countNodeAndStop()) return 0;
    const int opp = 3 - side;
    enterPly(0);
    if (hasThreat(T_FIVE, side - 1)) return depth + WIN_SCORE;
    const bool forced = hasThreat(T_FIVE, opp - 1);
    if (!forced && hasPlayableOpenFour(side)) return depth + WIN_SCORE;

    const int32_t bound = rootDepth + 9999999;
    auto clamp = [&](int32_t v) { return std::clamp(v, -bound, bound); };
    NodeState node{depth, 0, side, depth + (ext >> 1), false, MINUS_INF, 0, STAGE_HASH, false};
    MoveEntry* list = plyMoves[0];
    TopMoves top;
    int32_t staticValue = NO_SCORE;
    int nonLosingCount = 0;
    int& completed = rootMovesCompleted;
    bool raised = false;
    int32_t settled;  // the root is never a null-window node: nothing is settled here
    int n = firstStage(node, list, forced, alpha, beta, ext, &settled);
    if (g_abort) return 0;
    for (; n > 0 || (!forced && (n = nextStage(node, list)) > 0); n = 0) {
        for (int k = 0; k < n; k++) {
            const int m = list[k].move;
            MoveCost cost = moveCost(node, m, &staticValue);
            makeMove(m, side);
            cost.extension = threatExtension(depth, side, cost.rank, cost.extension);
            const int p = cost.penalty, childExt = ext + cost.extension;
            int32_t value = 0;
            if (g_abort) {
                // the move's own search never started
            } else if (completed == 0) {
                value = p - nodeSearch(depth - 1, p - beta, p - alpha, opp, childExt);
                scoreDropRule(value);
            } else {
                value = p - nodeSearch(depth - 1, p - alpha - 1, p - alpha, opp, childExt);
                if (alpha < value && value < beta) {
                    bestMoveChangeRule();
                    if (!g_abort) value = p - nodeSearch(depth - 1, p - beta, p - alpha, opp, childExt);
                }
            }
            unmakeMove(m, side);
            if (g_abort) {
                // Fewer than two root moves searched say nothing about this depth.
                if (completed < 2) return 0;
                publish(top.move[0]);
                int32_t v = clamp(node.best);
                return v == 0 ? 1 : v;
            }
            completed++;
            if (value > -DECIDED) nonLosingCount++;
            node.best = std::max(node.best, value);
            top.insert(m, keptValue(value, alpha));
            if (value > alpha) {
                alpha = value;
                raised = true;
            }
        }
    }

    publish(top.move[0]);
    singleCandidate = nonLosingCount == 1 ? 1 : 0;
    const bool legal = node.earlier > 0;
    const bool full = !legal && boardFull();
    int32_t stored = full ? 0 : (node.best == MINUS_INF ? alpha : node.best);
    ttReplace(depth + (ext >> 1), stored, raised ? BOUND_EXACT : BOUND_UPPER, side, top.move[0], top.move[1],
              top.move[2]);
    alpha = std::min(bound, alpha);
    if (legal) return node.best == MINUS_INF ? alpha : clamp(node.best);
    return full ? 0 : std::max(-(depth + 9999998), alpha);
}

int32_t depthLoop(int side, int32_t firstValue, int maxDepth) {
    const int squares = boardWidth * boardHeight;
    int32_t v = firstValue, final = firstValue;
    lastIterationValue = firstValue;
    for (rootDepth = 1;; rootDepth++) {
        if (rootDepth > 1) {
            int64_t elapsed = int64_t{clockMs()} - searchStartTime;
            bool goOn = (elapsed * 4 < timeLimit || plentyOfTime) && rootDepth + g_board.stoneCount <= squares &&
                        stopRequested.load() <= 0;
            if (!goOn) break;
        }
        if (rootDepth > std::min(maxDepth, MAX_PLY)) break;
        singleCandidate = 0;
        const int previousX = bestX, previousY = bestY;
        int32_t shifted = v;
        if (tablesRule == RULE_RENJU) shifted += side == FIRST ? -75 : 75;
        largeValue = std::abs(int64_t{shifted}) >= 150 ? 1 : 0;
        computeTimeLimit(g_board.stoneCount);

        int32_t r = rootSearch(rootDepth, -100000000, 100000000, side, 0);
        if (g_abort) {
            if (r != 0) {
                final = r;
                rootDepth++;
            }
            break;
        }
        final = r;
        if (r >= MATE_BOUND || r < -9999031 || (singleCandidate && rootDepth >= 5)) {
            rootDepth++;
            break;
        }
        lastIterationValue = v = r;
        if (bestX == previousX && bestY == previousY) {
            stableCount++;
            if (stableCount >= 5 && !plentyOfTime && (int64_t{clockMs()} - searchStartTime) * 8 > timeLimit) {
                rootDepth++;
                break;
            }
        } else {
            stableCount = 0;
        }
        int64_t freeSquares = int64_t{squares} - g_board.stoneCount + 1;
        if (timeLeft.load() / freeSquares >= timeLimit) plentyOfTime = true;
    }
    rootDepth--;
    return final;
}

int32_t fixedDepthSearch(int side, int depth, int64_t nodeBudget) {
    const int32_t savedTurn = timeoutTurn.load(), savedLeft = timeLeft.load(), savedLimit = nodeLimit;
    timeoutTurn = INT32_MAX;
    timeLeft = INT32_MAX;
    stopRequested = 0;
    g_abort = 0;
    // The stop check runs on multiples of 1024 nodes: start the count so that the first
    // multiple past the limit comes after exactly nodeBudget nodes.
    const int64_t start = nodeBudget > 0 ? (int64_t{1000000000} + 1) * 1024 - nodeBudget : 0;
    if (nodeBudget > 0) nodeLimit = 1000000000;
    g_nodeCount = start;
    stableCount = largeValue = scoreDropped = extensionFlag = 0;
    plentyOfTime = false;
    bestX = bestY = -1;
    searchStartTime = clockMs();
    int32_t value = depthLoop(side, 0, depth);
    g_nodeCount -= start;
    timeoutTurn = savedTurn;
    timeLeft = savedLeft;
    nodeLimit = savedLimit;
    return value;
}
