// The search for wins by continuous fours, on built positions and on random ones whose every
// reported win is replayed stone by stone until a five stands on the board.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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

namespace {

// ---- positions -----------------------------------------------------------------------------

// A picture lists rows y = 0, 1, ...; in each row the character at index x is square (x, y):
// 'X' first player, 'O' second player, anything else empty.
using Picture = std::vector<std::string>;

int sq(int x, int y) { return x * 32 + y; }

// Square refreshes run once for every square, so that any later make/unmake pair restores
// the board record byte for byte (the reset's placeholder codes are gone).
void settle() {
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            if (g_board.cell[sq(x, y)] != EMPTY) continue;
            makeMove(sq(x, y), FIRST);
            unmakeMove(sq(x, y), FIRST);
        }
    }
}

void emptyBoard(int forRule, int width = 15, int height = 15) {
    boardWidth = width;
    boardHeight = height;
    boardSize = std::max(width, height);
    recordCount = 0;
    blockCount = 0;
    rule = forRule;
    rebuildBoard(forRule);
}

// Builds the picture under the rule; swap exchanges the colours.
void buildPosition(int forRule, const Picture& picture, bool swap = false) {
    emptyBoard(forRule);
    clearTables();
    for (size_t y = 0; y < picture.size(); y++) {
        for (size_t x = 0; x < picture[y].size(); x++) {
            char c = picture[y][x];
            int who = c == 'X' ? FIRST : c == 'O' ? SECOND : EMPTY;
            if (swap && who != EMPTY) who = 3 - who;
            if (who != EMPTY) makeMove(sq(static_cast<int>(x), static_cast<int>(y)), who);
        }
    }
    settle();
}

// The board record with the stale tail of the stone list cleared (unmake leaves it).
BoardBase snapshot() {
    static BoardBase copy;
    std::memcpy(&copy, &g_board, sizeof copy);
    for (int i = copy.stoneCount; i < MAX_STONES; i++) copy.stones[i] = 0;
    return copy;
}

bool sameBoard(const BoardBase& a, const BoardBase& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void allowSearch() {
    timeLimit = 1 << 30;
    searchStartTime = clockMs();
    stopRequested = 0;
    g_abort = 0;
    rootDepth = 0;
}

// Search from the root (t = 0, ply 0), counting the nodes it took.
int32_t search(int side, int64_t* nodes = nullptr) {
    allowSearch();
    int64_t before = g_nodeCount;
    int32_t v = threatSearch(0, side, 0, 0);
    if (nodes != nullptr) *nodes = g_nodeCount - before;
    return v;
}

// ---- an independent referee: fives by counting stones ------------------------------------------

const int DX[4] = {0, 1, 1, 1};
const int DY[4] = {1, 0, 1, -1};

bool inside(int x, int y) { return x >= 0 && y >= 0 && x < boardWidth && y < boardHeight; }

// Whether colour c playing the empty square (x, y) makes a winning five under the rule.
bool makesFive(int x, int y, int c) {
    bool exact = tablesRule == RULE_STANDARD || (tablesRule == RULE_RENJU && c == FIRST);
    for (int d = 0; d < 4; d++) {
        int run = 1;
        for (int sign : {1, -1}) {
            int u = x + sign * DX[d], v = y + sign * DY[d];
            while (inside(u, v) && g_board.cell[sq(u, v)] == c) {
                run++;
                u += sign * DX[d];
                v += sign * DY[d];
            }
        }
        if (exact ? run == 5 : run >= 5) return true;
    }
    return false;
}

std::vector<int> fiveSquares(int c) {
    std::vector<int> out;
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            if (g_board.cell[sq(x, y)] == EMPTY && makesFive(x, y, c)) out.push_back(sq(x, y));
        }
    }
    return out;
}

// Whether c playing (x, y) leaves c a square that makes five (reads cells only).
bool threatensFive(int x, int y, int c) {
    int& cell = g_board.cell[sq(x, y)];
    cell = c;
    bool found = false;
    for (int d = 0; d < 4 && !found; d++) {
        for (int k = -5; k <= 5 && !found; k++) {
            int u = x + k * DX[d], v = y + k * DY[d];
            found = k != 0 && inside(u, v) && g_board.cell[sq(u, v)] == EMPTY && makesFive(u, v, c);
        }
    }
    cell = EMPTY;
    return found;
}

bool legal(int s, int c) { return !(tablesRule == RULE_RENJU && c == FIRST && isForbidden(s)); }

bool hasRunOfFive() {
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            int c = g_board.cell[sq(x, y)];
            if (c != FIRST && c != SECOND) continue;
            for (int d = 0; d < 4; d++) {
                int run = 0;
                for (int u = x, v = y; inside(u, v) && g_board.cell[sq(u, v)] == c; u += DX[d], v += DY[d]) run++;
                if (run >= 5) return true;
            }
        }
    }
    return false;
}

// Replays a claimed win: at each attacker node the first move whose position the search
// itself calls lost for the defender, at each defender node every block. Every line must end
// with a five the referee recognises. The search is asked only about the next position, so a
// wrong claim anywhere (a shortcut, a table value, a missed defence) ends in a line without
// a five.
struct Replay {
    int nodes = 0;
    int budget = 20000;
    std::string failure;
};

bool replayDefender(Replay& r, int side, int t);

bool replayAttacker(Replay& r, int side, int t) {
    if (++r.nodes > r.budget) {
        r.failure = "replay budget exceeded";
        return false;
    }
    if (!fiveSquares(side).empty()) return true;
    int opp = 3 - side;
    std::vector<int> candidates;
    std::vector<int> oppFives = fiveSquares(opp);
    if (!oppFives.empty()) {
        for (int s : oppFives) {
            if (legal(s, side)) candidates.push_back(s);
        }
    } else {
        for (int x = 0; x < boardWidth; x++) {
            for (int y = 0; y < boardHeight; y++) {
                if (g_board.cell[sq(x, y)] == EMPTY && threatensFive(x, y, side) && legal(sq(x, y), side)) {
                    candidates.push_back(sq(x, y));
                }
            }
        }
    }
    for (int m : candidates) {
        makeMove(m, side);
        int32_t v = threatSearchNode(-(t + 1), opp, 1, t + 1);
        bool ok = v < 0 && replayDefender(r, opp, t + 1);
        unmakeMove(m, side);
        if (v < 0) return ok;
    }
    r.failure = "no attacker move at ply " + std::to_string(t) + " keeps the win";
    return false;
}

bool replayDefender(Replay& r, int side, int t) {
    if (++r.nodes > r.budget) {
        r.failure = "replay budget exceeded";
        return false;
    }
    int attacker = 3 - side;
    if (!fiveSquares(side).empty()) {
        r.failure = "the defender makes five first at ply " + std::to_string(t);
        return false;
    }
    std::vector<int> threats = fiveSquares(attacker);
    if (threats.empty()) {
        r.failure = "the attacker's move at ply " + std::to_string(t - 1) + " threatens nothing";
        return false;
    }
    for (int c : threats) {
        if (!legal(c, side)) continue;  // with no legal block at all, the five comes next
        makeMove(c, side);
        bool ok = replayAttacker(r, attacker, t + 1);
        unmakeMove(c, side);
        if (!ok) return false;
    }
    return true;
}

// A reported win must replay to fives, and neither search nor replay may change the board.
void expectRealWin(int side) {
    BoardBase before = snapshot();
    Replay r;
    EXPECT_TRUE(replayAttacker(r, side, 0)) << r.failure;
    EXPECT_TRUE(sameBoard(before, snapshot()));
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

// ---- wins by fours --------------------------------------------------------------------------

// X: (8,5) four on column 8, then (5,5) four on row 5, then (5,6) four on column 5 with an
// open three on row 6. Free-style settles the four-three at once; the other rules play on to
// the open four. Lines the blocks fall on hold no second chance for either side.
const Picture LONG_WIN = {
    "...............",
    "...............",
    "...............",
    ".........O.....",
    "...............",
    "......XX.O.....",
    "...XX...X......",
    ".....X..X......",
    ".....X..X......",
    ".....O..O......",
};

TEST_F(ThreatSearch, LongWinByFoursUnderEveryRuleForEitherColour) {
    for (bool swap : {false, true}) {
        int attacker = swap ? SECOND : FIRST;
        for (int r : {RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU}) {
            SCOPED_TRACE("rule " + std::to_string(r) + (swap ? " second player" : " first player"));
            buildPosition(r, LONG_WIN, swap);
            BoardBase before = snapshot();
            uint64_t key = g_board.hashKey;
            int64_t nodes;
            int32_t v = search(attacker, &nodes);
            EXPECT_EQ(v, r == RULE_FREESTYLE ? THREAT_WIN - 4 : THREAT_WIN - 6);
            EXPECT_GT(nodes, 4);
            EXPECT_TRUE(sameBoard(before, snapshot()));
            EXPECT_EQ(g_board.hashKey, key);
            expectRealWin(attacker);
            EXPECT_EQ(search(3 - attacker), 0);
        }
    }
}

TEST_F(ThreatSearch, FoursThatRunOutGiveNoWin) {
    // The same ladder without its last rung: two fours, then nothing.
    const Picture picture = {
        "...............",
        "........O......",
        "........X......",
        "........X......",
        "........X......",
        "......XX.O.....",
    };
    for (int r : {RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU}) {
        buildPosition(r, picture);
        BoardBase before = snapshot();
        int64_t nodes;
        EXPECT_EQ(search(FIRST, &nodes), 0) << "rule " << r;
        EXPECT_GE(nodes, 3) << "the four (8,5) was tried";
        EXPECT_TRUE(sameBoard(before, snapshot()));
        EXPECT_EQ(threatProbe(0, FIRST, g_board.hashKey, 0), 0);  // the answer is remembered
    }
}

// X (6,7) makes a four on row 7 and an open three on column 6.
const Picture FOUR_THREE = {
    "...............",
    "...............",
    "...............",
    "...............",
    "...............",
    "...............",
    "...............",
    "..OXXX.........",
    "......X........",
    "......X........",
};

TEST_F(ThreatSearch, DefenderBlockThatMakesAnOpenFourWinsFirst) {
    buildPosition(RULE_STANDARD, FOUR_THREE);
    EXPECT_EQ(search(FIRST), THREAT_WIN - 2);
    buildPosition(RULE_FREESTYLE, FOUR_THREE);
    int64_t nodes;
    EXPECT_EQ(search(FIRST, &nodes), THREAT_WIN);
    EXPECT_EQ(nodes, 1);

    // O's three on column 7 runs through the block square (7,7): blocking gives O an open four.
    Picture withThree = FOUR_THREE;
    for (int y : {4, 5, 6}) withThree[y][7] = 'O';
    for (int r : {RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU}) {
        buildPosition(r, withThree);
        BoardBase before = snapshot();
        EXPECT_EQ(search(FIRST, &nodes), 0) << "rule " << r;
        EXPECT_TRUE(sameBoard(before, snapshot()));
        if (r == RULE_FREESTYLE) {
            EXPECT_EQ(nodes, 3) << "the four-three shortcut must not fire";
        }
    }
    // At the defender node itself the block is reached and the defender's open four wins.
    buildPosition(RULE_STANDARD, withThree);
    makeMove(sq(6, 7), FIRST);
    allowSearch();
    EXPECT_EQ(threatSearchNode(-1, SECOND, 1, 1), 0);  // the attack is broken
    makeMove(sq(7, 7), SECOND);
    EXPECT_EQ(threatSearchNode(-2, FIRST, 0, 2), 0);   // X must block, without a four
    EXPECT_EQ(threatSearchNode(-2, SECOND, 1, 2), THREAT_WIN - 2);  // O to move: five
}

TEST_F(ThreatSearch, AttackerFacingAFiveMustBlockItWithAFour) {
    // O's four on the diagonal ends on (6,7), which is X's four-three.
    const Picture blockWins = {
        "...............",
        "...............",
        "...............",
        "...............",
        "...............",
        "...............",
        "...............",
        "..OXXX.........",
        "......XO.......",
        "......X.O......",
        ".........O.....",
        "..........O....",
        "...........X...",
    };
    for (int r : {RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU}) {
        buildPosition(r, blockWins);
        int64_t nodes;
        EXPECT_EQ(search(FIRST, &nodes), THREAT_WIN - 2) << "rule " << r;
        EXPECT_GE(nodes, 3) << "no shortcut while a five is to be blocked";
        expectRealWin(FIRST);
    }
    // The long win of LONG_WIN is worth nothing while O's five on column 13 waits: its block
    // (13,10) makes two threes for X but no four, so not even the block is tried.
    Picture mustBlock = LONG_WIN;
    mustBlock.push_back("...........XX..");
    mustBlock.push_back("............XO.");
    mustBlock.push_back("...........X.O.");
    mustBlock.push_back(".............O.");
    mustBlock.push_back(".............O.");
    buildPosition(RULE_STANDARD, mustBlock);
    uint32_t shape = g_board.squares[sq(13, 10)].shape[FIRST - 1];
    ASSERT_TRUE(inThreat(T_FIVE, SECOND - 1, sq(13, 10)));
    ASSERT_GE(shapeSum[shape], THREAT_MIN_RANK);
    ASSERT_EQ(shapeFlags[shape] & 0x20, 0);
    int64_t nodes;
    EXPECT_EQ(search(FIRST, &nodes), 0);
    EXPECT_EQ(nodes, 1);
}

TEST_F(ThreatSearch, DoubleFourWinsAtOnceOnlyUnderFreeStyle) {
    // X (6,7): fours on row 7 and column 6.
    const Picture picture = {
        "...............",
        "...............",
        "...............",
        "...............",
        "...............",
        "...............",
        "...............",
        "..OXXX.........",
        "......X........",
        "......X........",
        "......X........",
        "......O........",
    };
    int64_t nodes;
    buildPosition(RULE_FREESTYLE, picture);
    EXPECT_EQ(search(FIRST, &nodes), THREAT_WIN);
    EXPECT_EQ(nodes, 1);
    buildPosition(RULE_STANDARD, picture);
    EXPECT_EQ(search(FIRST, &nodes), THREAT_WIN - 2);
    EXPECT_GE(nodes, 3);
    expectRealWin(FIRST);
    buildPosition(RULE_RENJU, picture, true);  // the second player may make a double four
    EXPECT_EQ(search(SECOND, &nodes), THREAT_WIN - 2);
    EXPECT_GE(nodes, 3);
    expectRealWin(SECOND);
    buildPosition(RULE_RENJU, picture);  // the first player may not, and his other fours are lone
    ASSERT_TRUE(isForbidden(sq(6, 7)));
    EXPECT_EQ(search(FIRST, &nodes), 0);
    EXPECT_EQ(nodes, 1);
}

TEST_F(ThreatSearch, FreeStyleFourThreeNeedsItsCompletionSquare) {
    int64_t nodes;
    // X (7,7): four on row 7 whose completion (6,7) lies behind m, three on column 7.
    const Picture behind = {
        "...............", "...............", "...............", "...............",
        "...............", "...............", "...............", "..OXXX.........",
        ".......X.......", ".......X.......",
    };
    buildPosition(RULE_FREESTYLE, behind);
    EXPECT_EQ(search(FIRST, &nodes), THREAT_WIN);
    EXPECT_EQ(nodes, 1);
    // X (4,4): four on the diagonal completed only on (0,0), which the walk does not reach;
    // the four-three is then searched like any four and still wins.
    const Picture corner = {
        "...............", ".X.............", "..X............", "...X...........",
        ".....XX........", ".....O.........",
    };
    buildPosition(RULE_FREESTYLE, corner);
    EXPECT_EQ(search(FIRST, &nodes), THREAT_WIN - 2);
    EXPECT_GE(nodes, 3);
    expectRealWin(FIRST);
    // With (0,0) a four for O, the block breaks the attack, and no shortcut may claim it.
    Picture cornerDefended = corner;
    cornerDefended[0] = ".OOO...........";
    buildPosition(RULE_FREESTYLE, cornerDefended);
    ASSERT_TRUE(inThreat(T_FOUR, SECOND - 1, sq(0, 0)));
    EXPECT_EQ(search(FIRST), 0);
}

// ---- Renju and the candidate filter -------------------------------------------------------

// O (3,5) makes a four whose only five square (7,5) would give X six in column 7. Column 3
// gives (3,5) the rank of a four with a three beside it.
const Picture FORBIDDEN_BLOCK = {
    "...............",
    "...............",
    ".......X.......",
    ".......X.......",
    ".......X.......",
    "..X.OOO.X......",
    "...O...X.......",
    "...O...X.......",
};

TEST_F(ThreatSearch, RenjuFirstPlayerWhoseOnlyBlockIsForbiddenLoses) {
    buildPosition(RULE_RENJU, FORBIDDEN_BLOCK);
    ASSERT_TRUE(isForbidden(sq(7, 5)));
    BoardBase before = snapshot();
    int64_t nodes;
    EXPECT_EQ(search(SECOND, &nodes), THREAT_WIN - 3);  // the defender's fixed loss at t = 1
    EXPECT_EQ(nodes, 2);
    EXPECT_TRUE(sameBoard(before, snapshot()));
    expectRealWin(SECOND);

    makeMove(sq(3, 5), SECOND);
    allowSearch();
    EXPECT_EQ(threatSearchNode(-5, FIRST, 1, 5), 5 - 10000482);
    // The stored loss is relative to the node: found again two plies deeper, it is shorter.
    EXPECT_EQ(threatProbe(1, FIRST, g_board.hashKey, 7), 7 - 10000482);
    unmakeMove(sq(3, 5), SECOND);

    // Under standard rules the same square is an ordinary block (X gets six, no win); O's
    // three on column 3 then wins one ply later than the fixed loss.
    buildPosition(RULE_STANDARD, FORBIDDEN_BLOCK);
    makeMove(sq(3, 5), SECOND);
    allowSearch();
    EXPECT_EQ(threatSearchNode(-1, FIRST, 1, 1), -(THREAT_WIN - 2));
}

TEST_F(ThreatSearch, FourOfRankBelowThresholdIsNeverTried) {
    // Without column 3 the winning four (3,5) is a lone four: rank 256 + a little.
    Picture lone = FORBIDDEN_BLOCK;
    lone[6][3] = lone[7][3] = '.';
    buildPosition(RULE_RENJU, lone);
    int p = SECOND - 1;
    ASSERT_TRUE(inThreat(T_FOUR, p, sq(3, 5)));
    ASSERT_LT(shapeSum[g_board.squares[sq(3, 5)].shape[p]], THREAT_MIN_RANK);
    ASSERT_LT(shapeSum[g_board.squares[sq(7, 5)].shape[p]], THREAT_MIN_RANK);
    int64_t nodes;
    EXPECT_EQ(search(SECOND, &nodes), 0);
    EXPECT_EQ(nodes, 1);  // no move was made
    makeMove(sq(3, 5), SECOND);  // yet the four wins
    allowSearch();
    EXPECT_LT(threatSearchNode(-1, FIRST, 1, 1), 0);
}

// ---- immediate results, the table, abort, the ply guard -------------------------------------

TEST_F(ThreatSearch, FiveOnBoardIsWonBeforeTheTableIsAsked) {
    buildPosition(RULE_STANDARD, {"...............", ".XXXX.........."});
    threatStore(0, FIRST, g_board.hashKey, 0, 3);  // a wrong "no win" must not be read
    allowSearch();
    EXPECT_EQ(threatSearchNode(-3, FIRST, 0, 3), THREAT_WIN - 3);
    EXPECT_EQ(threatSearchNode(-3, FIRST, 1, 3), THREAT_WIN - 3);  // a defender with a five wins
    // An open four wins too, unless the opponent has a five to play first.
    buildPosition(RULE_STANDARD, {"...............", "..XXX..........", "...............", ".OOOO.........."});
    allowSearch();
    EXPECT_EQ(threatSearchNode(-2, SECOND, 0, 2), THREAT_WIN - 2);
    EXPECT_EQ(threatSearchNode(-2, FIRST, 0, 2), 0);  // the block (0,3) makes no four
}

TEST_F(ThreatSearch, RenjuOpenFourOnForbiddenSquareIsNoWin) {
    // X's first open-four square (3,1) also makes a four on column 3: a forbidden double four.
    // The other open-four square (3,5) is not tried as an immediate win.
    const Picture picture = {
        "...O...........",
        ".XX.X..........",
        "...X...........",
        "...X...........",
        "...X...........",
        "...............",
    };
    buildPosition(RULE_RENJU, picture);
    int first = firstThreat(T_OPEN_FOUR, 0);
    ASSERT_EQ(first, sq(3, 1));
    ASSERT_TRUE(isForbidden(first));
    allowSearch();
    EXPECT_NE(threatSearchNode(0, FIRST, 0, 0), THREAT_WIN);
    buildPosition(RULE_RENJU, picture, true);  // the second player's open four counts
    allowSearch();
    EXPECT_EQ(threatSearchNode(0, SECOND, 0, 0), THREAT_WIN);
}

TEST_F(ThreatSearch, TableAnswersRepeatsWithValuesRelativeToTheNode) {
    buildPosition(RULE_STANDARD, LONG_WIN);
    int64_t first, again;
    EXPECT_EQ(search(FIRST, &first), THREAT_WIN - 6);
    EXPECT_EQ(search(FIRST, &again), THREAT_WIN - 6);
    EXPECT_GT(first, 1);
    EXPECT_EQ(again, 1);
    // Met four plies deeper, the same win is four plies further from the root.
    allowSearch();
    EXPECT_EQ(threatSearchNode(-4, FIRST, 0, 4), THREAT_WIN - 10);
    // The winning first move's position is a stored loss for the defender.
    EXPECT_EQ(threatProbe(1, SECOND, g_board.hashKey ^ zobrist[sq(8, 5)][0], 1), -(THREAT_WIN - 6));
}

TEST_F(ThreatSearch, AbortUnwindsWithoutStoringAnything) {
    buildPosition(RULE_STANDARD, LONG_WIN);
    BoardBase before = snapshot();
    allowSearch();
    timeLimit = -1000;         // any stop check fires
    g_nodeCount = 1024 - 3;    // the third node runs it
    EXPECT_EQ(threatSearch(0, FIRST, 0, 0), 0);
    EXPECT_EQ(g_abort, 1);
    EXPECT_TRUE(sameBoard(before, snapshot()));
    EXPECT_EQ(threatProbe(0, FIRST, g_board.hashKey, 0), NO_SCORE);
    EXPECT_EQ(threatProbe(1, SECOND, g_board.hashKey ^ zobrist[sq(8, 5)][0], 1), NO_SCORE);
    int64_t written = 0;
    for (int i = 0; i < 4; i++) {
        for (int64_t e = 0; e < int64_t{hashBuckets} * 2; e++) written += threatTable[i][e].check != 0;
    }
    EXPECT_EQ(written, 0);
    EXPECT_EQ(search(FIRST), THREAT_WIN - 6);  // unharmed afterwards
}

TEST_F(ThreatSearch, PlyPastTheLastMoveListClaimsNothing) {
    buildPosition(RULE_STANDARD, LONG_WIN);
    BoardBase before = snapshot();
    allowSearch();
    // The root's list is the last one: its children have none, so no win can be proved...
    EXPECT_EQ(threatSearchNode(-(MAX_PLY - 1), FIRST, 0, 0), 0);
    EXPECT_TRUE(sameBoard(before, snapshot()));
    // ...and a node past the end neither searches nor stores.
    clearTables();
    int64_t before_nodes = g_nodeCount;
    EXPECT_EQ(threatSearchNode(-MAX_PLY, FIRST, 0, 0), 0);
    EXPECT_EQ(g_nodeCount - before_nodes, 1);
    EXPECT_EQ(threatProbe(0, FIRST, g_board.hashKey, 0), NO_SCORE);
    // A five on the board is still seen there.
    buildPosition(RULE_STANDARD, {"...............", ".XXXX.........."});
    allowSearch();
    EXPECT_EQ(threatSearchNode(-MAX_PLY - 10, FIRST, 0, 0), THREAT_WIN);
}

// ---- random positions ------------------------------------------------------------------------

// Stones in a few clusters, alternating colours, so that fours and their combinations are
// common; most positions leave neither player a five or an open four to make, the rest are
// unrestricted. Positions with a five already on the board are skipped.
// Taking the last position's stones off is much cheaper than a new board.
std::vector<int> placed;

bool randomPosition(std::mt19937& rng, int forRule) {
    static const int SIZES[][2] = {{15, 15}, {15, 15}, {20, 20}, {11, 14}};
    const int* size = SIZES[rng() % 4];
    if (tablesRule == forRule && boardWidth == size[0] && boardHeight == size[1]) {
        for (size_t i = placed.size(); i-- > 0;) unmakeMove(placed[i], g_board.cell[placed[i]]);
    } else {
        emptyBoard(forRule, size[0], size[1]);
    }
    placed.clear();
    std::normal_distribution<double> spread(0.0, 1.8);
    int clusters = 1 + static_cast<int>(rng() % 3);
    int cx[3], cy[3];
    for (int i = 0; i < clusters; i++) {
        cx[i] = 2 + static_cast<int>(rng() % (boardWidth - 4));
        cy[i] = 2 + static_cast<int>(rng() % (boardHeight - 4));
    }
    bool quiet = rng() % 4 != 0;
    int stones = 8 + static_cast<int>(rng() % (quiet ? 50 : 34));
    for (int i = 0, tries = 0; i < stones && tries < 1000; tries++) {
        int k = static_cast<int>(rng() % clusters);
        int x = cx[k] + static_cast<int>(std::lround(spread(rng)));
        int y = cy[k] + static_cast<int>(std::lround(spread(rng)));
        if (!inside(x, y) || g_board.cell[sq(x, y)] != EMPTY) continue;
        int who = i % 2 == 0 ? FIRST : SECOND;
        makeMove(sq(x, y), who);
        // Mostly keep fives and open fours off the board, so that wins need fours to find.
        if (quiet && (hasThreat(T_FIVE, who - 1) || hasThreat(T_OPEN_FOUR, who - 1))) {
            unmakeMove(sq(x, y), who);
            continue;
        }
        placed.push_back(sq(x, y));
        i++;
    }
    if (hasRunOfFive()) return false;
    settle();
    return true;
}

TEST_F(ThreatSearch, RandomPositionsEveryReportedWinReplaysToFives) {
    std::mt19937 rng(20240611);
    emptyBoard(RULE_FREESTYLE);
    placed.clear();
    const int64_t NODE_BUDGET = 6000000;  // searches and replays together
    int64_t start = g_nodeCount;
    int positions = 0, wins[3] = {0, 0, 0}, longWins = 0;
    for (int r : {RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU}) {
        for (int n = 0; n < 1000 && g_nodeCount - start < NODE_BUDGET * (r + 1) / 3; n++) {
            if (!randomPosition(rng, r)) continue;
            positions++;
            for (int side : {FIRST, SECOND}) {
                BoardBase before = snapshot();
                int32_t v = search(side);
                ASSERT_TRUE(sameBoard(before, snapshot())) << "rule " << r << " position " << n;
                ASSERT_GE(v, 0);
                if (!fiveSquares(side).empty()) {
                    ASSERT_EQ(v, THREAT_WIN) << "a five to play is a win at once";
                }
                if (v == 0) continue;
                wins[r]++;
                if (THREAT_WIN - v >= 4) longWins++;
                Replay replay;
                ASSERT_TRUE(replayAttacker(replay, side, 0))
                    << replay.failure << " (rule " << r << ", position " << n << ", side " << side << ")";
                ASSERT_TRUE(sameBoard(before, snapshot()));
            }
        }
    }
    // The check is worth something only if many wins, long ones among them, were replayed.
    EXPECT_GE(positions, 2000);
    for (int r = 0; r < 3; r++) EXPECT_GE(wins[r], 100) << "rule " << r;
    EXPECT_GE(longWins, 100);
    RecordProperty("positions", positions);
    RecordProperty("wins", wins[0] + wins[1] + wins[2]);
}

}  // namespace
