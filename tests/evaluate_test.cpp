// The static evaluation's corrections on top of the running pattern sums, each worked out
// by hand from the threats on the board.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "board/board.h"
#include "protocol/game.h"
#include "tactics/evaluate.h"

namespace {

using Squares = std::initializer_list<std::pair<int, int>>;

void setUpBoard(int forRule, int size) {
    boardWidth = boardHeight = boardSize = size;
    updateReach = forRule == RULE_FREESTYLE ? 4 : 5;
    buildTables(forRule);
    tablesRule = forRule;
    resetBoardState();
}

void place(Squares squares, int v) {
    for (auto [x, y] : squares) makeMove(x * 32 + y, v);
}

// What evaluate adds to the difference of the two pattern sums for the side to move.
int corrections(int side) {
    int base = g_board.evalSum[side - 1] - g_board.evalSum[2 - side];
    return evaluate(0, side) - base;
}

TEST(Evaluate, EmptyBoardIsWorthFifty) {
    for (int rule : {RULE_FREESTYLE, RULE_RENJU}) {
        for (int size : {15, 20}) {
            setUpBoard(rule, size);
            EXPECT_EQ(evaluate(0, FIRST), 50) << "rule " << rule << ", size " << size;
            EXPECT_EQ(evaluate(0, SECOND), 50) << "rule " << rule << ", size " << size;
        }
    }
}

// Step by step, what the side to move gains when its own five and open-four squares lie in
// two directions, and loses when the opponent's do.
TEST(Evaluate, WinningThreatsSpreadOverDirections) {
    {
        SCOPED_TRACE("two directions");
        // FIRST's closed fours: column 2 (SECOND on (2, 1)), five square (2, 6) in
        // direction 0; row 10 (SECOND on (12, 10)), five square (7, 10) in direction 1.
        setUpBoard(RULE_FREESTYLE, 15);
        place({{2, 2}, {2, 3}, {2, 4}, {2, 5}, {8, 10}, {9, 10}, {10, 10}, {11, 10}}, FIRST);
        place({{2, 1}, {12, 10}}, SECOND);
        ASSERT_TRUE(inThreat(T_FIVE, 0, 2 * 32 + 6));
        ASSERT_TRUE(inThreat(T_FIVE, 0, 7 * 32 + 10));
        ASSERT_FALSE(hasThreat(T_OPEN_FOUR, 0));
        // FIRST to move: the spread bonus only (SECOND has no threats).
        EXPECT_EQ(corrections(FIRST), 200 + 50);
        // SECOND to move: FIRST's fours are worth 100 to the mover, their spread costs 200.
        EXPECT_EQ(corrections(SECOND), 100 - 200 + 50);
    }
    {
        SCOPED_TRACE("one direction");
        // Column 2 as before, the second four on column 8: (8, 8)..(8, 11), SECOND on (8, 12).
        setUpBoard(RULE_FREESTYLE, 15);
        place({{2, 2}, {2, 3}, {2, 4}, {2, 5}, {8, 8}, {8, 9}, {8, 10}, {8, 11}}, FIRST);
        place({{2, 1}, {8, 12}}, SECOND);
        ASSERT_TRUE(inThreat(T_FIVE, 0, 8 * 32 + 7));
        EXPECT_EQ(corrections(FIRST), 50);
        EXPECT_EQ(corrections(SECOND), 100 + 50);
        // An open four: two five squares, both in direction 0.
        setUpBoard(RULE_FREESTYLE, 15);
        place({{7, 5}, {7, 6}, {7, 7}, {7, 8}}, FIRST);
        EXPECT_EQ(corrections(FIRST), 50);
    }
}

// The opponent's open-four squares: the first one's room, less its crowding by the
// opponent's four and three squares around each.
TEST(Evaluate, OpponentsOpenFourSquares) {
    {
        SCOPED_TRACE("near the edge");
        // SECOND's three (2, 5) (3, 5) (4, 5) with FIRST on (6, 5): (5, 5) makes a closed
        // four, (1, 5) the only open four. A square at x < 3 has crowding 0, although the
        // SECOND four square (0, 5) lies where the crowding pattern would look.
        setUpBoard(RULE_FREESTYLE, 15);
        place({{2, 5}, {3, 5}, {4, 5}}, SECOND);
        place({{6, 5}}, FIRST);
        ASSERT_EQ(g_board.threatRowMask[T_OPEN_FOUR][1], 1u << 1);
        ASSERT_TRUE(inThreat(T_OPEN_FOUR, 1, 1 * 32 + 5));
        ASSERT_TRUE(inThreat(T_FOUR, 1, 0 * 32 + 5));
        // SECOND's room on (1, 5): column 8, row 1 + 4, both diagonals 1 + 4: 23.
        // First-square term (23 * 50) >> 5 = 35; SECOND's fours are worth 100 to SECOND.
        EXPECT_EQ(corrections(FIRST), 100 + 35 + 50);
    }
    {
        SCOPED_TRACE("crowded");
        // SECOND's three (5, 5) (6, 5) (7, 5) with FIRST on (9, 5): (4, 5) is the only
        // open-four square, (3, 5) and (8, 5) make fours. (3, 5) lies in the crowding pattern
        // of (4, 5) (row x - 1), (8, 5) does not: crowding 1.
        setUpBoard(RULE_FREESTYLE, 15);
        place({{5, 5}, {6, 5}, {7, 5}}, SECOND);
        place({{9, 5}}, FIRST);
        ASSERT_EQ(g_board.threatRowMask[T_OPEN_FOUR][1], 1u << 4);
        ASSERT_TRUE(inThreat(T_FOUR, 1, 3 * 32 + 5));
        ASSERT_TRUE(inThreat(T_FOUR, 1, 8 * 32 + 5));
        // Room 32 on (4, 5): first-square term (32 * 50) >> 5 = 50, crowding
        // (32 * 20 * 1) >> 5 = 20.
        EXPECT_EQ(corrections(FIRST), 100 + 50 - 20 + 50);
    }
}

// Renju: SECOND's three and four squares on which FIRST may not play are worth more to
// SECOND, by FIRST's own rank there.
TEST(Evaluate, RenjuSecondsThreatsOnFirstsForbiddenSquares) {
    {
        SCOPED_TRACE("double-three square");
        // FIRST's double-three square (7, 7): (7, 5) (7, 6) * and (5, 7) (6, 7) *. SECOND's
        // (8, 8) (9, 9) make (7, 7) a three square of SECOND's (with (6, 6), (10, 10) and
        // (11, 11), all playable for FIRST). FIRST's rank on (7, 7) is that of two threes,
        // 175 + 175 >= 158: weight 120.
        setUpBoard(RULE_RENJU, 15);
        place({{7, 5}, {7, 6}, {5, 7}, {6, 7}}, FIRST);
        place({{8, 8}, {9, 9}}, SECOND);
        ASSERT_TRUE(inThreat(T_THREE, 1, 7 * 32 + 7));
        ASSERT_FALSE(hasThreat(T_FOUR, 1));
        // FIRST to move: -120, and SECOND's threes are worth 100 to SECOND.
        EXPECT_EQ(corrections(FIRST), -120 + 100 + 50);
        // SECOND to move: +120; FIRST's three squares are not all forbidden, so they are
        // worth the full 100 to SECOND.
        EXPECT_EQ(corrections(SECOND), 120 + 100 + 50);
    }
    {
        SCOPED_TRACE("overline square");
        // FIRST on column 7: X X X * X X from (7, 2) to (7, 7), so * = (7, 5) is an
        // overline square, rank 0 on its column and below 158 in all: weight 200. SECOND's
        // (8, 5) (9, 5) make it a three square of SECOND's.
        setUpBoard(RULE_RENJU, 15);
        place({{7, 2}, {7, 3}, {7, 4}, {7, 6}, {7, 7}}, FIRST);
        place({{8, 5}, {9, 5}}, SECOND);
        ASSERT_TRUE(inThreat(T_THREE, 1, 7 * 32 + 5));
        ASSERT_FALSE(hasThreat(T_FOUR, 1));
        ASSERT_FALSE(hasThreat(T_FIVE, 0));
        ASSERT_FALSE(hasThreat(T_OPEN_FOUR, 0));
        EXPECT_EQ(corrections(FIRST), -200 + 100 + 50);
        EXPECT_EQ(corrections(SECOND), 200 + 100 + 50);
    }
    {
        SCOPED_TRACE("playable squares");
        // The same SECOND stones with FIRST's two on column 7 only: (7, 7) is playable.
        setUpBoard(RULE_RENJU, 15);
        place({{7, 5}, {7, 6}}, FIRST);
        place({{8, 8}, {9, 9}}, SECOND);
        EXPECT_EQ(corrections(FIRST), 100 + 50);
        // Outside Renju nothing is forbidden.
        setUpBoard(RULE_STANDARD, 15);
        place({{7, 5}, {7, 6}, {5, 7}, {6, 7}}, FIRST);
        place({{8, 8}, {9, 9}}, SECOND);
        EXPECT_EQ(corrections(FIRST), 100 + 50);
        EXPECT_EQ(corrections(SECOND), 100 + 50);
    }
}

}  // namespace
