// The static evaluation's corrections on top of the running pattern sums, each worked out by
// hand from the threats on the board.
#include <gtest/gtest.h>

#include <climits>
#include <utility>
#include <vector>

#include "board/board.h"
#include "protocol/game.h"
#include "tactics/evaluate.h"

namespace {

void setUpBoard(int rule, int size) {
    boardWidth = boardHeight = boardSize = size;
    recordCount = blockCount = 0;  // the rebuild replays the record
    rebuildBoard(rule);
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

// What evaluate adds to the difference of the pattern sums (read first: evaluate's light
// make and unmake may settle the scores of a fresh board).
int corrections(int side) {
    int sums = g_board.evalSum[side - 1] - g_board.evalSum[2 - side];
    return evaluate(0, side) - sums;
}

constexpr int UNCHECKED = INT_MIN;

struct Case {
    const char* what;
    int rule;
    std::vector<std::pair<int, int>> first, second;
    int firstToMove, secondToMove;  // corrections
};

// Every correction ends in +50. The opponent's fours or threes are worth +100 to the mover.
const Case CASES[] = {
    // Five squares in two directions: +200 for the mover's own, -200 for the opponent's.
    {"closed fours on a column and a row", RULE_FREESTYLE,
     {{2, 2}, {2, 3}, {2, 4}, {2, 5}, {8, 10}, {9, 10}, {10, 10}, {11, 10}}, {{2, 1}, {12, 10}},
     200 + 50, 100 - 200 + 50},
    {"closed fours on two columns", RULE_FREESTYLE,
     {{2, 2}, {2, 3}, {2, 4}, {2, 5}, {8, 8}, {8, 9}, {8, 10}, {8, 11}}, {{2, 1}, {8, 12}}, 50, 100 + 50},
    {"open four: two five squares, one direction", RULE_FREESTYLE, {{7, 5}, {7, 6}, {7, 7}, {7, 8}}, {},
     50, UNCHECKED},
    // The opponent's first open-four square: + room * 50 / 32, less room * 20 / 32 per three or
    // four square of its own crowding it. (1, 5), room 23: no crowding at x < 3, although the
    // four square (0, 5) lies where the crowding pattern looks.
    {"open-four square at the edge", RULE_FREESTYLE, {{6, 5}}, {{2, 5}, {3, 5}, {4, 5}}, 100 + 35 + 50,
     UNCHECKED},
    // (4, 5), room 32, crowded by the four square (3, 5) but not by (8, 5).
    {"crowded open-four square", RULE_FREESTYLE, {{9, 5}}, {{5, 5}, {6, 5}, {7, 5}}, 100 + 50 - 20 + 50,
     UNCHECKED},
    // Renju: SECOND's three or four square on which FIRST may not play is worth 120 to SECOND
    // where FIRST's rank is 158 or more (here two threes), else 200 (an overline).
    {"SECOND's three square is FIRST's double three", RULE_RENJU, {{7, 5}, {7, 6}, {5, 7}, {6, 7}},
     {{8, 8}, {9, 9}}, -120 + 100 + 50, 120 + 100 + 50},
    {"SECOND's three square is FIRST's overline", RULE_RENJU, {{7, 2}, {7, 3}, {7, 4}, {7, 6}, {7, 7}},
     {{8, 5}, {9, 5}}, -200 + 100 + 50, 200 + 100 + 50},
    {"SECOND's three square is playable", RULE_RENJU, {{7, 5}, {7, 6}}, {{8, 8}, {9, 9}}, 100 + 50,
     UNCHECKED},
    {"nothing is forbidden outside Renju", RULE_STANDARD, {{7, 5}, {7, 6}, {5, 7}, {6, 7}},
     {{8, 8}, {9, 9}}, 100 + 50, 100 + 50},
};

TEST(Evaluate, Corrections) {
    for (const Case& c : CASES) {
        setUpBoard(c.rule, 15);
        for (auto [x, y] : c.first) makeMove(x * 32 + y, FIRST);
        for (auto [x, y] : c.second) makeMove(x * 32 + y, SECOND);
        EXPECT_EQ(corrections(FIRST), c.firstToMove) << c.what << ", FIRST to move";
        if (c.secondToMove != UNCHECKED) {
            EXPECT_EQ(corrections(SECOND), c.secondToMove) << c.what << ", SECOND to move";
        }
    }
}

}  // namespace
