// A slow, independent statement of the Renju rule for the first player, for tests only.
// It counts stones line by line on a plain cell array: no pattern tables, no shape codes,
// no threat sets. The engine's forbidden-move test is compared with it.
//
// The rule, for a move of FIRST on an empty square s (s is on the board while it is judged):
//   - a line through s that now holds exactly five FIRST stones in a row: allowed, whatever
//     the other lines hold;
//   - otherwise a run of six or more through s: forbidden (overline);
//   - otherwise two or more fours made by s: forbidden (double four). A four is a set of four
//     FIRST stones, s among them, that one more stone turns into exactly five; the two
//     completing squares of a straight four .XXXX. belong to one four, while X.XsX.X holds
//     two fours on one line;
//   - otherwise two or more lines with a three made by s: forbidden (double three). A line
//     holds a three when some empty square e on it turns the stones into a straight four
//     through s and e (exactly four in a row, both ends empty, both completions exactly
//     five) and e itself is not forbidden with s on the board (the same rule, recursively).
//     A line that holds a four is counted as a four, not as a three.
#pragma once

#include <cstdint>

namespace renju_reference {

constexpr int EMPTY = 0;
constexpr int FIRST = 1;
constexpr int SECOND = 2;
constexpr int BLOCKED = 3;

// The four line directions as steps in x and y.
constexpr int DX[4] = {0, 1, 1, 1};
constexpr int DY[4] = {1, 0, -1, 1};

struct Position {
    int width = 15;
    int height = 15;
    int8_t cell[22][22] = {};

    // Off the board reads as BLOCKED.
    int at(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return BLOCKED;
        return cell[x][y];
    }
    bool isEmpty(int x, int y) const { return at(x, y) == EMPTY; }
};

// Where the engine has chosen a narrower reading of the rule, the reference can follow it.
struct Options {
    // An extension square of a three on which FIRST would (also) make exactly five on
    // another line does not make the three real. The full rule counts it: a move that makes
    // five is never forbidden.
    bool fiveSquareEndsThree = false;
    // Takes every extension square as playable (no recursion): the answer a test that
    // forgot the recursion would give. Used to measure how often the recursion matters.
    bool extensionsAlwaysLegal = false;
};

// Why a square is forbidden or allowed.
enum Verdict { NOTHING, FIVE, OVERLINE, DOUBLE_FOUR, DOUBLE_THREE };

namespace detail {

// Length of FIRST's run through (x, y) along direction d, and its extent in steps from
// (x, y): lo <= 0 <= hi. (x, y) must hold a FIRST stone.
inline int run(const Position& p, int x, int y, int d, int* lo = nullptr, int* hi = nullptr) {
    int a = 0, b = 0;
    while (p.at(x + (a - 1) * DX[d], y + (a - 1) * DY[d]) == FIRST) a--;
    while (p.at(x + (b + 1) * DX[d], y + (b + 1) * DY[d]) == FIRST) b++;
    if (lo) *lo = a;
    if (hi) *hi = b;
    return b - a + 1;
}

inline bool makesExactFive(const Position& p, int x, int y) {
    for (int d = 0; d < 4; d++) {
        if (run(p, x, y, d) == 5) return true;
    }
    return false;
}

// Number of distinct fours that the stone on (x, y) belongs to on direction d.
inline int foursOnLine(Position& p, int x, int y, int d) {
    uint32_t sets[10];
    int n = 0;
    for (int k = -4; k <= 4; k++) {
        int ex = x + k * DX[d], ey = y + k * DY[d];
        if (k == 0 || !p.isEmpty(ex, ey)) continue;
        p.cell[ex][ey] = FIRST;
        int lo, hi;
        // The run through e, in steps from (x, y): e sits at k.
        int length = run(p, ex, ey, d, &lo, &hi);
        p.cell[ex][ey] = EMPTY;
        int from = k + lo, to = k + hi;
        if (length != 5 || from > 0 || to < 0) continue;
        // The four stones of this four, as a bit set of offsets from (x, y) + 8.
        uint32_t stones = 0;
        for (int t = from; t <= to; t++) {
            if (t != k) stones |= 1u << (t + 8);
        }
        bool seen = false;
        for (int i = 0; i < n; i++) seen |= sets[i] == stones;
        if (!seen) sets[n++] = stones;
    }
    return n;
}

// With FIRST stones on (x, y) and on the square k steps from it along d: does that line
// hold a straight four through both of them?
inline bool straightFour(const Position& p, int x, int y, int d, int k) {
    int lo, hi;
    if (run(p, x, y, d, &lo, &hi) != 4 || k < lo || k > hi) return false;
    auto cellAt = [&](int t) { return p.at(x + t * DX[d], y + t * DY[d]); };
    return cellAt(lo - 1) == EMPTY && cellAt(hi + 1) == EMPTY && cellAt(lo - 2) != FIRST &&
           cellAt(hi + 2) != FIRST;
}

}  // namespace detail

inline int forbidden(Position& p, int x, int y, const Options& options = {},
                     Verdict* why = nullptr);

namespace detail {

// Whether the stone on (x, y) makes a real three on direction d.
inline bool realThree(Position& p, int x, int y, int d, const Options& options) {
    for (int k = -4; k <= 4; k++) {
        int ex = x + k * DX[d], ey = y + k * DY[d];
        if (k == 0 || !p.isEmpty(ex, ey)) continue;
        p.cell[ex][ey] = FIRST;
        bool four = straightFour(p, x, y, d, k);
        bool five = makesExactFive(p, ex, ey);
        p.cell[ex][ey] = EMPTY;
        if (!four) continue;
        if (five && options.fiveSquareEndsThree) continue;
        if (options.extensionsAlwaysLegal || !forbidden(p, ex, ey, options)) return true;
    }
    return false;
}

}  // namespace detail

// 1 when FIRST may not play on (x, y) under Renju, else 0; 0 for an occupied square. The
// position is used as scratch space and comes back unchanged.
inline int forbidden(Position& p, int x, int y, const Options& options, Verdict* why) {
    using namespace detail;
    Verdict verdict = NOTHING;
    if (!p.isEmpty(x, y)) {
        if (why) *why = verdict;
        return 0;
    }
    p.cell[x][y] = FIRST;
    bool five = false, overline = false;
    for (int d = 0; d < 4; d++) {
        int length = run(p, x, y, d);
        five |= length == 5;
        overline |= length >= 6;
    }
    if (five) {
        verdict = FIVE;
    } else if (overline) {
        verdict = OVERLINE;
    } else {
        int fours = 0, threes = 0;
        bool fourOn[4];
        for (int d = 0; d < 4; d++) {
            int n = foursOnLine(p, x, y, d);
            fourOn[d] = n > 0;
            fours += n;
        }
        if (fours >= 2) {
            verdict = DOUBLE_FOUR;
        } else {
            for (int d = 0; d < 4 && threes < 2; d++) {
                if (!fourOn[d] && realThree(p, x, y, d, options)) threes++;
            }
            if (threes >= 2) verdict = DOUBLE_THREE;
        }
    }
    p.cell[x][y] = EMPTY;
    if (why) *why = verdict;
    return verdict == OVERLINE || verdict == DOUBLE_FOUR || verdict == DOUBLE_THREE ? 1 : 0;
}

}  // namespace renju_reference
