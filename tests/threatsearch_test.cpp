// The search for wins by fours, on built positions and on random ones whose wins are replayed.
#include <gtest/gtest.h>

#include <tuple>

#include "board/forbidden.h"
#include "search/search.h"
#include "search/threads.h"
#include "search/threatsearch.h"
#include "tests/test_positions.h"

namespace {

using namespace testpos;
constexpr int32_t T = THREAT_WIN;
SearchWorker& w = mainWorker();

// A node of the position on g_board searched with the root at ply 0 and, by default, time to
// spare.
int32_t node(int depth, int side, int role, int t, int32_t limit = 1 << 30) {
    timeLimit = limit, searchStartTime = clockMs(), stopRequested = w.abort = w.rootDepth = 0;
    w.board = g_board;
    return threatSearchNode(w, depth, side, role, t);
}

std::vector<int> fiveSquares(int c) {
    std::vector<int> out;
    for (int s = 0; s < SQUARE_SLOTS; s++) {
        if (open(s) && makesFive(s >> 5, s & 31, c)) out.push_back(s);
    }
    return out;
}

// Replays a claimed win until the referee sees a five: the attacker (role 0) tries the block of
// a five, else every four, for one the search calls lost for the defender; the defender (role 1)
// every legal block. A wrong claim anywhere ends without a five. Returns what went wrong or "".
std::string replay(int side, int role, int t, int& budget) {
    std::string at = " at ply " + std::to_string(t);
    if (--budget < 0) return "replay budget exceeded";
    if (!fiveSquares(side).empty()) return role == 0 ? "" : "the defender makes five first" + at;
    std::vector<int> moves = fiveSquares(3 - side);
    if (role == 1 && moves.empty()) return "the attack before threatens nothing" + at;
    int p = side - 1, blocking = !moves.empty();
    for (int s = 0; role == 0 && !blocking && s < SQUARE_SLOTS; s++) {
        if (open(s) && (inThreat(g_board, T_FOUR, p, s) || inThreat(g_board, T_OPEN_FOUR, p, s))) moves.push_back(s);
    }
    for (int m : moves) {
        if (tablesRule == RULE_RENJU && side == FIRST && isForbidden(g_board, m)) continue;  // a five next
        makeMove(g_board, m, side), makeMove(w.board, m, side);
        bool lost = role == 1 || threatSearchNode(w, -(t + 1), 3 - side, 1, t + 1) < 0;
        std::string failure = lost ? replay(3 - side, 1 - role, t + 1, budget) : "";
        unmakeMove(g_board, m, side), unmakeMove(w.board, m, side);
        if (role == 0 ? lost : !failure.empty()) return failure;
    }
    return role == 0 ? "no attacker move keeps the win" + at : "";
}

struct Root { int32_t value; int64_t nodes; std::string failure; };

// The root search for side, then the replay of a reported win; failure tells what went wrong.
Root rootSearch(int side) {
    auto before = boardBytes();
    int64_t start = w.nodeCount;
    int32_t value = node(0, side, 0, 0), budget = 20000;
    Root r{value, w.nodeCount - start, boardBytes(w.board) == before ? "" : "search: board changed"};
    if (r.failure.empty() && value > 0) r.failure = replay(side, 0, 0, budget);
    if (r.failure.empty() && boardBytes(w.board) != before) r.failure = "replay: board changed";
    return r;
}

class ThreatSearch : public ::testing::Test {
protected:
    void TearDown() override { w.rootDepth = w.abort = w.nodeCount = 0, timeLimit = 10000; }
};

// X: fours (8,5), (5,5), then (5,6) with an open three, settled at once only in free-style.
const Picture LONG_WIN =
    from(3, {".........O", "", "......XX.O", "...XX...X", ".....X..X", ".....X..X", ".....O..O"});

// Value and node bounds of the root search for the side of the letter, lower case with the
// colours swapped: free-style shortcuts, Renju's rule.
TEST_F(ThreatSearch, BuiltPositions) {
    constexpr int F = RULE_FREESTYLE, R = RULE_RENJU, N = 1 << 30;
    const struct { int rule; Picture picture; char who; int value, minNodes, maxNodes; } ROWS[] = {
        {F, LONG_WIN, 'X', T - 4, 5, N},
        // X (6,7): a four and a three, then a double four, settled at once.
        {F, from(7, {"..OXXX", "......X", "......X"}), 'X', T, 1, 1},
        {F, from(7, {"..OXXX", "......X", "......X", "......X", "......O"}), 'X', T, 1, 1},
        // O's three through the four's block (7,7) and X (7,3): a four for O.
        {F, from(3, {".......X", ".......O", ".......O", ".......O", "..OXXX", "......X",
                     "......X"}), 'X', 0, 1, N},
        // X (4,4): the four's completion (0,0) is beyond the walk, so the four-three is searched.
        {F, {"", ".X", "..X", "...X", ".....XX", ".....O"}, 'X', T - 2, 3, N},
        // O (3,5) makes a four and a three whose only block (7,5) is X's overline.
        {R, from(2, {".......X", ".......X", ".......X", "..X.OOO.X", "...O...X", "...O...X"}),
         'O', T - 3, 2, 2},
        {R, {"...O", ".XX.X", "...X", "...X", "...X"}, 'x', T, 1, 1},  // (3,1): an open four
    };
    for (const auto& row : ROWS) {
        SCOPED_TRACE(testing::Message() << "row " << &row - ROWS);
        buildPosition(row.rule, row.picture, row.who > 'Z');
        Root res = rootSearch(row.who == 'X' || row.who == 'o' ? FIRST : SECOND);
        EXPECT_EQ(std::pair(res.failure, T - res.value), std::pair(std::string(), T - row.value));
        EXPECT_TRUE(res.nodes >= row.minNodes && res.nodes <= row.maxNodes) << res.nodes;
    }
}

TEST_F(ThreatSearch, NoFalseResultFromTheTableAnAbortOrThePlyGuard) {
    // A five on the board wins before the table is asked or the ply guard stops the node.
    buildPosition(RULE_STANDARD, {"", ".XXXX"});
    threatStore(0, FIRST, g_board.hashKey, 0, 3);  // a wrong "no win" must not be read
    EXPECT_EQ(node(-3, FIRST, 0, 3), T - 3);
    EXPECT_EQ(node(-MAX_PLY - 10, FIRST, 0, 0), T);
    // An aborted search unwinds and stores nothing: the third node runs the stop check, it fires.
    buildPosition(RULE_STANDARD, LONG_WIN);
    auto before = boardBytes();
    w.nodeCount = 1024 - 3;
    EXPECT_EQ(node(0, FIRST, 0, 0, -1000), 0);
    EXPECT_EQ(w.abort, 1);
    for (int64_t e = 0; e < hashSizes.threatBuckets * 8; e++) ASSERT_EQ(threatTable[e % 4][e / 4].word[0], 0u);
    // With the root on the last move list nothing is proved; past it, nothing searched or stored.
    EXPECT_EQ(node(-(MAX_PLY - 1), FIRST, 0, 0), 0);
    clearTables();
    int64_t nodes = w.nodeCount;
    EXPECT_EQ(node(-MAX_PLY, FIRST, 0, 0), 0);
    EXPECT_EQ(w.nodeCount - nodes, 1);
    EXPECT_EQ(threatProbe(0, FIRST, g_board.hashKey, 0), NO_SCORE);
    EXPECT_TRUE(boardBytes(w.board) == before);
    // Unharmed afterwards; a repeat is answered by the table, relative to the node.
    Root first = rootSearch(FIRST), again = rootSearch(FIRST);
    EXPECT_EQ(std::tuple(first.value, first.failure, again.value, again.nodes),
              std::tuple(T - 6, "", T - 6, 1));
    EXPECT_EQ(node(-4, FIRST, 0, 4), T - 10);
}

// Worth something only if many wins, long ones among them, were replayed.
TEST_F(ThreatSearch, RandomPositionsEveryReportedWinReplaysToFives) {
    std::mt19937 rng(20240611);
    std::vector<int> placed;
    int positions = 0, wins[3] = {0, 0, 0}, longWins = 0;
    int64_t start = w.nodeCount;  // 6000000 nodes for searches and replays together
    for (int r : RULES) {
        for (int n = 0; n < 1000 && w.nodeCount - start < 2000000 * (r + 1); n++, positions++) {
            randomPosition(rng, r, placed);
            SCOPED_TRACE(testing::Message() << "rule " << r << " position " << n);
            for (int side : {FIRST, SECOND}) {
                Root res = rootSearch(side);
                ASSERT_EQ(res.failure, "") << side;
                bool fiveToPlay = !fiveSquares(side).empty();
                ASSERT_TRUE(res.value == T || (res.value >= 0 && !fiveToPlay)) << side;
                wins[r] += res.value > 0;
                longWins += res.value > 0 && T - res.value >= 4;
            }
        }
    }
    EXPECT_GE(positions, 2000);
    EXPECT_GE(std::min({wins[0], wins[1], wins[2], longWins}), 100);
}

}  // namespace
