// The Renju rule for the first player: hand-made positions with known answers, then the
// engine's pattern-based test against the slow line-by-line reference on random positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>
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

using Squares = std::initializer_list<std::pair<int, int>>;

// Builds the Renju tables for the given geometry and empties the board. A make and unmake
// on every square then replaces the reset's provisional shape codes by the table's, so
// that from here on any make/unmake pair, light or full, restores every byte.
void setUpRenju(int width, int height) {
    boardWidth = width;
    boardHeight = height;
    boardSize = std::max(width, height);
    updateReach = 5;
    buildTables(RULE_RENJU);
    tablesRule = RULE_RENJU;
    resetBoardState();
    for (int x = 0; x < width; x++) {
        for (int y = 0; y < height; y++) {
            makeMove(x * 32 + y, FIRST);
            unmakeMove(x * 32 + y, FIRST);
        }
    }
}

ref::Position referencePosition() {
    ref::Position p;
    p.width = boardWidth;
    p.height = boardHeight;
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            p.cell[x][y] = static_cast<int8_t>(g_board.cell[x * 32 + y]);
        }
    }
    return p;
}

// The board as rows of y, x to the right; '*' marks the square in question.
std::string picture(int markX = -1, int markY = -1) {
    std::string out = "\n";
    for (int y = 0; y < boardHeight; y++) {
        for (int x = 0; x < boardWidth; x++) {
            int c = g_board.cell[x * 32 + y];
            out += (x == markX && y == markY) ? '*' : ".XO#"[c];
        }
        out += '\n';
    }
    return out;
}

BoardBase snapshot;

void takeSnapshot() { std::memcpy(&snapshot, &g_board, sizeof g_board); }

// Byte-identical, except list entries beyond the stone count (an unmake does not clear them).
bool boardUnchanged() {
    return std::memcmp(&snapshot, &g_board, offsetof(BoardBase, stones)) == 0 &&
           snapshot.stoneCount == g_board.stoneCount &&
           std::memcmp(snapshot.stones, g_board.stones, sizeof(uint32_t) * g_board.stoneCount) == 0;
}

class RenjuRule : public ::testing::Test {
protected:
    void SetUp() override { setUpRenju(15, 15); }

    void fresh() { setUpRenju(15, 15); }

    void place(Squares squares, int v) {
        for (auto [x, y] : squares) makeMove(x * 32 + y, v);
    }

    // Checks the engine and the reference against the expected answer; the engine must
    // leave the board exactly as it found it.
    void expectForbidden(int x, int y, int expected) {
        takeSnapshot();
        int got = isForbidden(x * 32 + y);
        EXPECT_TRUE(boardUnchanged()) << "isForbidden changed the board" << picture(x, y);
        EXPECT_EQ(got, expected) << "engine, square (" << x << "," << y << ")" << picture(x, y);
        ref::Position p = referencePosition();
        EXPECT_EQ(ref::forbidden(p, x, y), expected)
            << "reference, square (" << x << "," << y << ")" << picture(x, y);
    }
};

TEST_F(RenjuRule, FivesAndOverlines) {
    {
        SCOPED_TRACE("exact five is allowed whatever else the move makes");
        fresh();
        place({{7, 4}, {7, 5}, {7, 7}, {7, 8}}, FIRST);
        expectForbidden(7, 6, 0);
        // Two open threes through the five square as well: still a five.
        place({{5, 6}, {6, 6}, {5, 4}, {6, 5}}, FIRST);
        expectForbidden(7, 6, 0);
        // And a four on the anti-diagonal: (7, 6) (8, 5) (9, 4) (10, 3).
        place({{8, 5}, {9, 4}, {10, 3}}, FIRST);
        expectForbidden(7, 6, 0);
    }
    {
        SCOPED_TRACE("overline is forbidden unless another line makes five");
        fresh();
        place({{7, 3}, {7, 4}, {7, 5}, {7, 7}, {7, 8}}, FIRST);
        expectForbidden(7, 6, 1);
        // With an open three on the row as well: still an overline.
        place({{5, 6}, {6, 6}}, FIRST);
        expectForbidden(7, 6, 1);
        // Overline on the column, exactly five on the row: the five wins.
        place({{3, 6}, {4, 6}}, FIRST);
        expectForbidden(7, 6, 0);
    }
    {
        SCOPED_TRACE("second player and edges end runs");
        fresh();
        // X X X * X O: a SECOND stone right after the run leaves exactly five.
        place({{7, 3}, {7, 4}, {7, 5}, {7, 7}}, FIRST);
        place({{7, 8}}, SECOND);
        expectForbidden(7, 6, 0);
        // Five at the board's edge: (0, 0)..(0, 4).
        place({{0, 0}, {0, 1}, {0, 3}, {0, 4}}, FIRST);
        expectForbidden(0, 2, 0);
    }
}

TEST_F(RenjuRule, Fours) {
    {
        SCOPED_TRACE("double fours");
        fresh();
        // X . X * X . X: two fours on one line, completed on (7, 4) and on (7, 8).
        place({{7, 3}, {7, 5}, {7, 7}, {7, 9}}, FIRST);
        expectForbidden(7, 6, 1);
        // X X X . * . X X X on row 12: (1..3, 12), s = (5, 12), (7..9, 12).
        place({{1, 12}, {2, 12}, {3, 12}, {7, 12}, {8, 12}, {9, 12}}, FIRST);
        expectForbidden(5, 12, 1);
    }
    {
        SCOPED_TRACE("double four on two lines");
        fresh();
        place({{7, 4}, {7, 5}, {7, 6}, {4, 7}, {5, 7}, {6, 7}}, FIRST);
        place({{7, 3}, {3, 7}}, SECOND);
        expectForbidden(7, 7, 1);
    }
    {
        SCOPED_TRACE("straight four counts once");
        fresh();
        // . X X X * . on the column and a three on the row: one open four and one three.
        place({{7, 4}, {7, 5}, {7, 6}, {5, 7}, {6, 7}}, FIRST);
        expectForbidden(7, 7, 0);
        // A closed four and a three is allowed too.
        place({{7, 3}}, SECOND);
        expectForbidden(7, 7, 0);
    }
}

TEST_F(RenjuRule, Threes) {
    {
        SCOPED_TRACE("double three");
        fresh();
        place({{7, 5}, {7, 6}, {5, 7}, {6, 7}}, FIRST);
        expectForbidden(7, 7, 1);
    }
    {
        SCOPED_TRACE("split threes count");
        fresh();
        // Diagonal (4, 4) . (6, 6) *: X . X X; anti-diagonal (6, 8) * . (9, 5): X X . X.
        place({{4, 4}, {6, 6}, {6, 8}, {9, 5}}, FIRST);
        expectForbidden(7, 7, 1);
        // Without (9, 5) the anti-diagonal holds a two only.
        unmakeMove(9 * 32 + 5, FIRST);
        expectForbidden(7, 7, 0);
        // (4, 10) (5, 9) (6, 8) * is an open four on it: four and three, allowed.
        place({{5, 9}, {4, 10}}, FIRST);
        expectForbidden(7, 7, 0);
    }
    {
        SCOPED_TRACE("blocked three does not count");
        fresh();
        place({{7, 5}, {7, 6}, {5, 7}, {6, 7}}, FIRST);
        place({{4, 7}, {8, 7}}, SECOND);
        expectForbidden(7, 7, 0);
    }
    {
        SCOPED_TRACE("edge and one stone close a three");
        fresh();
        // Row 7 from the edge: . X X * . and column 3: (3, 5) (3, 6) *: two open threes.
        place({{1, 7}, {2, 7}, {3, 5}, {3, 6}}, FIRST);
        expectForbidden(3, 7, 1);
        // SECOND on (4, 7): the row's only four would be (0, 7)..(3, 7), with the edge on one
        // side and SECOND on the other.
        place({{4, 7}}, SECOND);
        expectForbidden(3, 7, 0);
    }
    {
        SCOPED_TRACE("three whose both ends lead to an overline is no three");
        fresh();
        // Column 7: X . . X X * . . X. (7, 4) makes X X X X whose completion (7, 3) joins (7, 2)
        // into six; (7, 8) makes a four whose completion (7, 9) joins (7, 10) into six. Neither
        // gives a straight four, so with the row's three (5, 7) (6, 7) * there is one three.
        place({{7, 2}, {7, 5}, {7, 6}, {7, 10}, {5, 7}, {6, 7}}, FIRST);
        expectForbidden(7, 7, 0);
        // Either far stone alone leaves the other end open: double three.
        setUpRenju(15, 15);
        place({{7, 2}, {7, 5}, {7, 6}, {5, 7}, {6, 7}}, FIRST);
        expectForbidden(7, 7, 1);
        setUpRenju(15, 15);
        place({{7, 5}, {7, 6}, {7, 10}, {5, 7}, {6, 7}}, FIRST);
        expectForbidden(7, 7, 1);
    }
    {
        SCOPED_TRACE("three whose only extension is forbidden does not count");
        fresh();
        // Column 7: (7, 5) (7, 6) * with SECOND on (7, 9): only (7, 4) makes a straight four.
        // (7, 4) with * on the board is an open four plus two threes (row 4 and a diagonal):
        // forbidden, so the column's three is not real and * has one three only.
        place({{7, 5}, {7, 6}, {5, 7}, {6, 7}, {5, 4}, {6, 4}, {5, 2}, {6, 3}}, FIRST);
        place({{7, 9}}, SECOND);
        expectForbidden(7, 7, 0);
        // The extension square on its own, with the stone on (7, 7).
        makeMove(7 * 32 + 7, FIRST);
        expectForbidden(7, 4, 1);
        unmakeMove(7 * 32 + 7, FIRST);
        // Open the column's other end and the three is real again: double three.
        unmakeMove(7 * 32 + 9, SECOND);
        expectForbidden(7, 7, 1);
    }
}

TEST_F(RenjuRule, ExtensionSquaresAreJudgedRecursively) {
    //        x 4 5 6 7 8 9
    //   y  5   . . . . . X     * = (6, 11). Diagonal (4, 9) (5, 10) *: an open three.
    //   y  6   . . . . X .     Column 6: (6, 8) . (6, 10) *: a split three whose only
    //   y  7   . . . . . .     extension is e = (6, 9). With * on the board, e is an open
    //   y  8   . . X X . .     four on column 6 plus threes on row 9 and on its
    //   y  9   X . . X . .     anti-diagonal; but row 9's extension (5, 9) is a double four
    //   y 10   . X X . . .     (row 9, and (9, 5) (8, 6) . (6, 8) on the anti-diagonal), so
    //   y 11   . . * . . .     e holds one real three and is playable: * is a double three.
    place({{4, 9}, {5, 10}, {6, 8}, {6, 10}, {7, 8}, {7, 9}, {8, 6}, {9, 5}}, FIRST);
    expectForbidden(6, 11, 1);
    makeMove(6 * 32 + 11, FIRST);
    expectForbidden(6, 9, 0);
    makeMove(6 * 32 + 9, FIRST);
    expectForbidden(5, 9, 1);
    unmakeMove(6 * 32 + 9, FIRST);
    unmakeMove(6 * 32 + 11, FIRST);

    // Four levels: * = (11, 8) makes threes on row 8 ((8, 8) (9, 8) . *) and on the
    // anti-diagonal ((9, 10) (10, 9) *). Row 8's only extension a = (10, 8) is a double
    // three (column 10 and the diagonal) as long as column 10's extension b = (10, 7) is
    // playable; b would be a double three as well, but its anti-diagonal's extension
    // c = (8, 9) is a double four (column 8 and (7, 10) (8, 9) (9, 8) (10, 7)). So b holds
    // one three, b is playable, a is forbidden, and * holds one real three.
    setUpRenju(15, 15);
    place({{7, 10}, {8, 6}, {8, 7}, {8, 8}, {9, 7}, {9, 8}, {9, 10}, {10, 6}, {10, 9}}, FIRST);
    expectForbidden(11, 8, 0);
    makeMove(11 * 32 + 8, FIRST);
    expectForbidden(10, 8, 1);
    makeMove(10 * 32 + 8, FIRST);
    expectForbidden(10, 7, 0);
    makeMove(10 * 32 + 7, FIRST);
    expectForbidden(8, 9, 1);
}

// The one place where the engine reads the rule more narrowly than the full Renju rule: an
// extension square on which FIRST makes five anyway does not turn a three into a real one.
// Here * = (5, 7) makes a split three on row 7 ((6, 7) . (8, 7)) whose extension (7, 7)
// also completes the diagonal (4, 4)..(8, 8), and a three on the anti-diagonal (4, 8) *
// (6, 6). The full rule counts both threes (a five is never forbidden): a double three.
// The engine counts one. The reference follows the engine's reading in the random
// comparison below and reports how often the full rule would answer differently.
TEST_F(RenjuRule, ExtensionSquareThatMakesFiveDoesNotCount) {
    place({{4, 4}, {4, 8}, {5, 5}, {6, 6}, {6, 7}, {8, 7}, {8, 8}}, FIRST);
    EXPECT_EQ(isForbidden(5 * 32 + 7), 0);
    ref::Position p = referencePosition();
    EXPECT_EQ(ref::forbidden(p, 5, 7, {.fiveSquareEndsThree = true}), 0);
    EXPECT_EQ(ref::forbidden(p, 5, 7), 1);
}

TEST_F(RenjuRule, OccupiedSquaresAreNeverForbidden) {
    place({{7, 5}, {7, 6}, {5, 7}, {6, 7}, {7, 7}}, FIRST);
    place({{3, 3}}, SECOND);
    makeMove(10 * 32 + 10, BLOCKED);
    expectForbidden(7, 7, 0);
    expectForbidden(3, 3, 0);
    expectForbidden(10, 10, 0);
}

// ---- random positions against the reference ----

struct Geometry {
    int width, height;
};

// Random stones around a few centres (threes and fours occur often), both colours, now and
// then a block. No stone makes five or more in a row of its own colour: such positions end
// the game before the rule is ever asked.
void randomPosition(std::mt19937& rng, std::vector<std::pair<int, int>>& placed) {
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    int stones = uniform(4, 60);
    int firstShare = uniform(55, 90);
    std::vector<std::pair<int, int>> centres;
    for (int i = uniform(1, 3); i > 0; i--) {
        centres.push_back({uniform(0, boardWidth - 1), uniform(0, boardHeight - 1)});
    }
    ref::Position p = referencePosition();
    for (int tries = 0; tries < stones * 4 && static_cast<int>(placed.size()) < stones; tries++) {
        int x, y;
        if (uniform(0, 99) < 85) {
            auto [cx, cy] = placed.empty() || uniform(0, 3) == 0
                                ? centres[uniform(0, static_cast<int>(centres.size()) - 1)]
                                : placed[uniform(0, static_cast<int>(placed.size()) - 1)];
            x = cx + uniform(-2, 2);
            y = cy + uniform(-2, 2);
        } else {
            x = uniform(0, boardWidth - 1);
            y = uniform(0, boardHeight - 1);
        }
        if (!p.isEmpty(x, y)) continue;
        int v = uniform(0, 99) < 3 ? BLOCKED : (uniform(0, 99) < firstShare ? FIRST : SECOND);
        if (v != BLOCKED) {
            p.cell[x][y] = static_cast<int8_t>(v);
            bool tooLong = false;
            for (int d = 0; d < 4; d++) {
                int length = 1;
                for (int sign : {-1, 1}) {
                    int k = 1;
                    while (p.at(x + sign * k * ref::DX[d], y + sign * k * ref::DY[d]) == v) k++;
                    length += k - 1;
                }
                tooLong |= length >= 5;
            }
            p.cell[x][y] = ref::EMPTY;
            if (tooLong) continue;
        }
        p.cell[x][y] = static_cast<int8_t>(v);
        makeMove(x * 32 + y, v);
        placed.push_back({x, y});
    }
}

struct Tally {
    int squares = 0;
    int verdicts[5] = {};          // by ref::Verdict
    int decidedByRecursion = 0;    // the answer changes when extension squares are not tested
    int differencesFromFullRule = 0;
};

// Every empty square of `positions` random positions on one geometry.
void compareWithReference(Geometry g, unsigned seed, int positions, Tally& tally) {
    setUpRenju(g.width, g.height);
    std::mt19937 rng(seed);
    const ref::Options engineReading{.fiveSquareEndsThree = true};
    const ref::Options noRecursion{.fiveSquareEndsThree = true, .extensionsAlwaysLegal = true};
    for (int n = 0; n < positions && !::testing::Test::HasFailure(); n++) {
        std::vector<std::pair<int, int>> placed;
        randomPosition(rng, placed);
        ref::Position p = referencePosition();
        takeSnapshot();
        for (int x = 0; x < g.width; x++) {
            for (int y = 0; y < g.height; y++) {
                if (!p.isEmpty(x, y)) continue;
                int engine = isForbidden(x * 32 + y);
                ref::Verdict why;
                int expected = ref::forbidden(p, x, y, engineReading, &why);
                tally.squares++;
                tally.verdicts[why]++;
                if (expected != ref::forbidden(p, x, y, noRecursion)) tally.decidedByRecursion++;
                if (expected != ref::forbidden(p, x, y)) tally.differencesFromFullRule++;
                ASSERT_EQ(engine, expected) << "position " << n << " of seed " << seed
                                            << ", square (" << x << "," << y << ")"
                                            << picture(x, y);
            }
        }
        ASSERT_TRUE(boardUnchanged()) << "position " << n << " of seed " << seed << picture();
        for (auto it = placed.rbegin(); it != placed.rend(); ++it) {
            int s = it->first * 32 + it->second;
            unmakeMove(s, g_board.cell[s]);
        }
    }
}

void reportTally(const Tally& t) {
    std::printf("%d squares: %d fives, %d overlines, %d double fours, %d double threes; "
                "%d decided by the recursion; %d read differently by the full rule\n",
                t.squares, t.verdicts[ref::FIVE], t.verdicts[ref::OVERLINE],
                t.verdicts[ref::DOUBLE_FOUR], t.verdicts[ref::DOUBLE_THREE],
                t.decidedByRecursion, t.differencesFromFullRule);
    // The positions must exercise every part of the rule, not only empty space.
    for (ref::Verdict v : {ref::FIVE, ref::OVERLINE, ref::DOUBLE_FOUR, ref::DOUBLE_THREE}) {
        EXPECT_GT(t.verdicts[v], 300) << "verdict " << v;
    }
    EXPECT_GT(t.decidedByRecursion, 100);
}

TEST(RenjuRuleAgainstReference, SquareBoards) {
    Tally t;
    compareWithReference({15, 15}, 1501, 1500, t);
    compareWithReference({20, 20}, 2002, 500, t);
    reportTally(t);
}

TEST(RenjuRuleAgainstReference, SmallAndRectangularBoards) {
    Tally t;
    compareWithReference({9, 9}, 909, 800, t);
    compareWithReference({12, 17}, 1217, 600, t);
    compareWithReference({22, 10}, 2210, 400, t);
    reportTally(t);
}

}  // namespace
