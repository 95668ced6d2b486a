#include "eval/evaluate.h"

#include <bit>
#include <initializer_list>

#include "board/board.h"
#include "board/forbidden.h"

namespace {

int rank(const BoardBase& b, int p, int s) { return shapeSum[b.squares[s].shape[p]]; }

// Bits lo..hi of a row word, columns below 0 left out.
uint32_t columns(int lo, int hi) {
    if (lo < 0) lo = 0;
    if (hi < lo) return 0;
    uint32_t upTo = hi >= 31 ? 0xFFFFFFFFu : ((1u << (hi + 1)) - 1);
    return upTo & ~((1u << lo) - 1);
}

// Threats of the opponent crowding around an open-four square (x, y).
int crowding(const BoardBase& b, int p, int x, int y) {
    if (x < 3 || x + 3 >= boardWidth) return 0;
    const uint32_t* fours = b.threatRows[T_FOUR][p];
    const uint32_t* threes = b.threatRows[T_THREE][p];
    auto row = [&](int r) { return fours[r] | threes[r]; };
    uint32_t outer = (y >= 3 ? 1u << (y - 3) : 0) | (1u << y) | (1u << (y + 3));
    uint32_t inner = columns(y - 2, y + 2);
    uint32_t middle = columns(y - 3, y + 3);
    int count = std::popcount(row(x - 3) & outer) + std::popcount(row(x + 3) & outer) +
                std::popcount(row(x) & middle);
    for (int r : {x - 2, x - 1, x + 1, x + 2}) count += std::popcount(row(r) & inner);
    return count;
}

// Directions in which player p has five or open-four squares.
uint32_t winningDirections(const BoardBase& b, int p, int* squares) {
    uint32_t dirs = 0;
    int n = listThreats(b, T_FIVE, p, squares);
    for (int i = 0; i < n; i++) dirs |= b.threatDirs[T_FIVE][p][squares[i]];
    n = listThreats(b, T_OPEN_FOUR, p, squares);
    for (int i = 0; i < n; i++) dirs |= b.threatDirs[T_OPEN_FOUR][p][squares[i]];
    return dirs;
}

bool allForbidden(BoardBase& b, const int* squares, int n) {
    for (int i = 0; i < n; i++) {
        if (!isForbidden(b, squares[i])) return false;
    }
    return true;
}

}  // namespace

int32_t evaluate(BoardBase& b, int side) {
    int opp = 3 - side;
    int ps = side - 1, po = opp - 1;
    int v = b.evalSum[ps] - b.evalSum[po];
    bool renju = tablesRule == RULE_RENJU;
    int squares[MAX_STONES];

    if (renju) {
        // SECOND's threats on squares FIRST may not take are worth more to SECOND.
        for (int c : {T_FOUR, T_THREE}) {
            int n = listThreats(b, c, 1, squares);
            for (int i = 0; i < n; i++) {
                if (!isForbidden(b, squares[i])) continue;
                int w = rank(b, 0, squares[i]) < 158 ? 200 : 120;
                v += side == FIRST ? -w : w;
            }
        }
    }

    if (hasThreat(b, T_FOUR, po) || hasThreat(b, T_THREE, po)) {
        v += 100;
        if (renju && side == SECOND) {
            int n = listThreats(b, T_THREE, 0, squares);
            bool takenBack = allForbidden(b, squares, n);
            n = listThreats(b, T_FOUR, 0, squares);
            if (takenBack && allForbidden(b, squares, n)) v -= 100;
        }
    }

    int n = listThreats(b, T_OPEN_FOUR, po, squares);
    if (n > 0) v += (b.squares[squares[0]].roomSum[po] * 50) >> 5;
    for (int i = 0; i < n; i++) {
        int s = squares[i];
        int c = crowding(b, po, s >> 5, s & 31);
        v -= (b.squares[s].roomSum[po] * 20 * c) >> 5;
    }

    if (std::popcount(winningDirections(b, po, squares)) >= 2) v -= 200;
    if (std::popcount(winningDirections(b, ps, squares)) >= 2) v += 200;
    return v + 50;
}
