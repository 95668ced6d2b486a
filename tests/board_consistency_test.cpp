// The incremental board against the checker's recomputation from the cells (random games on
// every size and shape under all rules, light moves), the checker's own alarms, the rebuild.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <utility>
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
    bool ok = (full ? checkBoardConsistency : checkBoardShapes)(g_board, &failure);
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
                unmakeMove(g_board, placed.back().first, placed.back().second);
                placed.pop_back();
            } else if (s >= 0) {
                makeMove(g_board, s, v);
                placed.push_back({s, v});
            }
        }
    }
};

// Light moves, one or two stacked, keep the shapes exact; unmade, they leave the whole board
// exact. A light pair over squares still holding the reset's code 1 leaves the table's 0 there:
// the scores must follow, or a later full refresh (seeing no change) keeps them stale for good.
TEST(LightMoves, StackedKeepShapesAndUnmadeLeaveTheBoardExact) {
    std::mt19937 random(7);
    std::vector<Move> light;
    for (int game = 0; game < 20; game++) {
        emptyBoard(game % 3, 9 + game % 14, 9 + game % 14);
        for (int move = 0; move < 40; move++) {
            int s = sq(random() % boardSize, random() % boardSize), v = 1 + move % 2;
            if (g_board.cell[s] != EMPTY) continue;
            if (move % 3 != 0) {
                makeMoveLight(g_board, s, v), light.push_back({s, v});
                ASSERT_TRUE(consistent(false)) << "game " << game << " light move " << move;
                if (light.size() < size_t(move % 3)) continue;
            }
            for (; !light.empty(); light.pop_back()) {
                unmakeMoveLight(g_board, light.back().first, light.back().second);
            }
            if (move % 3 == 0) makeMove(g_board, s, v);
            ASSERT_TRUE(consistent()) << "game " << game << " move " << move;
        }
    }
}

// Each kind of corruption makes the checker fail, naming a refresh that has not come.
TEST(ConsistencyCheck, ReportsEachKindOfCorruption) {
    emptyBoard(RULE_FREESTYLE);
    for (int y = 5; y <= 7; y++) makeMove(g_board, sq(7, y), FIRST);
    makeMove(g_board, sq(3, 3), SECOND);
    makeMove(g_board, sq(9, 9), BLOCKED);
    ASSERT_TRUE(consistent());
    const BoardBase good = g_board;
    BoardBase& b = g_board;
    SquareInfo &q = b.squares[sq(7, 8)], &r = b.squares[sq(9, 11)];  // (9,11) sees the block
    int code, room;
    resetPattern(sq(9, 11), 0, &code, &room);
    // Each corruption, and the words its report must contain.
    const std::pair<const char*, std::function<void()>> corruptions[] = {
        {"line0[2]", [&] { b.line0[2] ^= uint64_t{1} << 20; }},
        {"hashKey", [&] { b.hashKey ^= 1; }},
        {"(7,8) player 1: score", [&] { q.score[1]++; }},
        {"stones lists (7,5) twice", [&] { b.stones[1] = b.stones[0]; }},
        {"(7,8) direction 0", [&] { q.shape[0] ^= 1; }},
        {"(7,8) direction 1", [&] { q.room[1] ^= 1 << 4; }},
        {"evalSum[0]", [&] { b.evalSum[0]++; }},
        {"threatDirs[T_OPEN_FOUR][0] of (7,8)",
         [&] { b.threatDirs[T_OPEN_FOUR][0][sq(7, 8)] = 2; }},
        {"threatRowMask[T_OPEN_FOUR][0]", [&] { b.threatRowMask[T_OPEN_FOUR][0] = 0; }},
        {"threatRows[T_DOUBLE][1][0]", [&] { b.threatRows[T_DOUBLE][1][0] = 1; }},
        {"within reach", [&] {  // the reset's code and room in direction 0 (the low nibbles)
             for (int p : {0, 1}) r.shape[p] += code - r.shape[p] % 16;
             for (int p : {0, 1}) r.room[p] += room - r.room[p] % 16;
         }},
    };
    for (const auto& [words, corrupt] : corruptions) {
        b = good;
        corrupt();
        std::string failure;
        EXPECT_FALSE(checkBoardConsistency(g_board, &failure)) << words;
        EXPECT_NE(failure.find(words), std::string::npos) << failure;
    }
    b = good;
}

// Moves and blocks through the game record, then a rebuild from the record (blocks first):
// the board built move by move, the stones' colours alternating as the moves were made.
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
        for (int i = 0; i < recordCount; i++) {  // colours alternate, blocks between or not
            ASSERT_EQ(g_board.cell[sq(gameRecord[i].x, gameRecord[i].y)], i % 2 + 1) << i;
        }
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
