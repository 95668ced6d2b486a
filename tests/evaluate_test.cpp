// The static evaluation's corrections on top of the running pattern sums, each worked out by
// hand from the threats on the board.
#include <gtest/gtest.h>

#include <climits>
#include <sstream>

#include "board/board.h"
#include "protocol/game.h"
#include "eval/evaluate.h"
#include "tests/test_positions.h"

namespace {

constexpr int UNCHECKED = INT_MIN;

// Every correction ends in +50; the opponent's fours or threes are worth +100 to the mover.
// Five squares in two directions: +200 for the mover's own, -200 for the opponent's. The
// opponent's first open-four square: + room * 50 / 32, less room * 20 / 32 per three or four
// square of its own crowding it (none at x < 3). Renju: SECOND's three or four square on which
// FIRST may not play is worth 120 to SECOND where FIRST's rank is 158 or more (two threes),
// else 200 (an overline). Stones are "x,y" squares; toMove: FIRST, SECOND to move.
TEST(Evaluate, Corrections) {
    const struct { const char *what, *first, *second; int rule, toMove[2]; } cases[] = {
        {"empty board", "", "", RULE_RENJU, {50, 50}},
        {"closed fours on a column and a row", "2,2 2,3 2,4 2,5 8,10 9,10 10,10 11,10", "2,1 12,10",
         RULE_FREESTYLE, {200 + 50, 100 - 200 + 50}},
        {"closed fours on two columns", "2,2 2,3 2,4 2,5 8,8 8,9 8,10 8,11", "2,1 8,12",
         RULE_FREESTYLE, {50, 100 + 50}},
        {"open four: two five squares, one direction", "7,5 7,6 7,7 7,8", "", RULE_FREESTYLE,
         {50, UNCHECKED}},
        {"open-four square (1, 5) at the edge, room 23", "6,5", "2,5 3,5 4,5", RULE_FREESTYLE,
         {100 + 35 + 50, UNCHECKED}},
        {"open-four square (4, 5) crowded by (3, 5), not (8, 5)", "9,5", "5,5 6,5 7,5",
         RULE_FREESTYLE, {100 + 50 - 20 + 50, UNCHECKED}},
        {"SECOND's three square is FIRST's double three", "7,5 7,6 5,7 6,7", "8,8 9,9", RULE_RENJU,
         {-120 + 100 + 50, 120 + 100 + 50}},
        {"SECOND's three square is FIRST's overline", "7,2 7,3 7,4 7,6 7,7", "8,5 9,5", RULE_RENJU,
         {-200 + 100 + 50, 200 + 100 + 50}},
        {"SECOND's three square is playable", "7,5 7,6", "8,8 9,9", RULE_RENJU, {150, UNCHECKED}},
        {"no fouls outside Renju", "7,5 7,6 5,7 6,7", "8,8 9,9", RULE_STANDARD, {150, 150}},
    };
    for (const auto& c : cases) {
        for (int size : {15, 20}) {
            testpos::emptyBoard(c.rule, size, size);
            for (int side : {FIRST, SECOND}) {
                std::istringstream stones(side == FIRST ? c.first : c.second);
                for (int x, y; stones >> x && stones.ignore() >> y;) makeMove(g_board, x * 32 + y, side);
            }
            for (int side : {FIRST, SECOND}) {
                // Sums first: evaluate's light moves may settle a fresh board's scores.
                int sums = g_board.evalSum[side - 1] - g_board.evalSum[2 - side];
                if (int want = c.toMove[side - 1]; want != UNCHECKED) {
                    EXPECT_EQ(evaluate(g_board, side) - sums, want)
                        << c.what << ", size " << size << ", side " << side;
                }
                EXPECT_TRUE(*c.first || sums == 0) << "the empty board is even";
            }
        }
    }
}

}  // namespace
