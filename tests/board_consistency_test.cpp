// The incremental board against the checker's recomputation from the cells (random games on
// every size and shape under all rules), the checker's own alarms, and a few pinned figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/consistency.h"
#include "protocol/game.h"
#include "tests/test_positions.h"

namespace {

using testpos::emptyBoard, testpos::sq;
using Result = testing::AssertionResult;
using Move = std::pair<int, int>;  // square, value; or any two numbers

std::string name(int s) { return std::to_string(s >> 5) + "," + std::to_string(s & 31); }

// The whole checker, or (full = false) the part that stays exact under light moves.
Result consistent(bool full = true) {
    std::string failure;
    bool ok = (full ? checkBoardConsistency : checkBoardShapes)(&failure);
    return ok ? testing::AssertionSuccess() : testing::AssertionFailure() << failure;
}

// A copy of the board, the stale tail of the stone list (unmake leaves it) cleared first.
BoardBase snapshot() { return testpos::boardBytes(), g_board; }

// Where the board now differs from before ("" if nowhere).
std::string differenceFrom(const BoardBase& before) {
    std::vector<char> now = testpos::boardBytes();
    auto was = reinterpret_cast<const char*>(&before);
    size_t at = std::mismatch(now.begin(), now.end(), was).first - now.begin();
    if (at >= sizeof before.squares) return at == now.size() ? "" : "byte " + std::to_string(at);
    return "square " + name(static_cast<int>(at / sizeof(SquareInfo)));
}

// Light moves leave rooms, room sums and T_DOUBLE as they were; scores follow the shapes and
// evalSum stays their sum.
Result lightPartsKept(const BoardBase& before) {
    int sums[2] = {0, 0};
    for (int t = 0; t < SQUARE_SLOTS * 2; t++) {
        const SquareInfo &was = before.squares[t / 2], &q = g_board.squares[t / 2];
        int p = t % 2, score = shapeScore[p][q.shape[p]] * q.roomSum[p] / 32;
        sums[p] += q.score[p];
        if (was.room[p] != q.room[p] || was.roomSum[p] != q.roomSum[p] || q.score[p] != score) {
            return testing::AssertionFailure() << "rooms or score of " << name(t / 2);
        }
    }
    const auto& rows = before.threatRows;
    bool kept = !std::memcmp(rows[T_DOUBLE], g_board.threatRows[T_DOUBLE], sizeof rows[0]);
    if (kept && std::equal(sums, sums + 2, g_board.evalSum)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "T_DOUBLE changed, or evalSum is not the scores' sum";
}

// Random games: stones of both colours and blocks, made and unmade in random order, mostly
// next to earlier stones so that long lines, fours, fives and overlines occur; the checker
// passes after every change.
struct RandomGame {
    std::mt19937 rng;
    bool oneColour = false;
    std::vector<Move> placed = {};

    int pick(int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); }

    // A free square, next to an earlier stone more often than not; -1 when the board is full.
    int freeSquare() {
        for (int attempt = 0; attempt < 40; attempt++) {
            int near = placed.empty() || pick(10) > 6 ? -1 : placed[pick(int(placed.size()))].first;
            int x = near < 0 ? pick(boardWidth) : (near >> 5) + pick(5) - 2;
            int y = near < 0 ? pick(boardHeight) : (near & 31) + pick(5) - 2;
            if (testpos::inside(x, y) && testpos::open(sq(x, y))) return sq(x, y);
        }
        for (int s = 0; s < SQUARE_SLOTS; s++) if (testpos::open(s)) return s;
        return -1;
    }

    // A first full pair on each of a few free squares may only replace reset values within
    // reach; a second restores the board exactly. The same moves made light and stacked keep
    // the shapes and classes exact (lightPartsKept the rest), and unmade in reverse restore it.
    void pairsRestore() {
        std::vector<Move> run;
        for (int i = 0, n = 1 + pick(4); i < n; i++) {
            int s = freeSquare(), v = pick(6) == 0 ? BLOCKED : oneColour ? FIRST : 1 + pick(2);
            if (s < 0 || std::ranges::count(run, s, &Move::first)) continue;
            makeMove(s, v), unmakeMove(s, v);
            ASSERT_TRUE(consistent()) << "first pair on " << name(s);
            run.push_back({s, v});
        }
        const BoardBase before = snapshot();
        for (auto [s, v] : run) makeMove(s, v), unmakeMove(s, v);
        ASSERT_EQ(differenceFrom(before), "") << "after the second pairs";
        for (auto [s, v] : run) {
            makeMoveLight(s, v);
            ASSERT_TRUE(consistent(false) && lightPartsKept(before)) << "light make " << name(s);
        }
        for (auto m = run.rbegin(); m != run.rend(); ++m) {
            unmakeMoveLight(m->first, m->second);
            ASSERT_TRUE(consistent(false)) << "light unmake " << name(m->first);
        }
        ASSERT_EQ(differenceFrom(before), "") << "after the light moves";
    }

    void play(int rule) {
        int height = 1 + pick(22), width = pick(3) == 0 ? height : 1 + pick(22);
        if (pick(6) == 0) (pick(2) ? width : height) = 1 + pick(3);
        emptyBoard(rule, width, height);
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        placed.clear();
        oneColour = pick(3) == 0;
        for (int op = 0; op <= std::min(80, 3 * width * height); op++) {
            ASSERT_TRUE(consistent()) << "after " << op << " operations";
            int s = freeSquare(), v = pick(12) == 0 ? BLOCKED : 1 + int(placed.size() % 2);
            if (oneColour && v != BLOCKED) v = pick(4) ? FIRST : SECOND;
            if (!placed.empty() && (s < 0 || pick(100) < 35)) {
                unmakeMove(placed.back().first, placed.back().second);
                placed.pop_back();
            } else if (s >= 0) {
                if (pick(4) == 0) {
                    ASSERT_NO_FATAL_FAILURE(pairsRestore()) << "operation " << op;
                }
                makeMove(s, v);
                placed.push_back({s, v});
            }
        }
    }
};

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
    int code, room;
    resetPattern(sq(9, 11), 0, &code, &room);
    const std::function<void()> corruptions[] = {
        [&] { b.line0[2] ^= uint64_t{1} << 20; }, [&] { b.hashKey ^= 1; }, [&] { q.score[1]++; },
        [&] { b.stones[1] = b.stones[0]; }, [&] { q.shape[0] ^= 1; }, [&] { q.room[1] ^= 1 << 4; },
        [&] { b.evalSum[0]++; }, [&] { b.threatDirs[T_OPEN_FOUR][0][sq(7, 8)] = 2; },
        [&] { b.threatRowMask[T_OPEN_FOUR][0] = 0; }, [&] { b.threatRows[T_DOUBLE][1][0] = 1; },
        [&] {  // the reset's code and room in direction 0 (the low nibbles), for both players
            for (int p : {0, 1}) r.shape[p] += code - r.shape[p] % 16;
            for (int p : {0, 1}) r.room[p] += room - r.room[p] % 16;
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

// Figures a recomputation cannot give: the pattern sums of a fresh rectangular board (the
// blocks outside are refreshed within updateReach), of a settled empty board and of one stone.
TEST(PinnedFigures, EvaluationSumsOfEmptyBoardsAndOfOneStone) {
    auto sums = [] { return Move(g_board.evalSum[0], g_board.evalSum[1]); };
    emptyBoard(RULE_STANDARD, 9, 15);
    EXPECT_EQ(sums(), Move(22, 22));
    emptyBoard(RULE_FREESTYLE);
    makeMove(sq(7, 7), FIRST);
    EXPECT_EQ(sums(), Move(264, 136));
    unmakeMove(sq(7, 7), FIRST);
    EXPECT_EQ(sums(), Move(160, 160));
}

// Moves and blocks through the game record, then a rebuild from the record (blocks first):
// the board built move by move.
TEST(GameRecord, RebuildGivesTheBoardBuiltMoveByMove) {
    std::mt19937 rng(5);
    auto pick = [&](int n) { return static_cast<int>(rng() % n); };
    for (int trial = 0; trial < 20; trial++) {
        int height = 1 + pick(22), width = 1 + pick(22);
        emptyBoard(trial % 2 ? RULE_FREESTYLE : RULE_STANDARD, width, height);
        for (int i = 0; i < height * width / 2; i++) {
            int x = pick(width), y = pick(height), kind = pick(5);
            if (!squareFree(x, y)) continue;
            kind == 0 ? placeBlock(x, y) : kind % 2 ? playOpponentMove(x, y) : playOwnMove(x, y);
        }
        ASSERT_TRUE(consistent());
        const BoardBase built = snapshot();
        rebuildBoard(tablesRule);
        EXPECT_EQ(differenceFrom(built), "") << width << "x" << height;
    }
    recordCount = blockCount = 0;
}

// Last, as the longest.
TEST(RandomGames, IncrementalStateMatchesRecomputationAfterEveryMove) {
    for (int rule : testpos::RULES) {
        RandomGame games{std::mt19937(20240601u + rule)};
        for (int game = 0; game < 300; game++) {
            ASSERT_NO_FATAL_FAILURE(games.play(rule)) << "rule " << rule << ", game " << game;
        }
    }
}

}  // namespace
