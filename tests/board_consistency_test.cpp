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
#include <utility>
#include <vector>

#include "board/board.h"
#include "board/consistency.h"
#include "protocol/game.h"

namespace {

using Result = testing::AssertionResult;
using Move = std::pair<int, int>;  // square, value; or any two numbers

int sq(int x, int y) { return x * 32 + y; }
std::string name(int s) { return "(" + std::to_string(s >> 5) + "," + std::to_string(s & 31) + ")"; }
bool inBoard(int x, int y) { return x >= 0 && y >= 0 && x < boardWidth && y < boardHeight; }
Move evalSums() { return {g_board.evalSum[0], g_board.evalSum[1]}; }

// An empty board of height x width (height bounds y, like RECTSTART's first number), built
// the way the game record builds it.
void newBoard(int forRule, int height, int width = 0) {
    boardHeight = height;
    boardWidth = width > 0 ? width : height;
    boardSize = std::max(boardHeight, boardWidth);
    recordCount = blockCount = 0;
    rebuildBoard(forRule);
}

// The whole checker, or (full = false) the part that stays exact under light moves.
Result consistent(bool full = true) {
    std::string failure;
    if ((full ? checkBoardConsistency : checkBoardShapes)(&failure)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << failure;
}

// A copy of the board without the stale tail of the stone list, the list sorted if asked.
std::unique_ptr<BoardBase> snapshot(bool sortStones = false) {
    auto copy = std::make_unique<BoardBase>();
    std::memcpy(copy.get(), &g_board, sizeof g_board);
    std::fill(copy->stones + copy->stoneCount, copy->stones + MAX_STONES, 0u);
    if (sortStones) std::sort(copy->stones, copy->stones + copy->stoneCount);
    return copy;
}

// Where the board now differs from before ("" if nowhere).
std::string differenceFrom(const BoardBase& before, bool sortStones = false) {
    auto now = snapshot(sortStones);
    auto a = reinterpret_cast<const char*>(&before), b = reinterpret_cast<const char*>(now.get());
    size_t at = std::mismatch(a, a + sizeof before, b).first - a;
    if (at == sizeof before) return "";
    if (at < sizeof before.squares) return "squares" + name(at / sizeof(SquareInfo));
    return "byte " + std::to_string(at);
}

// Light moves leave rooms, room sums and T_DOUBLE as they were; scores follow the shapes and
// evalSum stays their sum.
Result lightPartsKept(const BoardBase& before) {
    int64_t sums[2] = {0, 0};
    for (int t = 0; t < SQUARE_SLOTS; t++) {
        const SquareInfo &was = before.squares[t], &q = g_board.squares[t];
        for (int p = 0; p < 2; p++) {
            sums[p] += q.score[p];
            if (was.room[p] != q.room[p] || was.roomSum[p] != q.roomSum[p] ||
                q.score[p] != shapeScore[p][q.shape[p]] * q.roomSum[p] / 32) {
                return testing::AssertionFailure() << "rooms or score of " << name(t);
            }
        }
    }
    const BoardBase& b = g_board;
    const size_t rows = sizeof b.threatRows[0], mask = sizeof b.threatRowMask[0];
    bool doubles = !std::memcmp(before.threatRows[T_DOUBLE], b.threatRows[T_DOUBLE], rows) &&
                   !std::memcmp(before.threatRowMask[T_DOUBLE], b.threatRowMask[T_DOUBLE], mask);
    if (doubles && sums[0] == b.evalSum[0] && sums[1] == b.evalSum[1]) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "T_DOUBLE changed, or evalSum is not the sum of the scores";
}

// Random games: stones of both colours and blocks, made and unmade in random order, mostly
// next to earlier stones so that long lines, fours, fives and overlines occur. After every
// change the checker passes, and empty squares hold the table's values in the directions a
// refresh has reached since the reset (updateReach each way from a change), the reset's in
// the others (the checker accepts either where no stone is within reach).
struct RandomGame {
    std::mt19937 rng;
    int rule;
    bool oneColour = false;
    std::vector<Move> placed;
    bool reached[4][SQUARE_SLOTS];

    int pick(int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); }

    void changed(int s) {
        static constexpr int STEP_X[4] = {0, 1, 1, 1}, STEP_Y[4] = {1, 0, -1, 1};
        for (int d = 0; d < 4; d++) {
            for (int k = -updateReach; k <= updateReach; k++) {
                int x = (s >> 5) + k * STEP_X[d], y = (s & 31) + k * STEP_Y[d];
                if (x >= 0 && y >= 0 && x < boardSize && y < boardSize) reached[d][sq(x, y)] = true;
            }
        }
    }

    Result checked() {
        if (Result r = consistent(); !r) return r;
        for (int x = 0; x < boardWidth; x++) {
            for (int y = 0; y < boardHeight; y++) {
                for (int d = 0, s = sq(x, y), shape, room; d < 4 && g_board.cell[s] == EMPTY; d++) {
                    const LineEntry& e = lineTable[readWindow(lineOf(d, s), linePosition(d, s))];
                    resetPattern(s, d, &shape, &room);
                    const SquareInfo& q = g_board.squares[s];
                    for (int p = 0; p < 2; p++) {
                        Move now((q.shape[p] >> 4 * d) & 15, (q.room[p] >> 4 * d) & 15);
                        Move want = reached[d][s] ? Move(e.shape[p], e.room[p]) : Move(shape, room);
                        if (now == want) continue;
                        return testing::AssertionFailure() << name(s) << " direction " << d << " holds "
                                                           << now.first << "/" << now.second << ", not "
                                                           << want.first << "/" << want.second;
                    }
                }
            }
        }
        return testing::AssertionSuccess();
    }

    // A free square, next to an earlier stone more often than not; -1 when the board is full.
    int freeSquare() {
        for (int attempt = 0; attempt < 40; attempt++) {
            int x = pick(boardWidth), y = pick(boardHeight);
            if (!placed.empty() && pick(10) < 7) {
                int near = placed[pick(static_cast<int>(placed.size()))].first;
                x = (near >> 5) + pick(5) - 2, y = (near & 31) + pick(5) - 2;
            }
            if (inBoard(x, y) && g_board.cell[sq(x, y)] == EMPTY) return sq(x, y);
        }
        for (int s = 0; s < SQUARE_SLOTS; s++) {
            if (inBoard(s >> 5, s & 31) && g_board.cell[s] == EMPTY) return s;
        }
        return -1;
    }

    // A first full pair on each of a few free squares may only replace reset values within
    // reach (checked()); a second restores the board exactly. The same moves made light and
    // stacked keep the shapes and classes exact (lightPartsKept the rest), and unmade in reverse
    // restore the board.
    void pairsRestore() {
        std::vector<Move> run;
        for (int i = 0, n = 1 + pick(4); i < n; i++) {
            int s = freeSquare(), v = pick(6) == 0 ? BLOCKED : oneColour ? FIRST : 1 + pick(2);
            if (s < 0 || std::any_of(run.begin(), run.end(), [s](Move m) { return m.first == s; })) continue;
            makeMove(s, v);
            unmakeMove(s, v);
            changed(s);
            ASSERT_TRUE(checked()) << "first pair on " << name(s);
            run.push_back({s, v});
        }
        auto before = snapshot();
        for (auto [s, v] : run) {
            makeMove(s, v);
            unmakeMove(s, v);
            ASSERT_EQ(differenceFrom(*before), "") << "second pair on " << name(s);
        }
        for (auto [s, v] : run) {
            makeMoveLight(s, v);
            ASSERT_TRUE(consistent(false)) << "light make " << name(s);
            ASSERT_TRUE(lightPartsKept(*before)) << "light make " << name(s);
        }
        for (auto m = run.rbegin(); m != run.rend(); ++m) {
            unmakeMoveLight(m->first, m->second);
            ASSERT_TRUE(consistent(false)) << "light unmake " << name(m->first);
        }
        ASSERT_EQ(differenceFrom(*before), "") << "after the light moves";
    }

    void play() {
        int height = 1 + pick(22), width = 1 + pick(22);
        if (pick(3) == 0) width = height;
        if (pick(6) == 0) (pick(2) ? width : height) = 1 + pick(3);
        newBoard(rule, height, width);
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        std::memset(reached, 0, sizeof reached);
        for (int s = 0; s < SQUARE_SLOTS; s++) {
            if (g_board.cell[s] == BLOCKED) changed(s);  // outside a rectangular board
        }
        placed.clear();
        oneColour = pick(3) == 0;
        ASSERT_TRUE(checked()) << "after the reset";
        for (int op = 0, operations = std::min(80, 3 * width * height); op < operations; op++) {
            int s = freeSquare();
            if (!placed.empty() && (s < 0 || pick(100) < 35)) {
                auto [m, v] = placed.back();
                placed.pop_back();
                unmakeMove(m, v);
                changed(m);
                ASSERT_TRUE(checked()) << "operation " << op << ": unmake " << name(m);
                continue;
            }
            if (s < 0) break;
            if (pick(4) == 0) {
                ASSERT_NO_FATAL_FAILURE(pairsRestore()) << "operation " << op;
            }
            int v = pick(12) == 0 ? BLOCKED
                    : oneColour  ? (pick(4) == 0 ? SECOND : FIRST)
                                 : 1 + static_cast<int>(placed.size() % 2);
            makeMove(s, v);
            placed.push_back({s, v});
            changed(s);
            ASSERT_TRUE(checked()) << "operation " << op << ": make " << name(s) << "=" << v;
        }
        // From an empty board the same moves in any order give the same board (but for the
        // order of the stone list).
        std::unique_ptr<BoardBase> inOrder;
        for (int shuffled = 0; shuffled < 2; shuffled++, std::shuffle(placed.begin(), placed.end(), rng)) {
            resetBoardState();
            for (auto [m, v] : placed) makeMove(m, v);
            if (!inOrder) inOrder = snapshot(true);
        }
        ASSERT_EQ(g_board.hashKey, inOrder->hashKey);
        ASSERT_EQ(differenceFrom(*inOrder, true), "") << "moves in another order";
    }
};

class RandomGames : public testing::TestWithParam<int> {};

TEST_P(RandomGames, IncrementalStateMatchesRecomputationAfterEveryMove) {
    RandomGame games{std::mt19937(20240601u + GetParam()), GetParam(), false, {}, {}};
    for (int game = 0; game < 300; game++) ASSERT_NO_FATAL_FAILURE(games.play()) << "game " << game;
}

INSTANTIATE_TEST_SUITE_P(AllRules, RandomGames, testing::Values(RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU));

// A light pair over squares still holding the reset's code 1 leaves the table's 0 there; the
// scores must follow, or a later full refresh (seeing no change) keeps them stale for good.
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

TEST(ConsistencyCheck, ReportsEachKindOfCorruption) {
    newBoard(RULE_FREESTYLE, 15);
    for (int y = 5; y <= 7; y++) makeMove(sq(7, y), FIRST);
    makeMove(sq(3, 3), SECOND);
    makeMove(sq(9, 9), BLOCKED);
    ASSERT_TRUE(consistent());
    auto good = snapshot();
    BoardBase& b = g_board;
    void (*const corruptions[])() = {
        [] { g_board.line0[2] ^= uint64_t{1} << 20; },
        [] { g_board.hashKey ^= 1; },
        [] { g_board.stones[1] = g_board.stones[0]; },
        [] { g_board.squares[sq(7, 8)].shape[0] ^= 1; },
        [] { g_board.squares[sq(7, 8)].room[1] ^= 1 << 4; },
        [] { g_board.squares[sq(7, 8)].score[1]++; },
        [] { g_board.evalSum[0]++; },
        [] { g_board.threatRowMask[T_OPEN_FOUR][0] = 0; },
        [] { g_board.threatDirs[T_OPEN_FOUR][0][sq(7, 8)] = 2; },
        [] { g_board.threatRows[T_DOUBLE][1][0] = 1; },
        [] {  // (9,11) sees the block, so a refresh has been there: not the reset's values
            int shape, room;
            resetPattern(sq(9, 11), 0, &shape, &room);
            SquareInfo& q = g_board.squares[sq(9, 11)];
            for (int p = 0; p < 2; p++) {
                q.shape[p] = (q.shape[p] & ~15u) | shape;
                q.room[p] = (q.room[p] & ~15u) | room;
            }
        },
    };
    for (int kind = 0; kind < 11; kind++) {
        b = *good;
        corruptions[kind]();
        std::string failure;
        EXPECT_FALSE(checkBoardConsistency(&failure)) << kind;
        EXPECT_NE(failure.find(kind == 10 ? "within reach" : ""), std::string::npos) << failure;
    }
    b = *good;
}

TEST(EmptyBoard, EvaluationSumsAndResetCodes) {
    for (int forRule : {RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU}) {
        newBoard(forRule, 20);
        EXPECT_EQ(evalSums(), Move(444, 444));
        newBoard(forRule, 15);
        EXPECT_EQ(evalSums(), Move(194, 194));
        for (const SquareInfo& q = g_board.squares[sq(7, 7)]; int p : {0, 1}) {
            EXPECT_EQ(q.shape[p], 0x1111u);
            EXPECT_EQ(q.room[p], 0x8888u);
            EXPECT_EQ(q.roomSum[p], 32);
            EXPECT_EQ(q.score[p], 2);
        }
    }
    // Code 1 unless the square ends its line or its diagonal has fewer than five squares within
    // four steps; rooms count the grid squares within four steps. Nibble d = direction d.
    const struct { int x, y; uint32_t shape, room; } cases[] = {
        {0, 0, 0x0000, 0x4044}, {0, 7, 0x0001, 0x4448}, {14, 7, 0x0001, 0x4448}, {7, 14, 0x0010, 0x4484},
        {1, 1, 0x1011, 0x5255}, {3, 0, 0x0010, 0x4374}, {2, 2, 0x1011, 0x6466}, {4, 4, 0x1111, 0x8888},
    };
    for (const auto& c : cases) {
        const SquareInfo& q = g_board.squares[sq(c.x, c.y)];
        EXPECT_TRUE(q.shape[0] == c.shape && q.shape[1] == c.shape && q.room[0] == c.room) << &c - cases;
    }
}

TEST(FirstStone, EvaluationSumsBeforeAndAfterUnmaking) {
    newBoard(RULE_FREESTYLE, 15);
    makeMove(sq(7, 7), FIRST);
    EXPECT_EQ(evalSums(), Move(264, 136));
    EXPECT_EQ(g_board.squares[sq(7, 8)].shape[0], 0x1115u);
    EXPECT_EQ(g_board.squares[sq(7, 8)].shape[1] & 15, 0u);
    EXPECT_EQ(g_board.squares[sq(7, 8)].score[0], 5);
    for (int pair = 0; pair < 2; pair++) {
        unmakeMove(sq(7, 7), FIRST);
        EXPECT_EQ(evalSums(), Move(160, 160));
        for (int y = 2; y <= 12; y++) {  // the table's 0 replaced the reset's 1 within reach only
            EXPECT_EQ(g_board.squares[sq(7, y)].shape[0] & 15, (y >= 3 && y <= 11) ? 0u : 1u) << y;
        }
        makeMove(sq(7, 7), FIRST);
    }
}

TEST(LineWords, CornerStoneAndWindowAtTheEdge) {
    newBoard(RULE_FREESTYLE, 15);
    auto empty = snapshot();
    makeMove(sq(0, 0), FIRST);
    const uint64_t bit = uint64_t{FIRST} << 10;
    EXPECT_EQ(g_board.line0[0] ^ empty->line0[0], bit);
    EXPECT_EQ(g_board.line1[0] ^ empty->line1[0], bit);
    EXPECT_EQ(g_board.line2[0] ^ empty->line2[0], bit);
    EXPECT_EQ(g_board.line3[15] ^ empty->line3[15], bit);
    EXPECT_EQ(std::memcmp(g_board.line2 + 1, empty->line2 + 1, sizeof g_board.line2 - sizeof bit), 0);
    for (int v : {EMPTY, SECOND}) {  // (0,7) on its column: four cells off the board, the edge, v
        if (v != EMPTY) makeMove(sq(0, 7), v);
        EXPECT_EQ(readWindow(g_board.line1[7], 0) & 0xFFF, (uint32_t{BLOCKED} << 8) | (uint32_t(v) << 10));
    }
}

TEST(RectangularBoard, SquaresOutsideAreBlocks) {
    newBoard(RULE_STANDARD, 20, 15);  // RECTSTART 20,15
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
    // The blocks end the lines: a four against them has one completion, not two.
    for (int x = 11; x <= 13; x++) makeMove(sq(x, 4), FIRST);
    EXPECT_EQ(shapeCode(sq(14, 4), 0, 1), SHAPE_CLOSED_FOUR);
    EXPECT_EQ(shapeCode(sq(10, 4), 0, 1), SHAPE_OPEN_FOUR);
}

std::vector<int> threats(int c, int p) {
    int squares[MAX_STONES];
    return std::vector<int>(squares, squares + listThreats(c, p, squares));
}

TEST(ThreatSets, ThreeInARowThenFourAndThreeMakeADouble) {
    for (int forRule : {RULE_FREESTYLE, RULE_STANDARD}) {
        newBoard(forRule, 15);
        for (int y = 5; y <= 7; y++) makeMove(sq(7, y), FIRST);
        // By distance from the middle stone: open four, four, code 6 where six make a five.
        const int code[] = {0, 0, SHAPE_OPEN_FOUR, SHAPE_CLOSED_FOUR, forRule == RULE_FREESTYLE ? 6 : 0};
        for (int y : {2, 3, 4, 8, 9, 10}) EXPECT_EQ(shapeCode(sq(7, y), 0, 0), code[std::abs(y - 6)]) << y;
        EXPECT_EQ(threats(T_OPEN_FOUR, 0), (std::vector<int>{sq(7, 4), sq(7, 8)}));
        EXPECT_EQ(threats(T_FOUR, 0), (std::vector<int>{sq(7, 3), sq(7, 9)}));
        EXPECT_EQ(firstThreat(T_FOUR, 0), sq(7, 3));
        EXPECT_EQ(g_board.threatRowMask[T_OPEN_FOUR][0], 1u << 7);
        EXPECT_EQ(g_board.threatRowMask[T_FIVE][0] | g_board.threatRowMask[T_OPEN_FOUR][1], 0u);
        for (int y = 7; y >= 5; y--) unmakeMove(sq(7, y), FIRST);
        static const BoardBase none{};
        EXPECT_EQ(std::memcmp(g_board.threatRowMask, none.threatRowMask, sizeof none.threatRowMask), 0);
        EXPECT_EQ(std::memcmp(g_board.threatRows, none.threatRows, sizeof none.threatRows), 0);
        EXPECT_EQ(std::memcmp(g_board.threatDirs, none.threatDirs, sizeof none.threatDirs), 0);
    }
    newBoard(RULE_FREESTYLE, 15);
    const int target = sq(7, 7);
    makeMove(sq(7, 8), FIRST);  // direction 0: .xxx. once the target is played
    makeMove(sq(7, 9), FIRST);
    makeMove(sq(3, 7), SECOND);  // direction 1: o x x x [target], a four with one completion
    for (int x = 4; x <= 6; x++) makeMove(sq(x, 7), FIRST);
    EXPECT_EQ(g_board.threatDirs[T_THREE][0][target], 1u);
    EXPECT_EQ(g_board.threatDirs[T_FOUR][0][target], 2u);
    EXPECT_EQ(threats(T_DOUBLE, 0), std::vector<int>{target});
    makeMove(sq(8, 7), SECOND);  // o x x x [target] o: no five can come of it any more
    EXPECT_EQ(g_board.threatRowMask[T_FOUR][0] | g_board.threatRowMask[T_DOUBLE][0], 0u);
    unmakeMove(sq(8, 7), SECOND);
    EXPECT_TRUE(inThreat(T_DOUBLE, 0, target));
    makeMove(sq(7, 10), SECOND);  // the three closed on one side: a closed three, no class
    EXPECT_EQ(shapeCode(target, 0, 0), SHAPE_CLOSED_THREE);
    EXPECT_FALSE(inThreat(T_THREE, 0, target) || inThreat(T_DOUBLE, 0, target));
}

// Moves and blocks through the game record, then a rebuild from the record (blocks first):
// the board built move by move, colours alternating.
TEST(GameRecord, RebuildGivesTheBoardBuiltMoveByMove) {
    std::mt19937 rng(5);
    for (int trial = 0; trial < 20; trial++) {
        int height = 1 + static_cast<int>(rng() % 22), width = 1 + static_cast<int>(rng() % 22);
        newBoard(trial % 2 ? RULE_FREESTYLE : RULE_STANDARD, height, width);
        for (int i = 0; i < height * width / 2; i++) {
            int x = static_cast<int>(rng() % width), y = static_cast<int>(rng() % height), kind = rng() % 5;
            if (!squareFree(x, y)) continue;
            kind == 0 ? placeBlock(x, y) : kind % 2 ? playOpponentMove(x, y) : playOwnMove(x, y);
        }
        ASSERT_TRUE(consistent());
        auto built = snapshot();
        rebuildBoard(tablesRule);
        EXPECT_EQ(differenceFrom(*built), "") << width << "x" << height;
        for (int i = 0; i < recordCount + blockCount; i++) {
            const MoveRecord& m = i < recordCount ? gameRecord[i] : blockRecord[i - recordCount];
            EXPECT_EQ(g_board.cell[sq(m.x, m.y)], i < recordCount ? i % 2 + 1 : BLOCKED);
        }
    }
}

}  // namespace
