// The search for wins by continuous fours, on built positions and on random ones whose every
// reported win is replayed stone by stone until a five stands on the board.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/forbidden.h"
#include "protocol/game.h"
#include "protocol/settings.h"
#include "search/search.h"
#include "tactics/hashtable.h"
#include "tactics/threatsearch.h"
#include "tests/test_positions.h"

namespace {

using namespace testpos;

// The board record with the stale tail of the stone list cleared (unmake leaves it).
std::unique_ptr<BoardBase> snapshot() {
    auto copy = std::make_unique<BoardBase>();
    std::memcpy(copy.get(), &g_board, sizeof g_board);
    std::fill(copy->stones + copy->stoneCount, copy->stones + MAX_STONES, 0u);
    return copy;
}

bool unchangedSince(const BoardBase& b) { return std::memcmp(&b, snapshot().get(), sizeof b) == 0; }

// Time to spare, the root at ply 0.
void allowSearch() {
    timeLimit = 1 << 30;
    searchStartTime = clockMs();
    stopRequested = 0;
    g_abort = 0;
    rootDepth = 0;
}

int32_t node(int depth, int side, int role, int t) {
    allowSearch();
    return threatSearchNode(depth, side, role, t);
}

std::vector<int> fiveSquares(int c) {
    std::vector<int> out;
    for (int s = 0; s < SQUARE_SLOTS; s++) {
        if (open(s) && makesFive(s >> 5, s & 31, c)) out.push_back(s);
    }
    return out;
}

bool legal(int s, int c) { return !(tablesRule == RULE_RENJU && c == FIRST && isForbidden(s)); }

std::string replayDefender(int side, int t, int& budget);

// Replays a claimed win (the attacker's first move the search calls lost for the defender,
// every block) until the referee sees a five: a wrong claim anywhere ends without one.
// Returns what went wrong, or "".
std::string replayAttacker(int side, int t, int& budget) {
    if (--budget < 0) return "replay budget exceeded";
    if (!fiveSquares(side).empty()) return "";
    std::vector<int> candidates = fiveSquares(3 - side);  // a five to block comes first
    for (int s = 0, blocking = !candidates.empty(); s < SQUARE_SLOTS && !blocking; s++) {
        if (!open(s)) continue;
        g_board.cell[s] = side;  // does it leave a five to make? (cells only, near s)
        bool threat = false;
        for (int d = 0; d < 4; d++) {
            for (int k = -5; k <= 5; k++) {
                int u = (s >> 5) + k * DX[d], v = (s & 31) + k * DY[d];
                threat = threat || (inside(u, v) && open(sq(u, v)) && makesFive(u, v, side));
            }
        }
        g_board.cell[s] = EMPTY;
        if (threat) candidates.push_back(s);
    }
    for (int m : candidates) {
        if (!legal(m, side)) continue;
        makeMove(m, side);
        int32_t v = threatSearchNode(-(t + 1), 3 - side, 1, t + 1);
        std::string failure = v < 0 ? replayDefender(3 - side, t + 1, budget) : "";
        unmakeMove(m, side);
        if (v < 0) return failure;
    }
    return "no attacker move at ply " + std::to_string(t) + " keeps the win";
}

std::string replayDefender(int side, int t, int& budget) {
    if (--budget < 0) return "replay budget exceeded";
    if (!fiveSquares(side).empty()) return "the defender makes five first at ply " + std::to_string(t);
    std::vector<int> threats = fiveSquares(3 - side);
    if (threats.empty()) return "the attack at ply " + std::to_string(t - 1) + " threatens nothing";
    for (int c : threats) {
        if (!legal(c, side)) continue;  // with no legal block at all, the five comes next
        makeMove(c, side);
        std::string failure = replayAttacker(3 - side, t + 1, budget);
        unmakeMove(c, side);
        if (!failure.empty()) return failure;
    }
    return "";
}

// The root search for side; what went wrong: the board changed, or a win does not replay.
std::string rootSearch(int side, int32_t& value, int64_t& nodes) {
    auto before = snapshot();
    allowSearch();
    nodes = g_nodeCount;
    value = threatSearch(0, side, 0, 0);
    nodes = g_nodeCount - nodes;
    if (!unchangedSince(*before)) return "the search changed the board";
    int budget = 20000;
    std::string failure = value > 0 ? replayAttacker(side, 0, budget) : "";
    return failure.empty() && !unchangedSince(*before) ? "the replay changed the board" : failure;
}

testing::AssertionResult searches(int side, int32_t value, int64_t minNodes = 1, int64_t maxNodes = 1 << 30) {
    int32_t v;
    int64_t nodes;
    std::string failure = rootSearch(side, v, nodes);
    if (v == value && nodes >= minNodes && nodes <= maxNodes && failure.empty()) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "THREAT_WIN - " << THREAT_WIN - v << " after " << nodes << " nodes "
                                       << failure;
}

class ThreatSearch : public ::testing::Test {
protected:
    void TearDown() override {
        rootDepth = 0;
        g_abort = 0;
        timeLimit = 10000;
        g_nodeCount = 0;
    }
};

// X: fours (8,5), (5,5), then (5,6) with an open three, settled at once only in free-style.
const Picture LONG_WIN = from(3, {".........O", "", "......XX.O", "...XX...X", ".....X..X", ".....X..X",
                                  ".....O..O"});

TEST_F(ThreatSearch, LongWinByFoursUnderEveryRuleForEitherColour) {
    for (int attacker : {FIRST, SECOND}) {
        for (int r : RULES) {
            SCOPED_TRACE("rule " + std::to_string(r) + " attacker " + std::to_string(attacker));
            buildPosition(r, LONG_WIN, attacker == SECOND);
            EXPECT_TRUE(searches(attacker, r == RULE_FREESTYLE ? THREAT_WIN - 4 : THREAT_WIN - 6, 5));
            EXPECT_TRUE(searches(3 - attacker, 0));
        }
    }
    // Without its last rung the ladder runs out after two fours; the answer is remembered.
    for (int r : RULES) {
        buildPosition(r, {"", "........O", "........X", "........X", "........X", "......XX.O"});
        EXPECT_TRUE(searches(FIRST, 0, 3)) << "the four (8,5) was tried, rule " << r;
        EXPECT_EQ(threatProbe(0, FIRST, g_board.hashKey, 0), 0);
    }
}

TEST_F(ThreatSearch, ForcedBlocksThatMakeFivesOrFoursComeFirst) {
    // X (6,7) makes a four on row 7 and an open three on column 6.
    const Picture fourThree = from(7, {"..OXXX", "......X", "......X"});
    buildPosition(RULE_STANDARD, fourThree);
    EXPECT_TRUE(searches(FIRST, THREAT_WIN - 2));
    buildPosition(RULE_FREESTYLE, fourThree);
    EXPECT_TRUE(searches(FIRST, THREAT_WIN, 1, 1));
    // O's three on column 7 runs through the block square (7,7): blocking gives O an open four.
    const Picture withThree = from(4, {".......O", ".......O", ".......O", "..OXXX", "......X", "......X"});
    for (int r : RULES) {
        buildPosition(r, withThree);
        EXPECT_TRUE(searches(FIRST, 0, 1, r == RULE_FREESTYLE ? 3 : 1 << 30)) << "no four-three shortcut";
    }
    // At the defender node itself the block is reached and the defender's open four wins.
    buildPosition(RULE_STANDARD, withThree);
    makeMove(sq(6, 7), FIRST);
    EXPECT_EQ(node(-1, SECOND, 1, 1), 0);  // the attack is broken
    makeMove(sq(7, 7), SECOND);
    EXPECT_EQ(node(-2, FIRST, 0, 2), 0);  // X must block, without a four
    EXPECT_EQ(node(-2, SECOND, 1, 2), THREAT_WIN - 2);  // O to move: five

    // O's four on the diagonal ends on (6,7), X's four-three: the attacker blocks with a four.
    const Picture diagonalFour = from(7, {"..OXXX", "......XO", "......X.O", ".........O", "..........O",
                                          "...........X"});
    for (int r : RULES) {
        buildPosition(r, diagonalFour);
        EXPECT_TRUE(searches(FIRST, THREAT_WIN - 2, 3)) << "no shortcut while a five is to be blocked";
    }
    // LONG_WIN is worth nothing while O's five waits on (13,10), whose block makes no four.
    Picture mustBlock = LONG_WIN;
    mustBlock.insert(mustBlock.end(), {"...........XX", "............XO", "...........X.O", ".............O",
                                       ".............O"});
    buildPosition(RULE_STANDARD, mustBlock);
    uint32_t shape = g_board.squares[sq(13, 10)].shape[FIRST - 1];
    ASSERT_TRUE(inThreat(T_FIVE, SECOND - 1, sq(13, 10)));
    ASSERT_TRUE(shapeSum[shape] >= THREAT_MIN_RANK && (shapeFlags[shape] & 0x20) == 0);
    EXPECT_TRUE(searches(FIRST, 0, 1, 1));
}

TEST_F(ThreatSearch, FreeStyleShortcutsForDoubleFoursAndFourThrees) {
    const Picture picture = from(7, {"..OXXX", "......X", "......X", "......X", "......O"});  // X (6,7)
    buildPosition(RULE_FREESTYLE, picture);
    EXPECT_TRUE(searches(FIRST, THREAT_WIN, 1, 1));
    buildPosition(RULE_STANDARD, picture);
    EXPECT_TRUE(searches(FIRST, THREAT_WIN - 2, 3));
    buildPosition(RULE_RENJU, picture, true);  // the second player may make a double four
    EXPECT_TRUE(searches(SECOND, THREAT_WIN - 2, 3));
    buildPosition(RULE_RENJU, picture);  // the first player may not, and his other fours are lone
    ASSERT_TRUE(isForbidden(sq(6, 7)));
    EXPECT_TRUE(searches(FIRST, 0, 1, 1));

    // X (7,7): four on row 7 whose completion (6,7) lies behind m, three on column 7.
    buildPosition(RULE_FREESTYLE, from(7, {"..OXXX", ".......X", ".......X"}));
    EXPECT_TRUE(searches(FIRST, THREAT_WIN, 1, 1));
    // X (4,4): the four's completion (0,0) is beyond the walk, so the four-three is searched...
    Picture corner = {"", ".X", "..X", "...X", ".....XX", ".....O"};
    buildPosition(RULE_FREESTYLE, corner);
    EXPECT_TRUE(searches(FIRST, THREAT_WIN - 2, 3));
    // ...and with (0,0) a four for O the block breaks the attack.
    corner[0] = ".OOO";
    buildPosition(RULE_FREESTYLE, corner);
    ASSERT_TRUE(inThreat(T_FOUR, SECOND - 1, sq(0, 0)));
    EXPECT_TRUE(searches(FIRST, 0));
}

TEST_F(ThreatSearch, RenjuForbiddenSquaresAndLoneFours) {
    // O (3,5): a four (with a three, so a high rank) whose only block (7,5) is X's overline.
    Picture picture = from(2, {".......X", ".......X", ".......X", "..X.OOO.X", "...O...X", "...O...X"});
    buildPosition(RULE_RENJU, picture);
    ASSERT_TRUE(isForbidden(sq(7, 5)));
    EXPECT_TRUE(searches(SECOND, THREAT_WIN - 3, 2, 2));  // the defender's fixed loss at t = 1
    makeMove(sq(3, 5), SECOND);
    EXPECT_EQ(node(-5, FIRST, 1, 5), 5 - 10000482);
    // The stored loss is relative to the node.
    EXPECT_EQ(threatProbe(1, FIRST, g_board.hashKey, 7), 7 - 10000482);
    // Under standard rules it is an ordinary block; O's three on column 3 wins a ply later.
    buildPosition(RULE_STANDARD, picture);
    makeMove(sq(3, 5), SECOND);
    EXPECT_EQ(node(-1, FIRST, 1, 1), -(THREAT_WIN - 2));

    // Without column 3 the winning four (3,5) is a lone four, below the rank worth trying.
    picture[6] = picture[7] = ".......X";
    buildPosition(RULE_RENJU, picture);
    ASSERT_TRUE(inThreat(T_FOUR, SECOND - 1, sq(3, 5)));
    ASSERT_LT(shapeSum[g_board.squares[sq(3, 5)].shape[SECOND - 1]], THREAT_MIN_RANK);
    ASSERT_LT(shapeSum[g_board.squares[sq(7, 5)].shape[SECOND - 1]], THREAT_MIN_RANK);
    EXPECT_TRUE(searches(SECOND, 0, 1, 1));  // no move was made
    makeMove(sq(3, 5), SECOND);  // yet the four wins
    EXPECT_LT(node(-1, FIRST, 1, 1), 0);

    // X's first open-four square (3,1) is a forbidden double four: no immediate win.
    picture = {"...O", ".XX.X", "...X", "...X", "...X"};
    buildPosition(RULE_RENJU, picture);
    ASSERT_EQ(firstThreat(T_OPEN_FOUR, 0), sq(3, 1));
    ASSERT_TRUE(isForbidden(sq(3, 1)));
    EXPECT_NE(node(0, FIRST, 0, 0), THREAT_WIN);
    buildPosition(RULE_RENJU, picture, true);  // the second player's open four counts
    EXPECT_EQ(node(0, SECOND, 0, 0), THREAT_WIN);
}

TEST_F(ThreatSearch, NoFalseResultFromTheTableAnAbortOrThePlyGuard) {
    // A five on the board wins before the table is asked or the ply guard stops the node.
    buildPosition(RULE_STANDARD, {"", ".XXXX"});
    threatStore(0, FIRST, g_board.hashKey, 0, 3);  // a wrong "no win" must not be read
    EXPECT_EQ(node(-3, FIRST, 0, 3), THREAT_WIN - 3);
    EXPECT_EQ(node(-3, FIRST, 1, 3), THREAT_WIN - 3);  // a defender with a five wins
    EXPECT_EQ(node(-MAX_PLY - 10, FIRST, 0, 0), THREAT_WIN);
    // An open four wins too, unless the opponent has a five to play first.
    buildPosition(RULE_STANDARD, {"", "..XXX", "", ".OOOO"});
    EXPECT_EQ(node(-2, SECOND, 0, 2), THREAT_WIN - 2);
    EXPECT_EQ(node(-2, FIRST, 0, 2), 0);  // the block (0,3) makes no four

    // An aborted search unwinds and stores nothing.
    buildPosition(RULE_STANDARD, LONG_WIN);
    auto before = snapshot();
    allowSearch();
    timeLimit = -1000;
    g_nodeCount = 1024 - 3;  // the third node runs the stop check, and it fires
    EXPECT_EQ(threatSearch(0, FIRST, 0, 0), 0);
    EXPECT_EQ(g_abort, 1);
    EXPECT_TRUE(unchangedSince(*before));
    int64_t written = 0;
    for (int i = 0; i < 4; i++) {
        for (int64_t e = 0; e < int64_t{hashBuckets} * 2; e++) written += threatTable[i][e].check != 0;
    }
    EXPECT_EQ(written, 0);

    // With the root on the last move list nothing is proved; past it nothing is searched or stored.
    EXPECT_EQ(node(-(MAX_PLY - 1), FIRST, 0, 0), 0);
    clearTables();
    int64_t nodes = g_nodeCount;
    EXPECT_EQ(node(-MAX_PLY, FIRST, 0, 0), 0);
    EXPECT_EQ(g_nodeCount - nodes, 1);
    EXPECT_EQ(threatProbe(0, FIRST, g_board.hashKey, 0), NO_SCORE);
    EXPECT_TRUE(unchangedSince(*before));

    // Unharmed afterwards; a repeat is answered by the table, relative to the node.
    EXPECT_TRUE(searches(FIRST, THREAT_WIN - 6, 2));
    EXPECT_TRUE(searches(FIRST, THREAT_WIN - 6, 1, 1));
    EXPECT_EQ(node(-4, FIRST, 0, 4), THREAT_WIN - 10);  // four plies further down
    // The winning first move's position is a stored loss for the defender.
    EXPECT_EQ(threatProbe(1, SECOND, g_board.hashKey ^ zobrist[sq(8, 5)][0], 1), -(THREAT_WIN - 6));
}

TEST_F(ThreatSearch, RandomPositionsEveryReportedWinReplaysToFives) {
    std::mt19937 rng(20240611);
    std::vector<int> placed;
    const int64_t NODE_BUDGET = 6000000;  // searches and replays together
    int64_t start = g_nodeCount;
    int positions = 0, wins[3] = {0, 0, 0}, longWins = 0;
    for (int r : RULES) {
        for (int n = 0; n < 1000 && g_nodeCount - start < NODE_BUDGET * (r + 1) / 3; n++, positions++) {
            randomPosition(rng, r, placed);
            for (int side : {FIRST, SECOND}) {
                int32_t v;
                int64_t nodes;
                std::string failure = rootSearch(side, v, nodes);
                ASSERT_EQ(failure, "") << "rule " << r << " position " << n << " side " << side;
                ASSERT_GE(v, 0);
                if (!fiveSquares(side).empty()) {
                    ASSERT_EQ(v, THREAT_WIN) << "a five to play is a win at once";
                }
                wins[r] += v > 0;
                longWins += THREAT_WIN - v >= 4 && v > 0;
            }
        }
    }
    // Worth something only if many wins, long ones among them, were replayed.
    EXPECT_GE(positions, 2000);
    for (int r : RULES) EXPECT_GE(wins[r], 100) << "rule " << r;
    EXPECT_GE(longWins, 100);
}

}  // namespace
