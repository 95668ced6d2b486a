// The Renju rule for the first player against a slow statement of it that counts stones line by
// line on a plain cell array (no pattern tables, no shape codes): on a few positions with known
// answers, then on every empty square of random positions on square and rectangular boards.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "board/board.h"
#include "board/forbidden.h"
#include "protocol/game.h"
#include "tests/test_positions.h"

namespace {

// FIRST on an empty square s: exactly five in a row on some line allows it; otherwise a run of
// six or more, two fours (distinct sets of four stones with s that one more stone makes exactly
// five; .XXXX. is one four, X.XsX.X two), or threes on two lines forbid it. A line without a
// four holds a three when some empty e on it makes a straight four through s and e (four in a
// row, both ends empty, both completions exactly five), e makes no five (the engine's reading)
// and e is not forbidden with s played.
enum Verdict { NOTHING, FIVE, OVERLINE, DOUBLE_FOUR, DOUBLE_THREE };  // forbidden from OVERLINE on
using testpos::DX, testpos::DY;

struct Reference {
    int width, height;
    int8_t cell[MAX_BOARD][MAX_BOARD] = {};

    // The cell k steps from (x, y) along d; outside the board counts as a block.
    int at(int x, int y, int d = 0, int k = 0) const {
        x += k * DX[d], y += k * DY[d];
        return x < 0 || y < 0 || x >= width || y >= height ? BLOCKED : cell[x][y];
    }
    // Length of the run of (x, y)'s colour along d, from lo to hi steps of (x, y).
    int run(int x, int y, int d, int* lo = nullptr, int* hi = nullptr) const {
        int a = 0, b = 0;
        while (at(x, y, d, a - 1) == at(x, y)) a--;
        while (at(x, y, d, b + 1) == at(x, y)) b++;
        if (lo) *lo = a, *hi = b;
        return b - a + 1;
    }
    // The longest run through (x, y), or 5 when some line holds exactly five.
    int longest(int x, int y) const {
        int n[4] = {run(x, y, 0), run(x, y, 1), run(x, y, 2), run(x, y, 3)};
        return std::ranges::count(n, 5) ? 5 : std::ranges::max(n);
    }
    bool forbidden(int x, int y, bool recurse = true) { return judge(x, y, recurse) >= OVERLINE; }

    // Why FIRST may or may not play on (x, y); NOTHING for an occupied square. Without recurse
    // every extension counts as playable. The cells come back unchanged.
    Verdict judge(int x, int y, bool recurse = true) {
        if (at(x, y) != EMPTY) return NOTHING;
        cell[x][y] = FIRST;
        int fours = 0, threes = 0, extensions[4][9], count[4] = {};
        Verdict v = longest(x, y) == 5 ? FIVE : longest(x, y) > 5 ? OVERLINE : NOTHING;
        for (int d = 0; d < 4 && v == NOTHING; d++) {
            uint32_t sets[9];  // the stones of each four, as bits of offsets from s + 8
            int n = 0;
            for (int k = -4, lo, hi; k <= 4; k++) {
                if (k == 0 || at(x, y, d, k) != EMPTY) continue;
                int8_t& e = cell[x + k * DX[d]][y + k * DY[d]];
                e = FIRST;
                int length = run(x, y, d, &lo, &hi);
                e = EMPTY;
                auto c = [&](int t) { return at(x, y, d, t); };
                if (k < lo || k > hi) continue;
                if (length == 5) {
                    uint32_t stones = ((2u << (hi + 8)) - (1u << (lo + 8))) & ~(1u << (k + 8));
                    if (std::find(sets, sets + n, stones) == sets + n) sets[n++] = stones;
                } else if (length == 4 && c(lo - 1) == EMPTY && c(hi + 1) == EMPTY &&
                           c(lo - 2) != FIRST && c(hi + 2) != FIRST) {
                    extensions[d][count[d]++] = k;
                }
            }
            fours += n;
            if (n > 0) count[d] = 0;  // a line with a four holds no three
        }
        if (v == NOTHING && fours >= 2) v = DOUBLE_FOUR;
        for (int d = 0; d < 4 && v == NOTHING && threes < 2; d++) {
            threes += std::any_of(extensions[d], extensions[d] + count[d], [&](int k) {
                int ex = x + k * DX[d], ey = y + k * DY[d];
                cell[ex][ey] = FIRST;
                bool five = longest(ex, ey) == 5;
                cell[ex][ey] = EMPTY;
                return !five && (!recurse || !forbidden(ex, ey));
            });
        }
        if (v == NOTHING && threes >= 2) v = DOUBLE_THREE;
        cell[x][y] = EMPTY;
        return v;
    }
};

// An empty Renju board, settled so that any make/unmake pair restores every byte.
Reference settledBoard(int width, int height) {
    testpos::emptyBoard(RULE_RENJU, width, height);
    testpos::settle();
    return {width, height};
}

// FIRST's stones, the square, whether FIRST may not play there. Rows: a double three; a three
// whose ends both lead to overlines is none; nested: (6, 11)'s split three on column 6 extends
// on (6, 9), whose row three extends on the double four (5, 9); row 7's extension (7, 7) makes
// five on the diagonal, so the row holds no three.
TEST(RenjuRule, KnownPositions) {
    const struct { std::vector<std::pair<int, int>> first; int x, y, forbidden; } cases[] = {
        {{{7, 5}, {7, 6}, {5, 7}, {6, 7}}, 7, 7, 1},
        {{{7, 5}, {7, 6}, {5, 7}, {6, 7}, {7, 2}, {7, 10}}, 7, 7, 0},
        {{{4, 9}, {5, 10}, {6, 8}, {6, 10}, {7, 8}, {7, 9}, {8, 6}, {9, 5}}, 6, 11, 1},
        {{{4, 4}, {4, 8}, {5, 5}, {6, 6}, {6, 7}, {8, 7}, {8, 8}}, 5, 7, 0}};
    for (const auto& c : cases) {
        Reference p = settledBoard(15, 15);
        for (auto [x, y] : c.first) makeMove(g_board, x * 32 + y, FIRST), p.cell[x][y] = FIRST;
        EXPECT_EQ(isForbidden(g_board, c.x * 32 + c.y), c.forbidden) << "engine, case " << &c - cases;
        EXPECT_EQ(p.forbidden(c.x, c.y), c.forbidden) << "reference, case " << &c - cases;
    }
}

// Random stones near a few centres (threes and fours are common), both colours, a few blocks;
// no run of five or more, which would end the game before the rule is asked.
std::vector<int> randomPosition(std::mt19937& rng, Reference& p) {
    auto r = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    int stones = r(4, 60), firstShare = r(55, 90), centres = r(1, 3);
    auto square = [&] { return r(0, boardWidth - 1) * 32 + r(0, boardHeight - 1); };
    std::vector<int> near;  // the centres, then the squares played
    for (int i = 0; i < centres; i++) near.push_back(square());
    for (int tries = 0; tries < stones * 4 && int(near.size()) < centres + stones; tries++) {
        int c = near[r(0, int(near.size()) - 1)], x = (c >> 5) + r(-2, 2), y = (c & 31) + r(-2, 2);
        if (r(0, 99) >= 85) c = square(), x = c >> 5, y = c & 31;
        if (p.at(x, y) != EMPTY) continue;
        int v = r(0, 99) < 3 ? BLOCKED : r(0, 99) < firstShare ? FIRST : SECOND;
        p.cell[x][y] = static_cast<int8_t>(v);
        if (v != BLOCKED && p.longest(x, y) >= 5) {
            p.cell[x][y] = EMPTY;
        } else {
            makeMove(g_board, x * 32 + y, v), near.push_back(x * 32 + y);
        }
    }
    return {near.begin() + centres, near.end()};
}

// Every empty square of random positions, the engine's answer leaving the board byte for byte
// as it was (but for list entries beyond the stone count, which an unmake does not clear).
TEST(RenjuRuleAgainstReference, RandomPositions) {
    const struct { int width, height, positions; unsigned seed; } geometries[] = {
        {15, 15, 1500, 1501}, {20, 20, 500, 2002}, {9, 9, 800, 909}, {12, 17, 600, 1217},
        {22, 10, 400, 2210}};
    int verdicts[5] = {}, decidedByRecursion = 0;
    for (auto g : geometries) {
        Reference p = settledBoard(g.width, g.height);
        std::mt19937 rng(g.seed);
        for (int n = 0; n < g.positions; n++) {
            std::vector<int> placed = randomPosition(rng, p);
            std::vector<char> before = testpos::boardBytes();
            for (int s = 0; s < SQUARE_SLOTS; s++) {
                if (p.at(s >> 5, s & 31) != EMPTY) continue;
                Verdict why = p.judge(s >> 5, s & 31);
                verdicts[why]++;
                decidedByRecursion += (why >= OVERLINE) != p.forbidden(s >> 5, s & 31, false);
                ASSERT_EQ(isForbidden(g_board, s), why >= OVERLINE)
                    << "seed " << g.seed << ", position " << n << ", square " << s;
            }
            ASSERT_TRUE(testpos::boardBytes() == before) << "position " << n << ", seed " << g.seed;
            for (auto s = placed.rbegin(); s != placed.rend(); ++s) {
                unmakeMove(g_board, *s, g_board.cell[*s]);
                p.cell[*s >> 5][*s & 31] = EMPTY;
            }
        }
    }
    // The positions must exercise every part of the rule, the recursion included.
    for (int v = FIVE; v <= DOUBLE_THREE; v++) EXPECT_GT(verdicts[v], 1000) << "verdict " << v;
    EXPECT_GT(decidedByRecursion, 500);
}

}  // namespace
