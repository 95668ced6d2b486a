// The incremental board against the checker's recomputation from the cells (random games on
// every size and shape under all rules), the checker's own alarms, and a few pinned figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/consistency.h"
#include "protocol/game.h"
#include "tests/test_positions.h"

namespace {

using testpos::emptyBoard, testpos::inside, testpos::sq;

using Result = testing::AssertionResult;
using Move = std::pair<int, int>;  // square, value; or any two numbers

std::string name(int s) { return "(" + std::to_string(s >> 5) + "," + std::to_string(s & 31) + ")"; }

// The whole checker, or (full = false) the part that stays exact under light moves.
Result consistent(bool full = true) {
    std::string failure;
    if ((full ? checkBoardConsistency : checkBoardShapes)(&failure)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << failure;
}

// A copy of the board without the stale tail of the stone list.
std::unique_ptr<BoardBase> snapshot() {
    auto copy = std::make_unique<BoardBase>(g_board);
    std::fill(copy->stones + copy->stoneCount, copy->stones + MAX_STONES, 0u);
    return copy;
}

// Where the board now differs from before ("" if nowhere).
std::string differenceFrom(const BoardBase& before) {
    auto now = snapshot();
    auto a = reinterpret_cast<const char*>(&before), b = reinterpret_cast<const char*>(now.get());
    size_t at = std::mismatch(a, a + sizeof before, b).first - a;
    if (at == sizeof before) return "";
    return at < sizeof before.squares ? "squares" + name(at / sizeof(SquareInfo)) : "byte " + std::to_string(at);
}

// Light moves leave rooms, room sums and T_DOUBLE as they were; scores follow the shapes and
// evalSum stays their sum.
Result lightPartsKept(const BoardBase& before) {
    const BoardBase& b = g_board;
    int64_t sums[2] = {0, 0};
    for (int t = 0; t < SQUARE_SLOTS * 2; t++) {
        const SquareInfo &was = before.squares[t / 2], &q = b.squares[t / 2];
        int p = t % 2;
        sums[p] += q.score[p];
        if (was.room[p] != q.room[p] || was.roomSum[p] != q.roomSum[p] ||
            q.score[p] != shapeScore[p][q.shape[p]] * q.roomSum[p] / 32) {
            return testing::AssertionFailure() << "rooms or score of " << name(t / 2);
        }
    }
    if (!std::memcmp(before.threatRows[T_DOUBLE], b.threatRows[T_DOUBLE], sizeof b.threatRows[0]) &&
        !std::memcmp(before.threatRowMask[T_DOUBLE], b.threatRowMask[T_DOUBLE], sizeof b.threatRowMask[0]) &&
        sums[0] == b.evalSum[0] && sums[1] == b.evalSum[1]) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "T_DOUBLE changed, or evalSum is not the sum of the scores";
}

// Random games: stones of both colours and blocks, made and unmade in random order, mostly
// next to earlier stones so that long lines, fours, fives and overlines occur; the checker
// passes after every change.
struct RandomGame {
    std::mt19937 rng;
    int rule;
    bool oneColour = false;
    std::vector<Move> placed = {};

    int pick(int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); }

    // A free square, next to an earlier stone more often than not; -1 when the board is full.
    int freeSquare() {
        for (int attempt = 0; attempt < 40; attempt++) {
            int x = pick(boardWidth), y = pick(boardHeight);
            if (!placed.empty() && pick(10) < 7) {
                int near = placed[pick(static_cast<int>(placed.size()))].first;
                x = (near >> 5) + pick(5) - 2, y = (near & 31) + pick(5) - 2;
            }
            if (inside(x, y) && g_board.cell[sq(x, y)] == EMPTY) return sq(x, y);
        }
        int s = 0;
        while (s < SQUARE_SLOTS && !(inside(s >> 5, s & 31) && g_board.cell[s] == EMPTY)) s++;
        return s < SQUARE_SLOTS ? s : -1;
    }

    // A first full pair on each of a few free squares may only replace reset values within
    // reach; a second restores the board exactly. The same moves made light and stacked keep
    // the shapes and classes exact (lightPartsKept the rest), and unmade in reverse restore it.
    void pairsRestore() {
        std::vector<Move> run;
        for (int i = 0, n = 1 + pick(4); i < n; i++) {
            int s = freeSquare(), v = pick(6) == 0 ? BLOCKED : oneColour ? FIRST : 1 + pick(2);
            if (s < 0 || std::any_of(run.begin(), run.end(), [s](Move m) { return m.first == s; })) continue;
            makeMove(s, v);
            unmakeMove(s, v);
            ASSERT_TRUE(consistent()) << "first pair on " << name(s);
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
        emptyBoard(rule, width, height);
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        placed.clear();
        oneColour = pick(3) == 0;
        ASSERT_TRUE(consistent()) << "after the reset";
        for (int op = 0, operations = std::min(80, 3 * width * height); op < operations; op++) {
            int s = freeSquare();
            if (!placed.empty() && (s < 0 || pick(100) < 35)) {
                auto [m, v] = placed.back();
                placed.pop_back();
                unmakeMove(m, v);
                ASSERT_TRUE(consistent()) << "operation " << op << ": unmake " << name(m);
                continue;
            }
            if (s < 0) break;
            if (pick(4) == 0) {
                ASSERT_NO_FATAL_FAILURE(pairsRestore()) << "operation " << op;
            }
            int v = pick(12) == 0 ? BLOCKED : oneColour ? (pick(4) == 0 ? SECOND : FIRST) : 1 + int(placed.size() % 2);
            makeMove(s, v);
            placed.push_back({s, v});
            ASSERT_TRUE(consistent()) << "operation " << op << ": make " << name(s) << "=" << v;
        }
    }
};

class RandomGames : public testing::TestWithParam<int> {};

TEST_P(RandomGames, IncrementalStateMatchesRecomputationAfterEveryMove) {
    RandomGame games{std::mt19937(20240601u + GetParam()), GetParam()};
    for (int game = 0; game < 300; game++) ASSERT_NO_FATAL_FAILURE(games.play()) << "game " << game;
}

INSTANTIATE_TEST_SUITE_P(AllRules, RandomGames, testing::Values(RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU));

// A light pair over squares still holding the reset's code 1 leaves the table's 0 there; the
// scores must follow, or a later full refresh (seeing no change) keeps them stale for good.
TEST(LightMoves, UnmakeOverResetCodesKeepsScoresExact) {
    std::mt19937 random(7);
    for (int game = 0; game < 20; game++) {
        emptyBoard(game % 3, 9 + game % 14, 9 + game % 14);
        for (int move = 0; move < 30; move++) {
            int s = sq(random() % boardSize, random() % boardSize), v = 1 + move % 2;
            if (g_board.cell[s] != EMPTY) continue;
            move % 3 == 0 ? makeMove(s, v) : (makeMoveLight(s, v), unmakeMoveLight(s, v));
            ASSERT_TRUE(consistent()) << "game " << game << " move " << move;
        }
    }
}

// Each kind of corruption makes the checker fail, naming a refresh that has not come.
TEST(ConsistencyCheck, ReportsEachKindOfCorruption) {
    emptyBoard(RULE_FREESTYLE);
    for (int y = 5; y <= 7; y++) makeMove(sq(7, y), FIRST);
    makeMove(sq(3, 3), SECOND);
    makeMove(sq(9, 9), BLOCKED);
    ASSERT_TRUE(consistent());
    const BoardBase good = g_board;
    BoardBase& b = g_board;
    SquareInfo &q = b.squares[sq(7, 8)], &r = b.squares[sq(9, 11)];  // (9,11) sees the block
    int shape, room;
    resetPattern(sq(9, 11), 0, &shape, &room);
    const std::function<void()> corruptions[] = {
        [&] { b.line0[2] ^= uint64_t{1} << 20; }, [&] { b.hashKey ^= 1; }, [&] { b.stones[1] = b.stones[0]; },
        [&] { q.shape[0] ^= 1; }, [&] { q.room[1] ^= 1 << 4; }, [&] { q.score[1]++; }, [&] { b.evalSum[0]++; },
        [&] { b.threatRowMask[T_OPEN_FOUR][0] = 0; }, [&] { b.threatDirs[T_OPEN_FOUR][0][sq(7, 8)] = 2; },
        [&] { b.threatRows[T_DOUBLE][1][0] = 1; },
        [&] {
            for (int p = 0; p < 2; p++) r.shape[p] = (r.shape[p] & ~15u) | shape, r.room[p] = (r.room[p] & ~15u) | room;
        },
    };
    for (const auto& corrupt : corruptions) {
        b = good;
        corrupt();
        std::string failure;
        EXPECT_FALSE(checkBoardConsistency(&failure)) << &corrupt - corruptions;
        bool last = &corrupt == std::end(corruptions) - 1;
        EXPECT_NE(failure.find(last ? "within reach" : ""), std::string::npos) << failure;
    }
    b = good;
}

// Figures a recomputation cannot give: the pattern sums of empty boards (on a rectangular one
// the blocks outside are refreshed within updateReach) and of one stone.
TEST(PinnedFigures, EvaluationSumsOfEmptyBoardsAndOfOneStone) {
    const struct { int rule, height, width, sum; } boards[] = {
        {RULE_FREESTYLE, 20, 20, 444}, {RULE_STANDARD, 15, 15, 194}, {RULE_RENJU, 15, 15, 194},
        {RULE_FREESTYLE, 15, 9, 47}, {RULE_STANDARD, 15, 9, 22}, {RULE_RENJU, 20, 20, 444}};
    for (auto b : boards) {
        emptyBoard(b.rule, b.width, b.height);
        EXPECT_EQ(Move(g_board.evalSum[0], g_board.evalSum[1]), Move(b.sum, b.sum)) << b.height << "x" << b.width;
    }
    emptyBoard(RULE_FREESTYLE);
    makeMove(sq(7, 7), FIRST);
    EXPECT_EQ(Move(g_board.evalSum[0], g_board.evalSum[1]), Move(264, 136));
    unmakeMove(sq(7, 7), FIRST);
    EXPECT_EQ(Move(g_board.evalSum[0], g_board.evalSum[1]), Move(160, 160));
}

// Moves and blocks through the game record, then a rebuild from the record (blocks first):
// the board built move by move.
TEST(GameRecord, RebuildGivesTheBoardBuiltMoveByMove) {
    std::mt19937 rng(5);
    for (int trial = 0; trial < 20; trial++) {
        int height = 1 + static_cast<int>(rng() % 22), width = 1 + static_cast<int>(rng() % 22);
        emptyBoard(trial % 2 ? RULE_FREESTYLE : RULE_STANDARD, width, height);
        for (int i = 0; i < height * width / 2; i++) {
            int x = static_cast<int>(rng() % width), y = static_cast<int>(rng() % height), kind = rng() % 5;
            if (!squareFree(x, y)) continue;
            kind == 0 ? placeBlock(x, y) : kind % 2 ? playOpponentMove(x, y) : playOwnMove(x, y);
        }
        ASSERT_TRUE(consistent());
        auto built = snapshot();
        rebuildBoard(tablesRule);
        EXPECT_EQ(differenceFrom(*built), "") << width << "x" << height;
    }
    recordCount = blockCount = 0;
}

}  // namespace
