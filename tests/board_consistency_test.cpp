// The incremental board against a recomputation from its cells: random games on every board
// size and shape under all three rules, make/unmake pairs that must restore the board byte
// for byte, and the worked numbers of the empty and nearly empty board.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/consistency.h"
#include "protocol/game.h"

namespace {

int sq(int x, int y) { return x * 32 + y; }

// An empty board of height x width (height bounds y, like RECTSTART's first number), built
// the way the game record builds it.
void newBoard(int forRule, int height, int width) {
    boardHeight = height;
    boardWidth = width;
    boardSize = std::max(height, width);
    recordCount = 0;
    blockCount = 0;
    rebuildBoard(forRule);
}

void newBoard(int forRule, int size) { newBoard(forRule, size, size); }

testing::AssertionResult passes(bool (*check)(std::string*)) {
    std::string failure;
    if (check(&failure)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << failure;
}

testing::AssertionResult consistent() { return passes(checkBoardConsistency); }
testing::AssertionResult shapesConsistent() { return passes(checkBoardShapes); }

std::unique_ptr<BoardBase> snapshot() {
    auto copy = std::make_unique<BoardBase>();
    std::memcpy(copy.get(), &g_board, sizeof(BoardBase));
    return copy;
}

std::string squareName(int s) {
    return "(" + std::to_string(s >> 5) + "," + std::to_string(s & 31) + ")";
}

// Names the first field in which two boards differ, or "" when they agree; entries of stones
// beyond stoneCount are not compared, and neither is stone order when ignoreStoneOrder.
std::string firstDifference(const BoardBase& a, const BoardBase& b, bool ignoreStoneOrder = false) {
    for (int s = 0; s < SQUARE_SLOTS; s++) {
        if (std::memcmp(&a.squares[s], &b.squares[s], sizeof(SquareInfo)) != 0) {
            const SquareInfo &p = a.squares[s], &q = b.squares[s];
            char text[200];
            std::snprintf(text, sizeof text,
                          "squares%s: shape %#x/%#x -> %#x/%#x, room %#x/%#x -> %#x/%#x, "
                          "score %d/%d -> %d/%d",
                          squareName(s).c_str(), p.shape[0], p.shape[1], q.shape[0], q.shape[1],
                          p.room[0], p.room[1], q.room[0], q.room[1], p.score[0], p.score[1],
                          q.score[0], q.score[1]);
            return text;
        }
    }
#define ZARVEL_COMPARE(field) \
    if (std::memcmp(&a.field, &b.field, sizeof a.field) != 0) return #field;
    ZARVEL_COMPARE(threatRowMask)
    ZARVEL_COMPARE(threatRows)
    ZARVEL_COMPARE(threatDirs)
    ZARVEL_COMPARE(evalSum)
    ZARVEL_COMPARE(hashKey)
    ZARVEL_COMPARE(cell)
    ZARVEL_COMPARE(line0)
    ZARVEL_COMPARE(line1)
    ZARVEL_COMPARE(line2)
    ZARVEL_COMPARE(line3)
    ZARVEL_COMPARE(stoneCount)
#undef ZARVEL_COMPARE
    std::vector<uint32_t> stonesA(a.stones, a.stones + a.stoneCount);
    std::vector<uint32_t> stonesB(b.stones, b.stones + b.stoneCount);
    if (ignoreStoneOrder) {
        std::sort(stonesA.begin(), stonesA.end());
        std::sort(stonesB.begin(), stonesB.end());
    }
    if (stonesA != stonesB) return "stones";
    return "";
}

constexpr int STEP_X[4] = {0, 1, 1, 1};
constexpr int STEP_Y[4] = {1, 0, -1, 1};

bool inGrid(int x, int y) { return x >= 0 && y >= 0 && x < boardSize && y < boardSize; }
bool inBoard(int x, int y) { return x >= 0 && y >= 0 && x < boardWidth && y < boardHeight; }

struct Nibbles {
    int shape[2], room[2];
    bool operator==(const Nibbles&) const = default;
};

Nibbles nibblesOf(const BoardBase& b, int s, int d) {
    const SquareInfo& q = b.squares[s];
    auto nibble = [d](uint32_t word) { return static_cast<int>((word >> (4 * d)) & 15); };
    return {{nibble(q.shape[0]), nibble(q.shape[1])}, {nibble(q.room[0]), nibble(q.room[1])}};
}

Nibbles tableNibbles(int s, int d) {
    const LineEntry& e = lineTable[readWindow(lineOf(d, s), linePosition(d, s))];
    return {{e.shape[0], e.shape[1]}, {e.room[0], e.room[1]}};
}

Nibbles resetNibbles(int s, int d) {
    int shape, room;
    resetPattern(s, d, &shape, &room);
    return {{shape, shape}, {room, room}};
}

std::string describe(const Nibbles& n) {
    return "shapes " + std::to_string(n.shape[0]) + "," + std::to_string(n.shape[1]) + " rooms " +
           std::to_string(n.room[0]) + "," + std::to_string(n.room[1]);
}

// Which (direction, square) pairs some refresh has reached since the reset, kept from the
// history of changed cells: a change on s reaches every square within updateReach of it on
// each of its four lines.
struct ReachedSquares {
    bool reached[4][SQUARE_SLOTS] = {};

    void cellChanged(int s) {
        int x = s >> 5, y = s & 31;
        for (int d = 0; d < 4; d++) {
            for (int k = -updateReach; k <= updateReach; k++) {
                int tx = x + k * STEP_X[d], ty = y + k * STEP_Y[d];
                if (inGrid(tx, ty)) reached[d][sq(tx, ty)] = true;
            }
        }
    }

    // After a reset: the squares outside a rectangular board were blocked by moves.
    void boardReset() {
        std::memset(reached, 0, sizeof reached);
        for (int x = 0; x < boardSize; x++) {
            for (int y = 0; y < boardSize; y++) {
                if (!inBoard(x, y)) cellChanged(sq(x, y));
            }
        }
    }

    // Reached empty squares hold the table's entry of their window, the others the reset's.
    testing::AssertionResult check() const {
        for (int x = 0; x < boardWidth; x++) {
            for (int y = 0; y < boardHeight; y++) {
                int s = sq(x, y);
                if (g_board.cell[s] != EMPTY) continue;
                for (int d = 0; d < 4; d++) {
                    Nibbles want = reached[d][s] ? tableNibbles(s, d) : resetNibbles(s, d);
                    Nibbles got = nibblesOf(g_board, s, d);
                    if (got != want) {
                        return testing::AssertionFailure()
                               << squareName(s) << " direction " << d << ": " << describe(got)
                               << ", expected " << describe(want)
                               << (reached[d][s] ? " (reached)" : " (not reached)");
                    }
                }
            }
        }
        return testing::AssertionSuccess();
    }
};

// Between two boards that a first make/unmake pair on s separates, the only differences
// allowed are squares within reach of s that went from the reset's values to the table's.
testing::AssertionResult onlyResetCodesCleared(const BoardBase& before, int s) {
    auto rest = snapshot();
    std::memcpy(rest->squares, before.squares, sizeof before.squares);
    std::memcpy(rest->evalSum, before.evalSum, sizeof before.evalSum);
    std::string difference = firstDifference(before, *rest);
    if (!difference.empty()) {
        return testing::AssertionFailure() << "first pair changed " << difference;
    }
    for (int x = 0; x < boardSize; x++) {
        for (int y = 0; y < boardSize; y++) {
            int t = sq(x, y);
            for (int d = 0; d < 4; d++) {
                Nibbles was = nibblesOf(before, t, d), now = nibblesOf(g_board, t, d);
                if (was == now) continue;
                int dx = x - (s >> 5), dy = y - (s & 31);
                int k = STEP_X[d] != 0 ? dx * STEP_X[d] : dy * STEP_Y[d];
                bool onLine = dx == k * STEP_X[d] && dy == k * STEP_Y[d];
                if (!onLine || std::abs(k) > updateReach || was != resetNibbles(t, d) ||
                    now != tableNibbles(t, d)) {
                    return testing::AssertionFailure()
                           << "first pair on " << squareName(s) << " changed " << squareName(t)
                           << " direction " << d << " from " << describe(was) << " to "
                           << describe(now);
                }
            }
        }
    }
    return testing::AssertionSuccess();
}

struct Placed {
    int square;
    int value;
};

testing::AssertionResult unchanged(const BoardBase& before, const char* by) {
    std::string difference = firstDifference(before, g_board);
    if (difference.empty()) return testing::AssertionSuccess();
    return testing::AssertionFailure() << by << " changed " << difference;
}

// Light moves leave rooms and T_DOUBLE as they were; a score follows its square's shape
// with the room sum left as it was, and evalSum stays their sum.
testing::AssertionResult lightPartsUnchanged(const BoardBase& before) {
    int64_t sums[2] = {0, 0};
    for (int t = 0; t < SQUARE_SLOTS; t++) {
        const SquareInfo &p = before.squares[t], &q = g_board.squares[t];
        for (int i = 0; i < 2; i++) {
            if (p.room[i] != q.room[i] || p.roomSum[i] != q.roomSum[i] ||
                q.score[i] != shapeScore[i][q.shape[i]] * q.roomSum[i] / 32) {
                return testing::AssertionFailure() << "light move changed the rooms or left the score of "
                                                   << squareName(t);
            }
            sums[i] += q.score[i];
        }
    }
    if (sums[0] != g_board.evalSum[0] || sums[1] != g_board.evalSum[1] ||
        std::memcmp(before.threatRows[T_DOUBLE], g_board.threatRows[T_DOUBLE],
                    sizeof g_board.threatRows[T_DOUBLE]) != 0 ||
        std::memcmp(before.threatRowMask[T_DOUBLE], g_board.threatRowMask[T_DOUBLE],
                    sizeof g_board.threatRowMask[T_DOUBLE]) != 0) {
        return testing::AssertionFailure() << "light move changed T_DOUBLE or evalSum is not the sum";
    }
    return testing::AssertionSuccess();
}

// Leaves the enclosing function with the failure of a check, saying where it happened.
#define RETURN_IF_FAILED(check, what)                  \
    if (testing::AssertionResult r_ = (check); !r_) \
    return r_ << " [" << context_ << ", " << (what) << "]"

// Random games on one board: stones of both colours and blocks, made and unmade in random
// order, mostly next to earlier stones so that long lines, fours, fives and overlines occur.
class RandomGame {
public:
    RandomGame(uint32_t seed, int forRule) : rng_(seed), rule_(forRule) {}

    testing::AssertionResult play(int game) {
        int height = 1 + pick(22), width = 1 + pick(22);
        if (pick(3) == 0) width = height;
        if (pick(6) == 0) (pick(2) ? width : height) = 1 + pick(3);
        newBoard(rule_, height, width);
        reached_.boardReset();
        placed_.clear();
        oneColour_ = pick(3) == 0;
        context_ = "game " + std::to_string(game) + " on " + std::to_string(width) + "x" +
                   std::to_string(height) + " rule " + std::to_string(rule_);
        RETURN_IF_FAILED(checked(), "after the reset");
        for (int op = 0, operations = std::min(80, 3 * width * height); op < operations; op++) {
            std::string at = "operation " + std::to_string(op);
            int s = freeSquare();
            if (!placed_.empty() && (s < 0 || pick(100) < 35)) {
                Placed last = placed_.back();
                placed_.pop_back();
                unmakeMove(last.square, last.value);
                reached_.cellChanged(last.square);
                RETURN_IF_FAILED(checked(), at + ": unmake " + squareName(last.square));
                continue;
            }
            if (s < 0) break;
            if (pick(5) == 0) RETURN_IF_FAILED(pairsRestore(s), at + ": pairs on " + squareName(s));
            if (pick(8) == 0) RETURN_IF_FAILED(lightRunRestores(), at + ": light run");
            int v = pick(12) == 0 ? BLOCKED
                    : oneColour_  ? (pick(4) == 0 ? SECOND : FIRST)
                                  : static_cast<int>(placed_.size() % 2) + 1;
            makeMove(s, v);
            placed_.push_back({s, v});
            reached_.cellChanged(s);
            RETURN_IF_FAILED(checked(), at + ": make " + squareName(s) + "=" + std::to_string(v));
        }
        return testing::AssertionSuccess();
    }

private:
    int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }

    // A free square, next to an earlier stone more often than not; -1 when the board is full.
    int freeSquare() {
        for (int attempt = 0; attempt < 20 && !placed_.empty(); attempt++) {
            int near = placed_[pick(static_cast<int>(placed_.size()))].square;
            int x = (near >> 5) + pick(5) - 2, y = (near & 31) + pick(5) - 2;
            if (pick(10) < 7 && inBoard(x, y) && g_board.cell[sq(x, y)] == EMPTY) return sq(x, y);
        }
        std::vector<int> free;
        for (int x = 0; x < boardWidth; x++) {
            for (int y = 0; y < boardHeight; y++) {
                if (g_board.cell[sq(x, y)] == EMPTY) free.push_back(sq(x, y));
            }
        }
        return free.empty() ? -1 : free[pick(static_cast<int>(free.size()))];
    }

    testing::AssertionResult checked() {
        if (auto r = consistent(); !r) return r;
        return reached_.check();
    }

    // A first make/unmake pair on s may only clear reset codes; a second one restores the
    // board exactly, and so does a light pair after it.
    testing::AssertionResult pairsRestore(int s) {
        int v = 1 + pick(3);
        auto before = snapshot();
        makeMove(s, v);
        unmakeMove(s, v);
        reached_.cellChanged(s);
        RETURN_IF_FAILED(checked(), "first pair");
        RETURN_IF_FAILED(onlyResetCodesCleared(*before, s), "first pair");
        before = snapshot();
        makeMove(s, v);
        RETURN_IF_FAILED(checked(), "second make");
        unmakeMove(s, v);
        RETURN_IF_FAILED(unchanged(*before, "second pair"), "second pair");
        makeMoveLight(s, v);
        RETURN_IF_FAILED(shapesConsistent(), "light make");
        RETURN_IF_FAILED(lightPartsUnchanged(*before), "light make");
        unmakeMoveLight(s, v);
        return unchanged(*before, "light pair");
    }

    // Up to four light moves on top of the position (each square first given a full pair, so
    // that no reset code lies within their reach), then unmade in reverse: shapes and
    // classes 0..3 follow every light move, the rest stays, and the board comes back byte
    // for byte.
    testing::AssertionResult lightRunRestores() {
        std::vector<Placed> run;
        for (int i = 0, n = 1 + pick(4); i < n; i++) {
            int s = freeSquare();
            auto same = [s](Placed p) { return p.square == s; };
            if (s < 0 || std::any_of(run.begin(), run.end(), same)) continue;
            int v = oneColour_ ? FIRST : 1 + pick(2);
            makeMove(s, v);
            unmakeMove(s, v);
            reached_.cellChanged(s);
            run.push_back({s, v});
        }
        auto before = snapshot();
        for (const Placed& p : run) {
            makeMoveLight(p.square, p.value);
            RETURN_IF_FAILED(shapesConsistent(), "light make " + squareName(p.square));
            RETURN_IF_FAILED(lightPartsUnchanged(*before), "light make " + squareName(p.square));
        }
        for (auto p = run.rbegin(); p != run.rend(); ++p) {
            unmakeMoveLight(p->square, p->value);
            RETURN_IF_FAILED(shapesConsistent(), "light unmake " + squareName(p->square));
        }
        RETURN_IF_FAILED(unchanged(*before, "light run"), "after the light run");
        return checked();
    }

    std::mt19937 rng_;
    int rule_;
    bool oneColour_ = false;
    std::vector<Placed> placed_;
    ReachedSquares reached_;
    std::string context_;
};

#undef RETURN_IF_FAILED

class RandomGames : public testing::TestWithParam<int> {};

TEST_P(RandomGames, IncrementalStateMatchesRecomputationAfterEveryMove) {
    RandomGame games(20240601u + static_cast<uint32_t>(GetParam()), GetParam());
    for (int game = 0; game < 300; game++) ASSERT_TRUE(games.play(game));
}

std::string ruleName(const testing::TestParamInfo<int>& info) {
    static const char* const NAMES[] = {"FreeStyle", "Standard", "Renju"};
    return NAMES[info.param];
}

INSTANTIATE_TEST_SUITE_P(AllRules, RandomGames,
                         testing::Values(RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU), ruleName);

// The checker itself must see a fault in each part of the state it covers.
TEST(ConsistencyCheck, ReportsEachKindOfCorruption) {
    newBoard(RULE_FREESTYLE, 15);
    for (int y = 5; y <= 7; y++) makeMove(sq(7, y), FIRST);
    makeMove(sq(3, 3), SECOND);
    makeMove(sq(9, 9), BLOCKED);
    ASSERT_TRUE(consistent());
    auto good = snapshot();
    const std::vector<std::pair<const char*, void (*)()>> corruptions = {
        {"cell", [] { g_board.cell[sq(1, 1)] = FIRST; }},
        {"line", [] { g_board.line0[2] ^= uint64_t{1} << 20; }},
        {"hash", [] { g_board.hashKey ^= 1; }},
        {"stone count", [] { g_board.stoneCount--; }},
        {"stone list", [] { g_board.stones[1] = g_board.stones[0]; }},
        {"shape", [] { g_board.squares[sq(7, 8)].shape[0] ^= 1; }},
        {"room", [] { g_board.squares[sq(7, 8)].room[1] ^= 1 << 4; }},
        {"room sum", [] { g_board.squares[sq(7, 8)].roomSum[0]++; }},
        {"score", [] { g_board.squares[sq(7, 8)].score[1]++; }},
        {"eval sum", [] { g_board.evalSum[0]++; }},
        {"direction set", [] { g_board.threatDirs[T_OPEN_FOUR][0][sq(7, 8)] = 2; }},
        {"row word", [] { g_board.threatRows[T_FOUR][0][7] ^= 1u << 3; }},
        {"row mask", [] { g_board.threatRowMask[T_OPEN_FOUR][0] = 0; }},
        {"double", [] { g_board.threatRows[T_DOUBLE][1][0] = 1; }},
        {"reset values within reach", [] {
             // (9,11) sees the block on (9,9) in direction 0, so a refresh has been there.
             int shape, room;
             resetPattern(sq(9, 11), 0, &shape, &room);
             SquareInfo& q = g_board.squares[sq(9, 11)];
             for (int p = 0; p < 2; p++) {
                 q.shape[p] = (q.shape[p] & ~15u) | static_cast<uint32_t>(shape);
                 q.room[p] = (q.room[p] & ~15u) | static_cast<uint32_t>(room);
             }
         }},
    };
    for (const auto& [name, corrupt] : corruptions) {
        std::memcpy(&g_board, good.get(), sizeof(BoardBase));
        corrupt();
        std::string failure;
        EXPECT_FALSE(checkBoardConsistency(&failure)) << name;
        EXPECT_FALSE(failure.empty()) << name;
        if (std::string(name) == "reset values within reach") {
            EXPECT_NE(failure.find("within reach"), std::string::npos) << failure;
        }
    }
    std::memcpy(&g_board, good.get(), sizeof(BoardBase));
}

TEST(EmptyBoard, EvaluationSumsAndInteriorSquare) {
    for (int forRule : {RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU}) {
        newBoard(forRule, 15);
        EXPECT_EQ(g_board.evalSum[0], 194) << forRule;
        EXPECT_EQ(g_board.evalSum[1], 194) << forRule;
        const SquareInfo& q = g_board.squares[sq(7, 7)];
        for (int p = 0; p < 2; p++) {
            EXPECT_EQ(q.shape[p], 0x1111u);
            EXPECT_EQ(q.room[p], 0x8888u);
            EXPECT_EQ(q.roomSum[p], 32);
            EXPECT_EQ(q.score[p], 2);
        }
        EXPECT_TRUE(consistent());
        newBoard(forRule, 20);
        EXPECT_EQ(g_board.evalSum[0], 444) << forRule;
        EXPECT_EQ(g_board.evalSum[1], 444) << forRule;
        EXPECT_EQ(g_board.threatRowMask[T_FIVE][0] | g_board.threatRowMask[T_THREE][1], 0u);
    }
}

// Before any refresh a square has code 1 in a direction unless it ends its line or lies on
// a diagonal with fewer than five squares within four steps; rooms count the grid squares
// within four steps.
TEST(EmptyBoard, ResetCodesAtTheEdges) {
    newBoard(RULE_FREESTYLE, 15);
    struct Case {
        int x, y;
        uint32_t shape, room;  // nibble d = direction d
    };
    const Case cases[] = {
        {0, 0, 0x0000, 0x4044},  // a corner: the main diagonal only
        {0, 7, 0x0001, 0x4448},  // the x = 0 edge ends the lines of directions 1, 2, 3
        {14, 7, 0x0001, 0x4448},
        {7, 14, 0x0010, 0x4484},  // the y = 14 edge ends the lines of directions 0, 2, 3
        {1, 1, 0x1011, 0x5255},  // two squares within reach on x + y = 2
        {3, 0, 0x0010, 0x4374},
        {2, 2, 0x1011, 0x6466},  // four squares within reach on x + y = 4
        {4, 4, 0x1111, 0x8888},
    };
    for (const Case& c : cases) {
        const SquareInfo& q = g_board.squares[sq(c.x, c.y)];
        EXPECT_EQ(q.shape[0], c.shape) << c.x << "," << c.y;
        EXPECT_EQ(q.shape[1], c.shape) << c.x << "," << c.y;
        EXPECT_EQ(q.room[0], c.room) << c.x << "," << c.y;
    }
}

TEST(FirstStone, EvaluationSumsBeforeAndAfterUnmaking) {
    newBoard(RULE_FREESTYLE, 15);
    makeMove(sq(7, 7), FIRST);
    EXPECT_EQ(g_board.evalSum[0], 264);
    EXPECT_EQ(g_board.evalSum[1], 136);
    EXPECT_EQ(g_board.squares[sq(7, 8)].shape[0], 0x1115u);
    EXPECT_EQ(g_board.squares[sq(7, 8)].shape[1] & 15, 0u);
    EXPECT_EQ(g_board.squares[sq(7, 8)].score[0], 5);
    for (int c = 0; c < THREAT_CLASSES; c++) {
        EXPECT_EQ(g_board.threatRowMask[c][0] | g_board.threatRowMask[c][1], 0u) << c;
    }
    unmakeMove(sq(7, 7), FIRST);
    EXPECT_EQ(g_board.evalSum[0], 160);
    EXPECT_EQ(g_board.evalSum[1], 160);
    // The refresh replaced the reset's code 1 by the table's 0 within reach, and only there.
    for (int y = 2; y <= 12; y++) {
        EXPECT_EQ(g_board.squares[sq(7, y)].shape[0] & 15, (y >= 3 && y <= 11) ? 0u : 1u) << y;
    }
    auto once = snapshot();
    makeMove(sq(7, 7), FIRST);
    unmakeMove(sq(7, 7), FIRST);
    EXPECT_EQ(g_board.evalSum[0], 160);
    EXPECT_EQ(g_board.evalSum[1], 160);
    EXPECT_EQ(firstDifference(*once, g_board), "");
}

// A light pair that reaches squares still holding the reset's code 1 leaves them with the
// table's 0; their scores must follow, or a later full refresh (seeing no change) keeps the
// stale score and evalSum drifts for the rest of the game.
TEST(LightMoves, UnmakeOverResetCodesKeepsScoresExact) {
    newBoard(RULE_RENJU, 15);
    makeMove(sq(7, 7), FIRST);
    makeMove(sq(7, 8), FIRST);
    makeMoveLight(sq(7, 9), FIRST);
    unmakeMoveLight(sq(7, 9), FIRST);
    EXPECT_TRUE(consistent());
    makeMove(sq(7, 9), FIRST);
    unmakeMove(sq(7, 9), FIRST);
    EXPECT_TRUE(consistent());

    std::mt19937 random(7);
    for (int game = 0; game < 20; game++) {
        newBoard(game % 3, 9 + game % 14);
        for (int move = 0; move < 30; move++) {
            int s = sq(random() % boardSize, random() % boardSize);
            if (g_board.cell[s] != EMPTY) continue;
            if (move % 3 == 0) {
                makeMove(s, 1 + move % 2);
            } else {
                makeMoveLight(s, 1 + move % 2);
                unmakeMoveLight(s, 1 + move % 2);
            }
            ASSERT_TRUE(consistent()) << "game " << game << " move " << move;
        }
    }
}

TEST(LineWords, CornerStoneAndWindowAtTheEdge) {
    newBoard(RULE_FREESTYLE, 15);
    auto empty = snapshot();
    makeMove(sq(0, 0), FIRST);
    const uint64_t bits = uint64_t{3} << 10;
    EXPECT_EQ(g_board.line0[0] & bits, uint64_t{FIRST} << 10);
    EXPECT_EQ(g_board.line1[0] & bits, uint64_t{FIRST} << 10);
    EXPECT_EQ(g_board.line2[0] & bits, uint64_t{FIRST} << 10);
    EXPECT_EQ(g_board.line3[15] & bits, uint64_t{FIRST} << 10);
    // Nothing else of the lines changed.
    EXPECT_EQ(g_board.line0[0] ^ empty->line0[0], uint64_t{FIRST} << 10);
    EXPECT_EQ(g_board.line3[15] ^ empty->line3[15], uint64_t{FIRST} << 10);
    for (int i = 1; i < 2 * MAX_BOARD - 1; i++) EXPECT_EQ(g_board.line2[i], empty->line2[i]) << i;

    for (int v : {EMPTY, SECOND}) {
        if (v != EMPTY) makeMove(sq(0, 7), v);
        uint32_t w = readWindow(g_board.line1[7], 0);
        for (int k = 0; k < 4; k++) EXPECT_EQ((w >> (2 * k)) & 3, 0u) << k;
        EXPECT_EQ((w >> 8) & 3, uint32_t{BLOCKED});
        EXPECT_EQ((w >> 10) & 3, static_cast<uint32_t>(v));
    }
}

TEST(RectangularBoard, SquaresOutsideAreBlocks) {
    newBoard(RULE_STANDARD, 20, 15);
    EXPECT_EQ(boardSize, 20);
    uint64_t key = 0;
    for (int x = 0; x < 20; x++) {
        for (int y = 0; y < 20; y++) {
            EXPECT_EQ(g_board.cell[sq(x, y)], x >= 15 ? BLOCKED : EMPTY) << x << "," << y;
            if (x >= 15) key ^= zobrist[sq(x, y)][BLOCKED - 1];
        }
    }
    EXPECT_EQ(g_board.hashKey, key);
    EXPECT_EQ(g_board.stoneCount, 0);
    EXPECT_TRUE(consistent());
    // The blocks end the lines: a four against them has one completion, not two.
    for (int x = 11; x <= 13; x++) makeMove(sq(x, 4), FIRST);
    EXPECT_EQ(shapeCode(sq(14, 4), 0, 1), SHAPE_CLOSED_FOUR);
    EXPECT_EQ(shapeCode(sq(10, 4), 0, 1), SHAPE_OPEN_FOUR);
    EXPECT_EQ(g_board.threatRows[T_OPEN_FOUR][0][14], 0u);
    EXPECT_TRUE(inThreat(T_FOUR, 0, sq(14, 4)));
    EXPECT_TRUE(consistent());
}

TEST(ThreatSets, ThreeStonesInARow) {
    for (int forRule : {RULE_FREESTYLE, RULE_STANDARD}) {
        newBoard(forRule, 15);
        for (int y = 5; y <= 7; y++) makeMove(sq(7, y), FIRST);
        for (int y : {4, 8}) {
            EXPECT_EQ(shapeCode(sq(7, y), 0, 0), SHAPE_OPEN_FOUR) << y;
            EXPECT_TRUE(inThreat(T_OPEN_FOUR, 0, sq(7, y))) << y;
        }
        for (int y : {3, 9}) {
            EXPECT_EQ(shapeCode(sq(7, y), 0, 0), SHAPE_CLOSED_FOUR) << y;
            EXPECT_TRUE(inThreat(T_FOUR, 0, sq(7, y))) << y;
        }
        for (int y : {2, 10}) {
            int expected = forRule == RULE_FREESTYLE ? SHAPE_CLOSED_THREE : SHAPE_NONE;
            EXPECT_EQ(shapeCode(sq(7, y), 0, 0), expected) << y;
        }
        EXPECT_EQ(g_board.threatRowMask[T_OPEN_FOUR][0], 1u << 7);
        EXPECT_EQ(g_board.threatRowMask[T_FIVE][0], 0u);
        EXPECT_EQ(g_board.threatRowMask[T_OPEN_FOUR][1], 0u);
        int squares[MAX_STONES];
        ASSERT_EQ(listThreats(T_OPEN_FOUR, 0, squares), 2);
        EXPECT_EQ(squares[0], sq(7, 4));
        EXPECT_EQ(squares[1], sq(7, 8));
        EXPECT_EQ(firstThreat(T_FOUR, 0), sq(7, 3));
        EXPECT_TRUE(consistent());
        for (int y = 7; y >= 5; y--) unmakeMove(sq(7, y), FIRST);
        static const BoardBase none{};
        const BoardBase& b = g_board;
        EXPECT_EQ(std::memcmp(b.threatRowMask, none.threatRowMask, sizeof b.threatRowMask), 0);
        EXPECT_EQ(std::memcmp(b.threatRows, none.threatRows, sizeof b.threatRows), 0);
        EXPECT_EQ(std::memcmp(b.threatDirs, none.threatDirs, sizeof b.threatDirs), 0);
    }
}

TEST(ThreatSets, FourAndThreeMakeADouble) {
    newBoard(RULE_FREESTYLE, 15);
    const int target = sq(7, 7);
    makeMove(sq(7, 8), FIRST);  // direction 0: .x x x. once the target is played
    makeMove(sq(7, 9), FIRST);
    makeMove(sq(3, 7), SECOND);  // direction 1: o x x x [target], a four with one completion
    for (int x = 4; x <= 6; x++) makeMove(sq(x, 7), FIRST);
    EXPECT_EQ(shapeCode(target, 0, 0), SHAPE_THREE);
    EXPECT_EQ(shapeCode(target, 0, 1), SHAPE_CLOSED_FOUR);
    EXPECT_EQ(g_board.threatDirs[T_THREE][0][target], 1u);
    EXPECT_EQ(g_board.threatDirs[T_FOUR][0][target], 2u);
    EXPECT_TRUE(inThreat(T_THREE, 0, target));
    EXPECT_TRUE(inThreat(T_FOUR, 0, target));
    EXPECT_TRUE(inThreat(T_DOUBLE, 0, target));
    EXPECT_FALSE(inThreat(T_DOUBLE, 1, target));
    EXPECT_TRUE(consistent());

    makeMove(sq(8, 7), SECOND);  // o x x x [target] o: no five can come of it any more
    EXPECT_EQ(shapeCode(target, 0, 1), SHAPE_NONE);
    EXPECT_TRUE(inThreat(T_THREE, 0, target));
    EXPECT_FALSE(inThreat(T_FOUR, 0, target));
    EXPECT_FALSE(inThreat(T_DOUBLE, 0, target));
    EXPECT_EQ(g_board.threatRowMask[T_DOUBLE][0], 0u);
    EXPECT_TRUE(consistent());

    unmakeMove(sq(8, 7), SECOND);
    EXPECT_TRUE(inThreat(T_DOUBLE, 0, target));
    makeMove(sq(7, 10), SECOND);  // the three closed on one side: a closed three, no class
    EXPECT_EQ(shapeCode(target, 0, 0), SHAPE_CLOSED_THREE);
    EXPECT_TRUE(inThreat(T_FOUR, 0, target));
    EXPECT_FALSE(inThreat(T_THREE, 0, target));
    EXPECT_FALSE(inThreat(T_DOUBLE, 0, target));
    EXPECT_TRUE(consistent());
}

// The board after a set of moves depends on the set, not on the order (but for the order of
// the stone list): hash key, shapes, scores, sums and threat sets alike.
TEST(MoveOrder, PositionDeterminesTheBoard) {
    std::mt19937 rng(77);
    for (int forRule : {RULE_FREESTYLE, RULE_RENJU}) {
        for (int trial = 0; trial < 20; trial++) {
            int size = 5 + static_cast<int>(rng() % 18);
            std::vector<Placed> moves;
            newBoard(forRule, size);
            for (int i = 0; i < size * size / 3; i++) {
                int s = sq(static_cast<int>(rng() % size), static_cast<int>(rng() % size));
                if (g_board.cell[s] != EMPTY) continue;
                int v = 1 + static_cast<int>(rng() % 3);
                makeMove(s, v);
                moves.push_back({s, v});
            }
            auto first = snapshot();
            std::shuffle(moves.begin(), moves.end(), rng);
            newBoard(forRule, size);
            for (const Placed& m : moves) makeMove(m.square, m.value);
            EXPECT_EQ(g_board.hashKey, first->hashKey);
            EXPECT_EQ(firstDifference(*first, g_board, true), "") << "size " << size;
        }
    }
}

// Moves and blocks through the game record, then a rebuild from the record (blocks first):
// the same board as the one built move by move.
TEST(GameRecord, RebuildGivesTheBoardBuiltMoveByMove) {
    std::mt19937 rng(5);
    for (int forRule : {RULE_STANDARD, RULE_FREESTYLE}) {
        for (int trial = 0; trial < 10; trial++) {
            int height = 1 + static_cast<int>(rng() % 22), width = 1 + static_cast<int>(rng() % 22);
            newBoard(forRule, height, width);
            for (int i = 0; i < height * width / 2; i++) {
                int x = static_cast<int>(rng() % width), y = static_cast<int>(rng() % height);
                if (!squareFree(x, y)) continue;
                uint32_t kind = rng() % 5;
                if (kind == 0) {
                    placeBlock(x, y);
                } else if (kind % 2 == 0) {
                    playOwnMove(x, y);
                } else {
                    playOpponentMove(x, y);
                }
            }
            ASSERT_TRUE(consistent());
            auto built = snapshot();
            rebuildBoard(forRule);
            EXPECT_EQ(firstDifference(*built, g_board), "") << width << "x" << height;
            for (int i = 0; i < recordCount; i++) {
                EXPECT_EQ(gameRecord[i].who, i % 2 + 1);
                EXPECT_EQ(g_board.cell[sq(gameRecord[i].x, gameRecord[i].y)], gameRecord[i].who);
            }
            for (int i = 0; i < blockCount; i++) {
                EXPECT_EQ(g_board.cell[sq(blockRecord[i].x, blockRecord[i].y)], BLOCKED);
            }
        }
    }
}

}  // namespace
