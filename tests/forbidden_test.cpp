// The Renju rule for the first player: hand-made positions with known answers, then the engine
// against the independent slow reference (tests/renju_reference.h) on random positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "board/board.h"
#include "board/forbidden.h"
#include "protocol/game.h"
#include "tests/renju_reference.h"

namespace {

namespace ref = renju_reference;
using Squares = std::vector<std::pair<int, int>>;
constexpr ref::Options ENGINE_READING{.fiveSquareEndsThree = true};

// An empty Renju board. A make and unmake on every square replaces the reset's provisional
// shape codes, so that from then on any make/unmake pair restores every byte.
void setUpRenju(int width, int height) {
    boardWidth = width;
    boardHeight = height;
    boardSize = std::max(width, height);
    rebuildBoard(RULE_RENJU);
    for (int x = 0; x < width; x++) {
        for (int y = 0; y < height; y++) makeMove(x * 32 + y, FIRST), unmakeMove(x * 32 + y, FIRST);
    }
}

ref::Position referencePosition() {
    ref::Position p;
    p.width = boardWidth;
    p.height = boardHeight;
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) p.cell[x][y] = int8_t(g_board.cell[x * 32 + y]);
    }
    return p;
}

// The board as rows of y, x to the right; '*' marks the square in question.
std::string picture(int markX, int markY) {
    std::string out = "\n";
    for (int y = 0; y < boardHeight; y++) {
        for (int x = 0; x < boardWidth; x++) {
            out += x == markX && y == markY ? '*' : ".XO#"[g_board.cell[x * 32 + y]];
        }
        out += '\n';
    }
    return out;
}

BoardBase snapshot;

// Byte-identical, except list entries beyond the stone count (an unmake does not clear them).
bool boardUnchanged() {
    return std::memcmp(&snapshot, &g_board, offsetof(BoardBase, stones)) == 0 &&
           snapshot.stoneCount == g_board.stoneCount &&
           std::memcmp(snapshot.stones, g_board.stones, sizeof(uint32_t) * g_board.stoneCount) == 0;
}

void takeBack(const std::vector<int>& placed) {
    for (auto it = placed.rbegin(); it != placed.rend(); ++it) unmakeMove(*it, g_board.cell[*it]);
}

struct Case {
    Squares first, second;
    int x, y, forbidden;
    Squares blocks = {};
};

Squares operator+(Squares a, const Squares& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Squares FIVE = {{7, 4}, {7, 5}, {7, 7}, {7, 8}}, SIX = FIVE + Squares{{7, 3}};
const Squares THREES = {{7, 5}, {7, 6}, {5, 7}, {6, 7}};  // (7, 7) makes two open threes
const Squares EXTENSION = THREES + Squares{{5, 4}, {6, 4}, {5, 2}, {6, 3}};
const Squares NEST3 = {{4, 9}, {5, 10}, {6, 8}, {6, 10}, {7, 8}, {7, 9}, {8, 6}, {9, 5}};
const Squares NEST4 = {{7, 10}, {8, 6}, {8, 7}, {8, 8}, {9, 7}, {9, 8}, {9, 10}, {10, 6}, {10, 9}};

// Each row: FIRST's and SECOND's stones, the square, and whether FIRST may not play there.
const Case CASES[] = {
    // Exactly five, also with two threes and a four through the square, with SECOND right after
    // the run, at the edge.
    {FIVE, {}, 7, 6, 0},
    {FIVE + Squares{{5, 6}, {6, 6}, {5, 4}, {6, 5}, {8, 5}, {9, 4}, {10, 3}}, {}, 7, 6, 0},
    {{{7, 3}, {7, 4}, {7, 5}, {7, 7}}, {{7, 8}}, 7, 6, 0},
    {{{0, 0}, {0, 1}, {0, 3}, {0, 4}}, {}, 0, 2, 0},
    // Overline, also with a three on the row; with exactly five on the row the five wins.
    {SIX + Squares{{5, 6}, {6, 6}}, {}, 7, 6, 1},
    {SIX + Squares{{3, 6}, {4, 6}, {5, 6}, {6, 6}}, {}, 7, 6, 0},
    // Double four on one line (X.X*X.X and XXX.*.XXX) and on two lines.
    {{{7, 3}, {7, 5}, {7, 7}, {7, 9}}, {}, 7, 6, 1},
    {{{1, 12}, {2, 12}, {3, 12}, {7, 12}, {8, 12}, {9, 12}}, {}, 5, 12, 1},
    {{{7, 4}, {7, 5}, {7, 6}, {4, 7}, {5, 7}, {6, 7}}, {{7, 3}, {3, 7}}, 7, 7, 1},
    // Four-three with an open or a closed four (a straight four counts once).
    {THREES + Squares{{7, 4}}, {}, 7, 7, 0},
    {THREES + Squares{{7, 4}}, {{7, 3}}, 7, 7, 0},
    {{{4, 4}, {6, 6}, {6, 8}, {5, 9}, {4, 10}}, {}, 7, 7, 0},
    // Double three, also of split threes; a two is no three.
    {THREES, {}, 7, 7, 1},
    {{{4, 4}, {6, 6}, {6, 8}, {9, 5}}, {}, 7, 7, 1},
    {{{4, 4}, {6, 6}, {6, 8}}, {}, 7, 7, 0},
    // A three closed by SECOND, or by the edge and SECOND, does not count.
    {THREES, {{4, 7}, {8, 7}}, 7, 7, 0},
    {{{1, 7}, {2, 7}, {3, 5}, {3, 6}}, {}, 3, 7, 1},
    {{{1, 7}, {2, 7}, {3, 5}, {3, 6}}, {{4, 7}}, 3, 7, 0},
    // Column X..XX*..X: both ends of the three lead to an overline, so it is no three; either
    // far stone alone leaves one end open.
    {THREES + Squares{{7, 2}, {7, 10}}, {}, 7, 7, 0},
    {THREES + Squares{{7, 2}}, {}, 7, 7, 1},
    {THREES + Squares{{7, 10}}, {}, 7, 7, 1},
    // The column's only extension (7, 4) is forbidden (an open four and two threes), so the
    // column holds no three; with (7, 9) free it has a second extension.
    {EXTENSION, {{7, 9}}, 7, 7, 0},
    {EXTENSION + Squares{{7, 7}}, {{7, 9}}, 7, 4, 1},
    {EXTENSION, {}, 7, 7, 1},
    // Nested: (6, 11)'s split three on column 6 extends on (6, 9), whose row three extends on
    // the double four (5, 9); so (6, 9) is playable and (6, 11) a double three.
    {NEST3, {}, 6, 11, 1},
    {NEST3 + Squares{{6, 11}}, {}, 6, 9, 0},
    {NEST3 + Squares{{6, 11}, {6, 9}}, {}, 5, 9, 1},
    // Four levels: (11, 8)'s row three extends on (10, 8), forbidden as its column three's
    // extension (10, 7) is playable, as (10, 7)'s anti-diagonal extension (8, 9) is a double four.
    {NEST4, {}, 11, 8, 0},
    {NEST4 + Squares{{11, 8}}, {}, 10, 8, 1},
    {NEST4 + Squares{{11, 8}, {10, 8}}, {}, 10, 7, 0},
    {NEST4 + Squares{{11, 8}, {10, 8}, {10, 7}}, {}, 8, 9, 1},
    // The engine's reading: row 7's extension (7, 7) makes five on the diagonal, so it does not
    // make the three real (the full rule would call (5, 7) a double three).
    {{{4, 4}, {4, 8}, {5, 5}, {6, 6}, {6, 7}, {8, 7}, {8, 8}}, {}, 5, 7, 0},
    // Occupied squares are never forbidden.
    {THREES + Squares{{7, 7}}, {{3, 3}}, 7, 7, 0, {{10, 10}}},
    {THREES + Squares{{7, 7}}, {{3, 3}}, 3, 3, 0, {{10, 10}}},
    {THREES + Squares{{7, 7}}, {{3, 3}}, 10, 10, 0, {{10, 10}}},
};

TEST(RenjuRule, HandMadePositions) {
    setUpRenju(15, 15);
    for (const Case& c : CASES) {
        std::vector<int> placed;
        for (auto [stones, v] : {std::pair{&c.first, FIRST}, {&c.second, SECOND}, {&c.blocks, BLOCKED}}) {
            for (auto [x, y] : *stones) makeMove(x * 32 + y, v), placed.push_back(x * 32 + y);
        }
        std::memcpy(&snapshot, &g_board, sizeof g_board);
        EXPECT_EQ(isForbidden(c.x * 32 + c.y), c.forbidden) << "engine" << picture(c.x, c.y);
        EXPECT_TRUE(boardUnchanged()) << "isForbidden changed the board" << picture(c.x, c.y);
        EXPECT_EQ(referencePosition().forbidden(c.x, c.y, ENGINE_READING), c.forbidden)
            << "reference" << picture(c.x, c.y);
        takeBack(placed);
    }
}

// Random stones near a few centres (threes and fours are common), both colours, a few blocks;
// no run of five or more, which would end the game before the rule is asked.
std::vector<int> randomPosition(std::mt19937& rng, ref::Position& p) {
    auto r = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    int stones = r(4, 60), firstShare = r(55, 90);
    std::vector<int> placed, centres;
    for (int i = r(1, 3); i > 0; i--) {
        centres.push_back(r(0, boardWidth - 1) * 32 + r(0, boardHeight - 1));
    }
    for (int tries = 0; tries < stones * 4 && static_cast<int>(placed.size()) < stones; tries++) {
        int x = r(0, boardWidth - 1), y = r(0, boardHeight - 1);
        if (r(0, 99) < 85) {
            const std::vector<int>& near = placed.empty() || r(0, 3) == 0 ? centres : placed;
            int c = near[r(0, static_cast<int>(near.size()) - 1)];
            x = (c >> 5) + r(-2, 2);
            y = (c & 31) + r(-2, 2);
        }
        if (p.at(x, y) != ref::EMPTY) continue;
        int v = r(0, 99) < 3 ? BLOCKED : r(0, 99) < firstShare ? FIRST : SECOND;
        p.cell[x][y] = static_cast<int8_t>(v);
        bool tooLong = false;
        for (int d = 0; d < 4 && v != BLOCKED; d++) tooLong |= p.run(x, y, d) >= 5;
        if (tooLong) {
            p.cell[x][y] = ref::EMPTY;
            continue;
        }
        makeMove(x * 32 + y, v);
        placed.push_back(x * 32 + y);
    }
    return placed;
}

// Every empty square of random positions on square, small and rectangular boards.
TEST(RenjuRuleAgainstReference, RandomPositions) {
    struct { int width, height, positions; unsigned seed; } const GEOMETRIES[] = {
        {15, 15, 1500, 1501}, {20, 20, 500, 2002}, {9, 9, 800, 909}, {12, 17, 600, 1217},
        {22, 10, 400, 2210}};
    int verdicts[5] = {}, decidedByRecursion = 0;
    for (auto g : GEOMETRIES) {
        setUpRenju(g.width, g.height);
        std::mt19937 rng(g.seed);
        for (int n = 0; n < g.positions; n++) {
            ref::Position p = referencePosition();
            std::vector<int> placed = randomPosition(rng, p);
            std::memcpy(&snapshot, &g_board, sizeof g_board);
            for (int x = 0; x < g.width; x++) {
                for (int y = 0; y < g.height; y++) {
                    if (p.at(x, y) != ref::EMPTY) continue;
                    ref::Verdict why = p.judge(x, y, ENGINE_READING);
                    verdicts[why]++;
                    bool forbidden = why >= ref::OVERLINE;
                    decidedByRecursion += forbidden != p.forbidden(x, y, {true, true});
                    ASSERT_EQ(isForbidden(x * 32 + y), forbidden)
                        << "position " << n << ", seed " << g.seed << picture(x, y);
                }
            }
            ASSERT_TRUE(boardUnchanged()) << "position " << n << ", seed " << g.seed << picture(-1, -1);
            takeBack(placed);
        }
    }
    // The positions must exercise every part of the rule, the recursion included.
    for (int v = ref::FIVE; v <= ref::DOUBLE_THREE; v++) EXPECT_GT(verdicts[v], 1000) << "verdict " << v;
    EXPECT_GT(decidedByRecursion, 500);
}

}  // namespace
