// The alpha-beta search at fixed depths and node budgets: decisions and forced replies,
// the defence against open threes, wins by fours (against the four-threat search on random
// positions) and by fours and threes, the root's interrupted iterations and stopping rules,
// the time-budget feedback, determinism and the index guards.
#include <gtest/gtest.h>

#include <climits>
#include <set>

#include "search/candidates.h"
#include "search/rootsearch.h"
#include "search/timecontrol.h"
#include "tactics/nodesearch.h"
#include "tactics/threatsearch.h"
#include "tests/test_positions.h"

namespace {

using namespace testpos;

struct Result {
    int32_t value;
    int move;
    int64_t nodes;
    int depth;
};

class Search : public ::testing::Test {
protected:
    void TearDown() override {
        nodeLimit = 2000000000;
        timeoutTurn = 30000;
        timeLeft = 100000000;
    }

    // Cold tables and killers, as a new game starts.
    static Result run(int side, int depth, int64_t nodeBudget = 0) {
        clearTables();
        resetSearchState();
        hashAge = 0;
        int32_t v = fixedDepthSearch(side, depth, nodeBudget);
        return {v, bestX < 0 ? -1 : sq(bestX, bestY), g_nodeCount, rootDepth};
    }

    // Squares marked as searched by the last node at the ply.
    static std::set<int> searchedSquares(int ply) {
        std::set<int> out;
        for (int s = 0; s < SQUARE_SLOTS; s++) {
            if (onBoard(s) && searchedAt(ply, s)) out.insert(s);
        }
        return out;
    }
};

const Picture FOUR_TO_BLOCK = from(5, {"", "", "...XOOOO..", "", "..X...X"});

TEST_F(Search, TakesFivesAndBlocksThemWithOneMove) {
    for (int r : RULES) {
        for (bool swap : {false, true}) {
            SCOPED_TRACE(testing::Message() << "rule " << r << (swap ? " colours swapped" : ""));
            int x = swap ? SECOND : FIRST;
            buildPosition(r, from(5, {"", "", "...XXXX..", "", ".O.O.O"}), swap);
            Result won = run(x, 10);
            EXPECT_EQ(won.value, WIN_SCORE + 1);
            EXPECT_EQ(won.depth, 1);

            // The block is the only move, at every depth, and the loop stops after depth 5.
            buildPosition(r, FOUR_TO_BLOCK, swap);
            Result blocked = run(x, 12);
            EXPECT_EQ(blocked.move, sq(8, 7));
            EXPECT_EQ(searchedSquares(0), std::set<int>{sq(8, 7)});
            EXPECT_EQ(blocked.depth, 5);
            EXPECT_EQ(singleCandidate, 1);
            rootDepth = 4;  // a node at depth 0, where it would otherwise be a leaf
            nodeSearch(0, -100, 100, x, 0);
            EXPECT_EQ(searchedSquares(4), std::set<int>{sq(8, 7)});
        }
    }
}

// The opponent's three in row 7 ('O'), with what the defence list must hold: the open-four
// squares, the extra defence squares and the side's own four squares (column 1).
struct DefenceCase {
    const char* row;
    std::set<int> squares;
};

TEST_F(Search, OpenThreesAreMetByTheDefenceListOnly) {
    const std::set<int> OWN_FOURS = {sq(1, 5), sq(1, 6)};
    const DefenceCase CASES[] = {
        {"....O.OO....", {sq(5, 7), sq(3, 7), sq(8, 7)}},  // split: the gap and both ends
        {".....OOO....", {sq(4, 7), sq(8, 7)}},             // straight: both ends, no more
        {"...OOO.X....", {sq(2, 7), sq(6, 7), sq(1, 7)}},   // own stone on one side
    };
    for (int r : RULES) {
        for (bool swap : {false, true}) {
            for (const DefenceCase& c : CASES) {
                SCOPED_TRACE(testing::Message() << "rule " << r << " swap " << swap << " row " << c.row);
                int side = swap ? SECOND : FIRST;
                buildPosition(r, {"", ".O", ".X", ".X", ".X", "", "", c.row, "", "", "", "", "............X"}, swap);
                std::set<int> expected = c.squares;
                expected.insert(OWN_FOURS.begin(), OWN_FOURS.end());
                Result res = run(side, 4);
                EXPECT_EQ(searchedSquares(0), expected);
                EXPECT_TRUE(expected.count(res.move));
            }
        }
    }
}

TEST_F(Search, WinsByFoursAndThrees) {
    // A four-three (every rule, both colours) and a double three (not for FIRST under Renju).
    const Picture FOUR_THREE = from(3, {"", ".......O", ".......X", ".......X", ".......X", ".....XX", "", "", "O"});
    const Picture THREE_THREE = from(3, {"", "", "", ".......X", ".......X", ".....XX", "", "", "OO.O"});
    for (int r : RULES) {
        for (bool swap : {false, true}) {
            SCOPED_TRACE(testing::Message() << "rule " << r << " swap " << swap);
            int side = swap ? SECOND : FIRST;
            buildPosition(r, FOUR_THREE, swap);
            Result res = run(side, 6);
            EXPECT_GE(res.value, MATE_BOUND);
            EXPECT_EQ(res.move, sq(7, 8));
            buildPosition(r, THREE_THREE, swap);
            res = run(side, 6);
            if (r == RULE_RENJU && side == FIRST) {
                EXPECT_NE(res.move, sq(7, 8));  // forbidden
            } else {
                EXPECT_GE(res.value, MATE_BOUND);
                EXPECT_EQ(res.move, sq(7, 8));
            }
        }
    }

    // Every win the four-threat search finds on random positions, the search finds too.
    std::mt19937 rng(77);
    std::vector<int> placed;
    for (int r : RULES) {
        int wins = 0;
        for (int n = 0; n < 400 && wins < 25; n++) {
            randomPosition(rng, r, placed);
            for (int side : {FIRST, SECOND}) {
                clearTables();
                rootDepth = 0;
                timeLimit = INT32_MAX;
                searchStartTime = clockMs();
                g_abort = 0;
                if (threatSearch(0, side, 0, 0) <= 0) continue;
                wins++;
                ASSERT_GE(run(side, 3).value, MATE_BOUND) << "rule " << r << " position " << n << " side " << side;
            }
        }
        EXPECT_GE(wins, 25) << "rule " << r;
    }
}

TEST_F(Search, NoLegalMoveLosesUnlessTheBoardIsFull) {
    // Renju, FIRST to move: SECOND's five square makes an overline for FIRST.
    buildPosition(RULE_RENJU, from(2, {".....X", ".....O", ".....O", ".....O", ".....O", "..XXX.XX"}));
    Result res = run(FIRST, 10);
    EXPECT_EQ(res.depth, 1);
    EXPECT_EQ(res.value, -(1 + 9999998));
    EXPECT_EQ(res.move, -1);

    // A full board is a draw, blocks or not (no line of five fits on 4 x 4).
    for (int blocks : {0, 2}) {
        emptyBoard(RULE_RENJU, 4, 4);
        for (int s = 0; s < 16; s++) makeMove(sq(s / 4, s % 4), s < blocks ? BLOCKED : 1 + (s / 2) % 2);
        EXPECT_EQ(run(FIRST, 3).value, 0);
        EXPECT_EQ(rootSearch(1, -100000000, 100000000, SECOND, 0), 0);
    }
}

TEST_F(Search, InterruptedIterationsCountFromTheThirdRootMove) {
    buildPosition(RULE_STANDARD, from(7, {".......XOX", ".......XO", ".......O"}));
    // Nodes of the whole loop to each depth: a budget between two of them stops that iteration.
    int64_t upTo[7] = {0};
    for (int d = 1; d <= 6; d++) upTo[d] = run(FIRST, d).nodes;
    int thrown = 0, duringSecond = 0, counted = 0;
    for (int i = 1; i < 60; i++) {
        int64_t budget = upTo[6] * i / 60;
        int stopped = 1;
        while (upTo[stopped] < budget) stopped++;
        Result cut = run(FIRST, 6, budget);
        ASSERT_EQ(g_abort, 1);
        if (rootMovesCompleted < 2) {
            // Thrown away: the move and value are the previous iteration's.
            thrown++;
            duringSecond += rootMovesCompleted == 1;
            EXPECT_EQ(cut.depth, stopped - 1) << i;
            Result previous = run(FIRST, cut.depth);
            EXPECT_EQ(cut.value, previous.value) << i;
            EXPECT_EQ(cut.move, previous.move) << i;
        } else {
            counted++;
            EXPECT_EQ(cut.depth, stopped) << i;
            EXPECT_NE(cut.value, 0) << i;  // a best value of 0 is reported as 1
            EXPECT_TRUE(open(cut.move)) << i;
        }
    }
    EXPECT_GT(duringSecond, 0);
    EXPECT_GT(thrown, duringSecond);
    EXPECT_GT(counted, 0);
}

TEST_F(Search, StableBestMoveEndsTheLoopUnlessTimeIsPlenty) {
    buildPosition(RULE_FREESTYLE, from(6, {"", ".....OOO", "......X"}));
    for (bool plenty : {false, true}) {
        clearTables();
        resetSearchState();
        // The budget is 400000 ms; without plenty of time (9600000 / 222 free squares is less)
        // the loop ends once the best move has stood five times, an eighth of it having passed.
        timeoutTurn = 400000;
        timeLeft = plenty ? 1000000000 : 9600000;
        stableCount = largeValue = scoreDropped = extensionFlag = 0;
        plentyOfTime = false;
        g_abort = 0;
        stopRequested = 0;
        computeTimeLimit(4);
        searchStartTime = clockMs() - 55000;  // over an eighth of the budget, under a quarter
        depthLoop(FIRST, 0, plenty ? 7 : 20);
        if (plenty) {
            EXPECT_EQ(rootDepth, 7);
        } else {
            EXPECT_EQ(stableCount, 5);
            EXPECT_LT(rootDepth, 20);
        }
    }
}

TEST_F(Search, BudgetFeedback) {
    timeoutTurn = 100000;
    timeLeft = 240000;
    struct Drop {
        int32_t last, value, dropped;
    };
    for (Drop d : {Drop{300, 225, 1}, Drop{300, 226, 0}, Drop{0, -50, 1}, Drop{0, -49, 0}, Drop{-400, -500, 1},
                   Drop{-400, -499, 0}}) {
        largeValue = 1;
        scoreDropped = extensionFlag = g_abort = 0;
        lastIterationValue = d.last;
        timeLimit = 1234;
        scoreDropRule(d.value);
        EXPECT_EQ(scoreDropped, d.dropped) << d.last << " " << d.value;
        EXPECT_EQ(timeLimit, d.dropped ? 240000 * 3 / 24 : 1234);
    }
    bestMoveChangeRule();
    EXPECT_EQ(extensionFlag, 1);
    EXPECT_EQ(timeLimit, 240000 * 3 / 24);  // largeValue and now extensionFlag
    g_abort = 1;
    scoreDropRule(-100000);
    bestMoveChangeRule();
    EXPECT_EQ(scoreDropped + extensionFlag, 0);
    g_abort = 0;

    // largeValue: under Renju shifted 75 against FIRST and for SECOND.
    buildPosition(RULE_RENJU, from(7, {"", ".......X"}));
    for (int side : {FIRST, SECOND}) {
        fixedDepthSearch(side, 0);  // cold turn state
        depthLoop(side, 100, 1);
        EXPECT_EQ(largeValue, side == FIRST ? 0 : 1);
    }
}

TEST_F(Search, SameSearchSameResult) {
    std::mt19937 rng(11);
    std::vector<int> placed;
    for (int r : RULES) {
        randomPosition(rng, r, placed);
        Result first = run(SECOND, 6);
        Result again = run(SECOND, 6);
        run(FIRST, 5);  // something else in between
        Result later = run(SECOND, 6);
        for (const Result& other : {again, later}) {
            EXPECT_EQ(other.value, first.value);
            EXPECT_EQ(other.move, first.move);
            EXPECT_EQ(other.nodes, first.nodes);
        }
    }
}

TEST_F(Search, IndexGuardsAtTheEndsOfTheRecords) {
    EXPECT_EQ(killersAt(-40), killerTable[0]);
    EXPECT_EQ(killersAt(100000), killerTable[MAX_PLY - 1]);
    // A 22 x 22 board with four squares left (no line holds five of one colour).
    emptyBoard(RULE_STANDARD, 22, 22);
    for (int x = 0; x < 22; x++) {
        for (int y = 0; y < 22; y++) {
            bool corner = (x == 0 || x == 21) && (y == 0 || y == 21);
            if (!corner) makeMove(sq(x, y), (x + 2 * y) % 4 < 2 ? FIRST : SECOND);
        }
    }
    Result res = run(FIRST, 30);
    EXPECT_TRUE(open(res.move));
    // Past the last per-ply record a node is a leaf.
    rootDepth = MAX_PLY + 5;
    int64_t nodes = g_nodeCount;
    nodeSearch(3, -100, 100, FIRST, 0);
    EXPECT_EQ(g_nodeCount - nodes, 1);
}

// The search's "perft": node counts, values and moves of fixed searches with fixed keys. Any
// change to the order, the pruning or the extensions moves them; when the change is meant,
// put the new figures here (the bench signature moves with them).
TEST_F(Search, NodeCountsArePinned) {
    struct Pinned {
        int rule;
        Picture picture;
        int side, depth;
        Result expected;
    };
    const Pinned CASES[] = {
        {RULE_FREESTYLE, from(6, {"......XO", ".....OX", "....X"}), SECOND, 6, {-44, 197, 19259, 6}},
        {RULE_STANDARD, from(7, {".......XOX", ".......XO", ".......O"}), FIRST, 6, {111, 262, 8283, 6}},
        {RULE_RENJU, from(5, {"", "......O", ".....XXO", "......XO", ".....X"}), SECOND, 6, {42, 233, 23803, 6}},
    };
    drawZobristKeys(1);
    for (const Pinned& c : CASES) {
        buildPosition(c.rule, c.picture);
        Result r = run(c.side, c.depth);
        EXPECT_EQ(r.nodes, c.expected.nodes) << "rule " << c.rule;
        EXPECT_EQ(r.value, c.expected.value) << "rule " << c.rule;
        EXPECT_EQ(r.move, c.expected.move) << "rule " << c.rule;
    }
}

}  // namespace
