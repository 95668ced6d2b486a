#include "search/nodesearch.h"

#include <algorithm>

#include "board/board.h"
#include "search/timecontrol.h"
#include "eval/evaluate.h"
#include "search/hashtable.h"
#include "search/threatsearch.h"

namespace {

// Forcing moves near the edge and in cramped lines lead nowhere more often: their penalty
// is weighed by the distance to the nearest edge (0, 1, 2, 3, 4, 5 and more).
constexpr int EDGE_WEIGHT[6] = {40, 40, 32, 26, 20, 15};

int edgeWeight(int m) {
    int x = m >> 5, y = m & 31;
    int edge = std::min(std::min(x, boardWidth - 1 - x), std::min(y, boardHeight - 1 - y));
    return EDGE_WEIGHT[std::clamp(edge, 0, 5)];
}

// Tenths the penalty is scaled by: none when the side stands well, more when it stands
// badly and a forcing move is worth less than it looks.
int staticFactor(int32_t s) {
    if (s >= 600) return 0;
    if (s >= 500) return 1;
    if (s >= 400) return 2;
    if (s >= 300) return 4;
    if (s >= 200) return 6;
    if (s >= 100) return 8;
    if (s <= -500) return 18;
    if (s <= -300) return 16;
    if (s <= -200) return 13;
    if (s <= -100) return 11;
    return 10;
}

int probeHashMoves(const BoardBase& b, const NodeState& node, MoveEntry* list, int alpha, int beta) {
    int moves[3] = {-1, -1, -1};
    ttProbe(1, alpha, beta, node.side, b.hashKey, moves, 3);
    int n = 0;
    for (int m : moves) {
        if (m >= 0 && onBoard(m) && b.cell[m] == EMPTY) list[n++] = {0, m};
    }
    return n;
}

// Late-move pruning at a null-window node whose move failed low: past a number of moves
// that shrinks with the remaining depth, later stages are not worth searching.
bool pruneRest(const NodeState& node, int i, int extension) {
    if (node.defenceOnly || extension > 1 || node.ply <= 2 || node.best <= -5000000) return false;
    int stage = node.stage;
    switch (std::max(node.eff, 1)) {
        case 1: return (stage >= 4 && i >= 12) || (stage >= 5 && i >= 10) || (stage >= 6 && i >= 8);
        case 2: return (stage >= 4 && i >= 12) || (stage >= 6 && i >= 8);
        case 3: return stage >= 5 && i >= 12;
        case 4: return stage >= 6 && i >= 12;
        default: return false;
    }
}

void storeNode(const BoardBase& b, int eff, int32_t value, int bound, int side, const TopMoves& top) {
    ttStore(b.hashKey, eff, value, bound, side, top.move[0], top.move[1], top.move[2]);
}

}  // namespace

void TopMoves::insert(int m, int32_t v) {
    // The probe's move waits in the list without a value; searched, it moves up.
    for (int k = 0; k < 3; k++) {
        if (move[k] != m) continue;
        for (int j = k; j < 2; j++) {
            move[j] = move[j + 1];
            value[j] = value[j + 1];
        }
        move[2] = -1;
        value[2] = MINUS_INF;
        break;
    }
    int k = 0;
    while (k < 3 && value[k] >= v) k++;
    if (k == 3) return;
    for (int j = 2; j > k; j--) {
        move[j] = move[j - 1];
        value[j] = value[j - 1];
    }
    move[k] = m;
    value[k] = v;
}

MoveCost moveCost(SearchWorker& w, const NodeState& node, int m, int32_t* staticValue) {
    const int p = node.side - 1;
    const SquareInfo& q = w.board.squares[m];
    MoveCost cost{0, 0, shapeSum[q.shape[p]]};
    const int v = cost.rank;
    if (v < 158) return cost;
    const int k = v >= 262 ? 2 : 1;
    cost.extension = node.nullWindow ? k : k + 1;
    const int flags = shapeFlags[q.shape[p]];
    int p0 = 0;
    if (flags & 0x20) p0 = k == 1 ? -40 : -5;
    else if (flags & 0x10) p0 = (v < 164 && q.roomSum[p] < 24) ? -10 : -5;
    int penalty = p0 * edgeWeight(m) / 40;
    if (penalty != 0) {
        int r = q.roomSum[p];
        if (r < 18) penalty = penalty * 11 / 10;
        if (r < 15) penalty = penalty * 11 / 10;
        if (r < 12) penalty = penalty * 13 / 10;
        if (r > 22) penalty = penalty * 9 / 10;
        if (*staticValue == NO_SCORE) *staticValue = evaluate(w.board, node.side);
        penalty = penalty * staticFactor(*staticValue) / 10;
    }
    if (hasThreat(w.board, T_FIVE, 1 - p)) penalty /= 4;
    cost.penalty = penalty;
    return cost;
}

int32_t threatExtension(SearchWorker& w, int depth, int side, int rank, int32_t extension) {
    if (rank < 8 || rank >= 158) return extension;
    int32_t r = threatSearch(w, depth - 1, side, 0, 0);
    if (w.abort || r <= 0) return extension;
    return std::min(4, extension + (rank >= 34 ? 2 : 1));
}

int firstStage(SearchWorker& w, NodeState& node, MoveEntry* list, bool forced, int alpha, int beta, int ext,
               int32_t* settled) {
    const BoardBase& b = w.board;
    *settled = NO_SCORE;
    if (forced) {
        list[0] = {0, firstThreat(b, T_FIVE, 2 - node.side)};
        return filterAndOrder(w, node, list, 1, STAGE_HASH);
    }
    int n = probeHashMoves(b, node, list, alpha, beta);
    if (n == 0 && node.eff >= (node.nullWindow ? 8 : 6)) {
        int reduction = node.nullWindow ? node.eff / 4 : 1;
        int32_t v = nodeSearch(w, node.depth - reduction - 2, alpha, beta, node.side, ext);
        if (w.abort) return 0;
        if (node.nullWindow && v >= beta && v > DECIDED) {
            ttStore(b.hashKey, node.eff, v, BOUND_EXACT, node.side, -1, -1, -1);
            *settled = v;
            return 0;
        }
        n = probeHashMoves(b, node, list, alpha, beta);
    }
    return filterAndOrder(w, node, list, n, STAGE_HASH);
}

bool boardFull(const BoardBase& b) {
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            if (b.cell[x * 32 + y] == EMPTY) return false;
        }
    }
    return true;
}

int32_t nodeSearch(SearchWorker& w, int depth, int alpha, int beta, int side, int ext) {
    if (countNodeAndStop(w)) return 0;
    BoardBase& b = w.board;
    const int opp = 3 - side;
    if (hasThreat(b, T_FIVE, side - 1)) return WIN_SCORE + depth;
    const bool forced = hasThreat(b, T_FIVE, opp - 1);
    if (!forced && hasPlayableOpenFour(b, side)) return WIN_SCORE + depth;
    // Internal deepening moves down the plies without placing stones: past the last per-ply
    // record (only near a full board) the node is a leaf.
    const int ply = w.rootDepth - depth;
    if (ply < 0 || ply >= MAX_PLY - 1) return evaluate(b, side);
    if (ply > w.selDepth) w.selDepth = ply;
    const bool nullWindow = alpha + 1 == beta;
    const int eff = depth + (ext >> 1);
    TopMoves top;
    int32_t staticValue = NO_SCORE;
    if (!forced) {
        if (nullWindow) {
            int32_t v = ttProbe(eff, alpha, beta, side, b.hashKey, top.move, 1);
            if (v != NO_SCORE) return v;
        }
        int32_t r = threatSearch(w, depth, side, 0, 0);
        if (w.abort) return 0;
        if (r > 0) {
            int32_t v = depth + r - 484;
            ttStore(b.hashKey, eff, v, BOUND_EXACT, side, -1, -1, -1);
            return v;
        }
        // A leaf's value is not stored: evaluating it again costs less than the table's
        // cache miss, and its entry would push out those of searched nodes.
        if (depth + 2 * (ext >> 2) <= 0) return evaluate(b, side);
        if (nullWindow && eff <= 4) {
            staticValue = evaluate(b, side);
            int margin = 64 * std::max(1, eff);
            if (staticValue + margin <= alpha) return alpha;
            if (staticValue - margin >= beta) return beta;
        }
    }

    enterPly(w, ply);
    NodeState node{depth, ply, side, eff, nullWindow, MINUS_INF, 0, STAGE_HASH, false};
    MoveEntry* list = w.plyMoves[ply];
    int32_t settled;
    int n = firstStage(w, node, list, forced, alpha, beta, ext, &settled);
    if (w.abort) return 0;
    if (settled != NO_SCORE) return settled;
    bool raised = false;
    for (int i = 0; n > 0 || (!forced && (n = nextStage(w, node, list)) > 0); n = 0) {
        for (int k = 0; k < n; k++, i++) {
            const int m = list[k].move;
            MoveCost cost = moveCost(w, node, m, &staticValue);
            makeMove(b, m, side);
            if (!nullWindow && depth >= -(3 * w.rootDepth) / 2) {
                cost.extension = threatExtension(w, depth, side, cost.rank, cost.extension);
                if (w.abort) {
                    unmakeMove(b, m, side);
                    return 0;
                }
            }
            const int p = cost.penalty, childExt = ext + cost.extension;
            int32_t value;
            if (i == 0 || nullWindow) {
                value = p - nodeSearch(w, depth - 1, p - beta, p - alpha, opp, childExt);
            } else {
                value = p - nodeSearch(w, depth - 1, p - alpha - 1, p - alpha, opp, childExt);
                if (!w.abort && alpha < value && value < beta) {
                    value = p - nodeSearch(w, depth - 1, p - beta, p - alpha, opp, childExt);
                }
            }
            unmakeMove(b, m, side);
            if (w.abort) return 0;
            node.best = std::max(node.best, value);
            top.insert(m, keptValue(value, alpha));
            if (value >= beta) {
                if (node.stage == STAGE_HASH && !forced) {
                    for (int j = k + 1; j < n; j++) top.move[j] = list[j].move;
                }
                if (rankOf(b, FIRST, m) < 158 && rankOf(b, SECOND, m) < 158) {
                    KillerSlot* killers = killersAt(w, depth);
                    killers[0] = killers[1];
                    killers[1] = {m, b.squares[m].shape[side - 1]};
                }
                storeNode(b, eff, value, BOUND_LOWER, side, top);
                return value;
            }
            if (value > alpha) {
                alpha = value;
                raised = true;
            } else if (nullWindow && !forced && pruneRest(node, i, cost.extension)) {
                n = 0;
                node.stage = STAGE_DONE;
                break;
            }
        }
        if (node.stage == STAGE_DONE) break;
    }

    if (node.earlier == 0) {
        if (boardFull(b)) {
            storeNode(b, eff, 0, BOUND_UPPER, side, top);
            return 0;
        }
        storeNode(b, eff, alpha, BOUND_UPPER, side, top);
        return std::max(alpha, -9999998 - depth);
    }
    int32_t result = node.best == MINUS_INF ? alpha : node.best;
    storeNode(b, eff, result, raised ? BOUND_EXACT : BOUND_UPPER, side, top);
    return result;
}
