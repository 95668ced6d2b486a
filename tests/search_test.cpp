// The alpha-beta search at fixed depths and node budgets: pinned node counts, root moves in
// forced and tactical positions, interrupted iterations, the rules that stop or extend the loop.
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "search/nodesearch.h"
#include "search/rootsearch.h"
#include "search/threads.h"
#include "search/timecontrol.h"
#include "tests/test_positions.h"

namespace {

using namespace testpos;
SearchWorker& w = mainWorker();

struct Result { int32_t value; int move; int64_t nodes; int depth; };

// Cold tables and killers, as a new game starts.
Result run(int side, int depth, int64_t nodeBudget = 0) {
    clearTables(), resetAllSearchState(), hashAge = 0;
    int32_t v = fixedDepthSearch(side, depth, nodeBudget);
    return {v, w.bestMove, w.nodeCount, w.rootDepth};
}

// Squares marked as searched by the last node at the ply.
std::set<int> searchedSquares(int ply) {
    std::set<int> out;
    for (int s = 0; s < SQUARE_SLOTS; s++) {
        if (onBoard(s) && searchedAt(w, ply, s)) out.insert(s);
    }
    return out;
}

class Search : public ::testing::Test {
protected:
    void TearDown() override { nodeLimit = 2000000000, timeoutTurn = 30000, timeLeft = 100000000; }
};

// The search's "perft": nodes, values and moves of fixed searches with fixed keys. Any change to
// the order, pruning or extensions moves them; when meant, put the new figures here and in bench.
TEST_F(Search, NodeCountsArePinned) {
    const struct { int rule; Picture picture; int side, depth; Result expected; } CASES[] = {
        {RULE_FREESTYLE, from(6, {"......XO", ".....OX", "....X"}), SECOND, 6,
         {-44, 197, 19572, 6}},
        {RULE_STANDARD, from(7, {".......XOX", ".......XO", ".......O"}), FIRST, 6,
         {111, 262, 9551, 6}},
        {RULE_RENJU, from(5, {"", "......O", ".....XXO", "......XO", ".....X"}), SECOND, 6,
         {42, 233, 23806, 6}},
    };
    drawZobristKeys(1);
    for (const auto& c : CASES) {
        buildPosition(c.rule, c.picture);
        Result r = run(c.side, c.depth);
        EXPECT_EQ(std::tuple(r.nodes, r.value, r.move),
                  std::tuple(c.expected.nodes, c.expected.value, c.expected.move));
    }
}

// Every rule, either colour, X to move: root moves, the one chosen, the depth reached (0: any).
// A lone block is the only move at every node, also at depth 0; the loop stops after depth 5.
// O's open three is met by its open-four and extra defence squares and X's own fours only. A
// double three wins, unless forbidden (for the first player under Renju).
TEST_F(Search, RootMovesInForcedAndTacticalPositions) {
    const Picture FOURS = {"", ".O", ".X", ".X", ".X", "", "", "", "", "", "", "", "............X"};
    const struct { Picture picture; int depth; std::set<int> roots; int best, reached; } ROWS[] = {
        {from(5, {"", "", "...XOOOO..", "", "..X...X"}), 12, {sq(8, 7)}, sq(8, 7), 5},
        {{"....O.OO...."}, 4, {sq(5, 7), sq(3, 7), sq(8, 7), sq(1, 5), sq(1, 6)}, -1, 4},
        {{".....OOO...."}, 4, {sq(4, 7), sq(8, 7), sq(1, 5), sq(1, 6)}, -1, 4},
        {{"...OOO.X...."}, 4, {sq(2, 7), sq(6, 7), sq(1, 7), sq(1, 5), sq(1, 6)}, -1, 4},
        {from(6, {".......X", ".......X", ".....XX", "", "", "OO.O"}), 6, {}, sq(7, 8), 0},
    };
    for (int k = 0; k < 30; k++) {
        int r = RULES[k / 10], side = 1 + k / 5 % 2, i = k % 5;
        const auto& row = ROWS[i];
        SCOPED_TRACE(testing::Message() << "rule " << r << " side " << side << " row " << i);
        Picture picture = row.picture;
        if (picture.size() == 1) picture = FOURS, picture[7] = row.picture[0];
        buildPosition(r, picture, side == SECOND);
        Result res = run(side, row.depth);
        bool forbidden = i == 4 && r == RULE_RENJU && side == FIRST;
        EXPECT_TRUE(forbidden || (res.value >= MATE_BOUND) == (i == 4)) << res.value;
        EXPECT_EQ(res.depth, row.reached > 0 ? row.reached : res.depth);
        EXPECT_TRUE(forbidden ? res.move != sq(7, 8) : row.best < 0 || res.move == row.best);
        if (row.roots.empty()) continue;
        EXPECT_EQ(searchedSquares(0), row.roots);
        EXPECT_TRUE(row.roots.count(res.move));
        if (i > 0) continue;
        EXPECT_EQ(w.singleCandidate, 1);
        w.rootDepth = 4;  // a node at depth 0, where it would otherwise be a leaf
        nodeSearch(w, 0, -100, 100, side, 0);
        EXPECT_EQ(searchedSquares(4), row.roots);
    }
}

// No legal move loses; a full board is a draw, blocks or not (no line of five fits on 4 x 4).
TEST_F(Search, NoLegalMoveLosesUnlessTheBoardIsFull) {
    // Renju, FIRST to move: SECOND's five square makes an overline for FIRST.
    buildPosition(RULE_RENJU,
                  from(2, {".....X", ".....O", ".....O", ".....O", ".....O", "..XXX.XX"}));
    Result res = run(FIRST, 10);
    EXPECT_EQ(std::tuple(res.depth, res.value, res.move), std::tuple(1, -(1 + 9999998), -1));
    for (int b : {0, 2}) {  // blocks
        emptyBoard(RULE_RENJU, 4, 4);
        for (int s = 0; s < 16; s++) makeMove(g_board, sq(s / 4, s % 4), s < b ? BLOCKED : 1 + (s / 2) % 2);
        EXPECT_EQ(run(FIRST, 3).value, 0);
        EXPECT_EQ(rootSearch(w, 1, -100000000, 100000000, SECOND, 0), 0);
    }
}

// A budget between the nodes of the whole loop to two depths stops the deeper iteration; before
// its third root move, the iteration is thrown away and the previous one's move and value stand.
TEST_F(Search, InterruptedIterationsCountFromTheThirdRootMove) {
    buildPosition(RULE_STANDARD, from(7, {".......XOX", ".......XO", ".......O"}));
    int64_t upTo[7] = {0};
    for (int d = 1; d <= 6; d++) upTo[d] = run(FIRST, d).nodes;
    int thrown = 0, duringSecond = 0;
    for (int i = 1; i < 60; i++) {
        int stopped = 1;
        while (upTo[stopped] < upTo[6] * i / 60) stopped++;
        Result cut = run(FIRST, 6, upTo[6] * i / 60);
        int completed = w.rootMovesCompleted;
        ASSERT_EQ(w.abort, 1);
        thrown += completed < 2, duringSecond += completed == 1;
        EXPECT_EQ(cut.depth, completed < 2 ? stopped - 1 : stopped) << i;
        Result kept = completed < 2 ? run(FIRST, cut.depth) : cut;
        EXPECT_EQ(std::pair(cut.value, cut.move), std::pair(kept.value, kept.move)) << i;
        EXPECT_TRUE(completed < 2 || (cut.value != 0 && open(cut.move))) << i;  // 0 shows as 1
    }
    EXPECT_TRUE(thrown > duringSecond && duringSecond > 0 && thrown < 59);
}

TEST_F(Search, StableBestMoveEndsTheLoopUnlessTimeIsPlenty) {
    buildPosition(RULE_FREESTYLE, from(6, {"", ".....OOO", "......X"}));
    for (bool plenty : {false, true}) {
        clearTables(), resetAllSearchState(), w.board = g_board;
        // Budget 400000 ms; without plenty of time (9600000 / 222 free squares is less) the loop
        // ends once the best move has stood five times, two thirds of the budget having passed.
        timeoutTurn = 400000, timeLeft = plenty ? 1000000000 : 9600000, plentyOfTime = 0;
        w.stableCount = largeValue = scoreDropped = extensionFlag = w.abort = stopRequested = 0;
        computeTimeLimit(4), searchStartTime = clockMs() - 300000;  // 2/3 to 4/5 of the budget
        depthLoop(w, FIRST, 0, plenty ? 7 : 20);
        EXPECT_EQ(w.rootDepth, plenty ? 7 : 6);
        EXPECT_TRUE(plenty || w.stableCount == 5) << w.stableCount;
    }
}

// More time when the first root move scores well below the last iteration (by a quarter of
// a large value, else by 50) or a later root move beats it; none after an abort.
TEST_F(Search, BudgetFeedback) {
    timeoutTurn = 100000, timeLeft = 240000, largeValue = 1, extensionFlag = w.abort = 0;
    for (auto [last, value, dropped] : {std::tuple{300, 225, 1}, {300, 226, 0}, {0, -50, 1},
                                        {0, -49, 0}, {-400, -500, 1}, {-400, -499, 0}}) {
        w.lastIterationValue = last, timeLimit = 1234, scoreDropRule(w, value);
        EXPECT_EQ(std::pair(scoreDropped, timeLimit), std::pair(dropped, dropped ? 30000 : 1234));
    }
    bestMoveChangeRule(w);
    EXPECT_EQ(std::pair(extensionFlag, timeLimit), std::pair(1, 30000));
    w.abort = 1, scoreDropRule(w, -100000);
    EXPECT_EQ(scoreDropped, 0);
    w.abort = largeValue = extensionFlag = 0;
}

}  // namespace
