#include "search/threatsearch.h"

#include <bit>

#include "board/board.h"
#include "board/forbidden.h"
#include "search/search.h"
#include "search/timecontrol.h"
#include "search/hashtable.h"

namespace {

inline int rank(const BoardBase& b, int p, int s) { return shapeSum[b.squares[s].shape[p]]; }

inline bool multi(uint32_t dirs) { return (dirs & (dirs - 1)) != 0; }

inline bool isFour(int code) { return code == SHAPE_CLOSED_FOUR || code == SHAPE_FOUR; }

// On the board for the completion walk; square 0 counts as off the board.
inline bool walkable(int s) { return s > 0 && (s >> 5) < boardWidth && (s & 31) < boardHeight; }

// The square that completes the four m makes in direction k (p = player index), found as
// the first non-own square beyond m's run that would itself make a four on that line; -1
// when neither side has one (for example when it would make an open four instead).
int completionSquare(const BoardBase& b, int m, int p, int k) {
    int side = p + 1;
    for (int step : {DIRECTION_STEP[k], -DIRECTION_STEP[k]}) {
        int s = m + step;
        while (walkable(s) && b.cell[s] == side) s += step;
        if (walkable(s) && b.cell[s] == EMPTY && isFour(shapeCode(b, s, p, k))) return s;
    }
    return -1;
}

inline void sortByKey(MoveEntry* list, int n) {
    for (int i = 1; i < n; i++) {
        MoveEntry e = list[i];
        int j = i - 1;
        while (j >= 0 && list[j].key > e.key) {
            list[j + 1] = list[j];
            j--;
        }
        list[j + 1] = e;
    }
}

// Examines candidate m of the attacker; returns a settled result of the node (> 0), or 0
// after adding m to the list, or -1 when m is dropped.
inline int32_t examineCandidate(BoardBase& b, int m, int side, int t, bool freeStyle, bool renjuFirst,
                                MoveEntry* list, int* n) {
    int p = side - 1, q = 2 - side;
    int ownRank = rank(b, p, m);
    if (ownRank < THREAT_MIN_RANK) return -1;
    if (renjuFirst && isForbidden(b, m)) return -1;
    if (freeStyle) {
        uint32_t fourDirs = b.threatDirs[T_FOUR][p][m];
        uint32_t threeDirs = b.threatDirs[T_THREE][p][m];
        if (multi(fourDirs)) return THREAT_WIN - t;  // two fives to block
        if (multi(threeDirs)) {
            // The block of the four cannot also stop two threes, unless it makes a four.
            if (!hasThreat(b, T_FOUR, q) && !hasThreat(b, T_OPEN_FOUR, q)) return THREAT_WIN - t;
        } else if (multi(fourDirs | threeDirs)) {
            // A four-three wins when the forced block gives the defender no four.
            int c = completionSquare(b, m, p, std::countr_zero(fourDirs));
            if (c >= 0 && !inThreat(b, T_FOUR, q, c) && !inThreat(b, T_OPEN_FOUR, q, c)) {
                return THREAT_WIN - t;
            }
        }
    }
    int32_t known = threatProbe(1, 3 - side, b.hashKey ^ zobrist[m][p], t + 1);
    if (known != NO_SCORE) return -known > 0 ? -known : -1;
    list[(*n)++] = {-(ownRank + rank(b, q, m) / 2), m};
    return 0;
}

int32_t attackerNode(SearchWorker& w, int depth, int side, int t, MoveEntry* list) {
    BoardBase& b = w.board;
    int p = side - 1, q = 2 - side, opp = 3 - side;
    int rule = tablesRule;
    bool renjuFirst = rule == RULE_RENJU && side == FIRST;
    int n = 0;
    if (hasThreat(b, T_FIVE, q)) {
        // The opponent's five must be blocked, and the block must keep the initiative.
        int m = firstThreat(b, T_FIVE, q);
        if (!(shapeFlags[b.squares[m].shape[p]] & 0x20)) return 0;
        int32_t settled = examineCandidate(b, m, side, t, false, renjuFirst, list, &n);
        if (settled > 0) return settled;
    } else {
        bool freeStyle = rule == RULE_FREESTYLE;
        for (uint32_t rows = b.threatRowMask[T_FOUR][p]; rows != 0; rows &= rows - 1) {
            int x = lowestBit(rows);
            for (uint32_t ys = b.threatRows[T_FOUR][p][x]; ys != 0; ys &= ys - 1) {
                int32_t settled =
                    examineCandidate(b, x * 32 + lowestBit(ys), side, t, freeStyle, renjuFirst, list, &n);
                if (settled > 0) return settled;
            }
        }
    }
    sortByKey(list, n);
    for (int i = 0; i < n; i++) {
        int m = list[i].move;
        makeMoveLight(b, m, side);
        int32_t v = -threatSearchNode(w, depth - 1, opp, 1, t + 1);
        unmakeMoveLight(b, m, side);
        if (w.abort) return 0;
        if (v > 0) return v;
    }
    return 0;
}

int32_t defenderNode(SearchWorker& w, int depth, int side, int t, MoveEntry* list) {
    BoardBase& b = w.board;
    int q = 2 - side, opp = 3 - side;
    if (!hasThreat(b, T_FIVE, q)) return 0;  // nothing to block: the attack is broken
    bool renjuFirst = tablesRule == RULE_RENJU && side == FIRST;
    int n = 0;
    for (uint32_t rows = b.threatRowMask[T_FIVE][q]; rows != 0; rows &= rows - 1) {
        int x = lowestBit(rows);
        for (uint32_t ys = b.threatRows[T_FIVE][q][x]; ys != 0; ys &= ys - 1) {
            int c = x * 32 + lowestBit(ys);
            if (renjuFirst && isForbidden(b, c)) continue;
            int32_t known = threatProbe(0, opp, b.hashKey ^ zobrist[c][side - 1], t + 1);
            if (known != NO_SCORE) {
                if (-known >= 0) return -known;  // this block is known to hold
                continue;
            }
            list[n++] = {0, c};
        }
    }
    if (n == 0) return -(THREAT_WIN - (t + 2));  // the five comes next move
    int32_t v = 0;
    for (int i = 0; i < n; i++) {
        int c = list[i].move;
        makeMoveLight(b, c, side);
        v = -threatSearchNode(w, depth - 1, opp, 0, t + 1);
        unmakeMoveLight(b, c, side);
        if (w.abort) return 0;
        if (v >= 0) return v;
    }
    return v;
}

}  // namespace

int32_t threatSearchNode(SearchWorker& w, int depth, int side, int role, int t) {
    if (countNodeAndStop(w)) return 0;
    BoardBase& b = w.board;
    int p = side - 1, q = 2 - side;
    if (hasThreat(b, T_FIVE, p)) return THREAT_WIN - t;
    if (!hasThreat(b, T_FIVE, q) && hasThreat(b, T_OPEN_FOUR, p)) {
        if (!(tablesRule == RULE_RENJU && side == FIRST) || !isForbidden(b, firstThreat(b, T_OPEN_FOUR, p))) {
            return THREAT_WIN - t;
        }
    }
    uint64_t key = b.hashKey;
    int32_t known = threatProbe(role, side, key, t);
    if (known != NO_SCORE) return known;
    // Every node needs a move list of its own, below its parent's. Past the last per-ply list
    // (only reachable after many internal-deepening steps near a full board) the node tries
    // nothing and claims nothing: 0, not stored, so no false "no win" stays in the table.
    int ply = w.rootDepth - depth;
    if (ply < 0 || ply >= MAX_PLY) return 0;
    MoveEntry* list = w.plyMoves[ply];
    int32_t result = role == 0 ? attackerNode(w, depth, side, t, list) : defenderNode(w, depth, side, t, list);
    if (w.abort) return 0;
    threatStore(role, side, key, result, t);
    return result;
}

int32_t threatSearch(SearchWorker& w, int depth, int side, int role, int t) {
    return threatSearchNode(w, depth, side, role, t);
}
