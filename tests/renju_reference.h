// A slow, independent statement of the Renju rule for the first player, for tests only: it
// counts stones line by line on a plain cell array (no pattern tables, no shape codes).
// FIRST on an empty square s: exactly five in a row on some line allows it; otherwise a run of
// six or more, two fours (distinct sets of four stones with s that one more stone makes exactly
// five; .XXXX. is one four, X.XsX.X two), or threes on two lines forbid it. A line without a
// four holds a three when some empty e on it makes a straight four through s and e (four in a
// row, both ends empty, both completions exactly five) and e is not forbidden with s played.
#pragma once

#include <cstdint>

namespace renju_reference {

constexpr int EMPTY = 0, FIRST = 1, SECOND = 2, BLOCKED = 3;
enum Verdict { NOTHING, FIVE, OVERLINE, DOUBLE_FOUR, DOUBLE_THREE };  // forbidden from OVERLINE on
constexpr int DX[4] = {0, 1, 1, 1}, DY[4] = {1, 0, -1, 1};

struct Options {
    // The engine's reading: an extension square on which FIRST makes five does not make the
    // three real (the full rule counts it: a five is never forbidden).
    bool fiveSquareEndsThree = false;
    bool extensionsAlwaysLegal = false;  // no recursion: shows how often the recursion matters
};

struct Position {
    int width = 15, height = 15;
    int8_t cell[22][22] = {};

    int at(int x, int y) const {
        return x < 0 || y < 0 || x >= width || y >= height ? BLOCKED : cell[x][y];
    }
    // Length of the run of (x, y)'s stone colour along d, from lo to hi steps of (x, y).
    int run(int x, int y, int d, int* lo = nullptr, int* hi = nullptr) const {
        int a = 0, b = 0, c = at(x, y);
        while (at(x + (a - 1) * DX[d], y + (a - 1) * DY[d]) == c) a--;
        while (at(x + (b + 1) * DX[d], y + (b + 1) * DY[d]) == c) b++;
        if (lo) *lo = a;
        if (hi) *hi = b;
        return b - a + 1;
    }
    int forbidden(int x, int y, Options o = {}) { return judge(x, y, o) >= OVERLINE; }

    // Why FIRST may or may not play on (x, y); NOTHING for an occupied square. The cells are
    // used as scratch space and come back unchanged.
    Verdict judge(int x, int y, Options o = {}) {
        if (at(x, y) != EMPTY) return NOTHING;
        cell[x][y] = FIRST;
        bool five = false, overline = false;
        for (int d = 0; d < 4; d++) {
            int n = run(x, y, d);
            five |= n == 5;
            overline |= n > 5;
        }
        Verdict v = five ? FIVE : overline ? OVERLINE : NOTHING;
        int fours = 0, threes = 0, extensions[4][9], count[4] = {};
        bool fourOn[4] = {};
        for (int d = 0; d < 4 && v == NOTHING; d++) {
            uint32_t sets[9];  // the stones of each four, as bits of offsets from s + 8
            int n = 0;
            for (int k = -4; k <= 4; k++) {
                int ex = x + k * DX[d], ey = y + k * DY[d], lo, hi;
                if (k == 0 || at(ex, ey) != EMPTY) continue;
                cell[ex][ey] = FIRST;
                int length = run(x, y, d, &lo, &hi);
                cell[ex][ey] = EMPTY;
                if (k < lo || k > hi) continue;
                auto c = [&](int t) { return at(x + t * DX[d], y + t * DY[d]); };
                if (length == 5) {
                    uint32_t stones = ((2u << (hi + 8)) - (1u << (lo + 8))) & ~(1u << (k + 8));
                    bool seen = false;
                    for (int i = 0; i < n; i++) seen |= sets[i] == stones;
                    if (!seen) sets[n++] = stones;
                } else if (length == 4 && c(lo - 1) == EMPTY && c(hi + 1) == EMPTY &&
                           c(lo - 2) != FIRST && c(hi + 2) != FIRST) {
                    extensions[d][count[d]++] = k;
                }
            }
            fours += n;
            fourOn[d] = n > 0;
        }
        if (v == NOTHING && fours >= 2) v = DOUBLE_FOUR;
        for (int d = 0; d < 4 && v == NOTHING && threes < 2; d++) {
            for (int i = 0; i < count[d] && !fourOn[d]; i++) {
                int ex = x + extensions[d][i] * DX[d], ey = y + extensions[d][i] * DY[d];
                cell[ex][ey] = FIRST;
                bool makesFive = false;
                for (int e = 0; e < 4; e++) makesFive |= run(ex, ey, e) == 5;
                cell[ex][ey] = EMPTY;
                if (makesFive && o.fiveSquareEndsThree) continue;
                if (o.extensionsAlwaysLegal || !forbidden(ex, ey, o)) {
                    threes++;
                    break;
                }
            }
        }
        if (v == NOTHING && threes >= 2) v = DOUBLE_THREE;
        cell[x][y] = EMPTY;
        return v;
    }
};

}  // namespace renju_reference
