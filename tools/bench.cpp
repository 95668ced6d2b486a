// Benchmarks: the board's hot operations (table build, make/unmake pairs) and the search on
// fixed positions to a fixed depth from cold tables, with fixed Zobrist keys. The search
// prints per position and in total nodes, time, nodes per second and a signature of the
// node counts: a change that leaves the search alone keeps the signature. Timings are
// medians; run on an otherwise idle machine.
//
//     bench              board timings, then the search benchmark
//     bench board        board timings only
//     bench search [d]   each of the 23 positions to depth d (default 8)
//     bench selfplay [games] [depth]   in-process games at a fixed depth (default 4 games,
//                        depth 5; speed checks)
//     bench threads [ms] [n]   every position for ms (default 1000) with 1, then n threads
//                              (default 2): nodes per second of each and their ratio
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "board/board.h"
#include "protocol/game.h"
#include "protocol/settings.h"
#include "search/rootsearch.h"
#include "search/search.h"
#include "search/timecontrol.h"
#include "search/hashtable.h"
#include "search/threads.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned KEY_SEED = 20261207;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void setUpBoard(int size, int forRule) {
    boardWidth = boardHeight = boardSize = size;
    updateReach = forRule == RULE_FREESTYLE ? 4 : 5;
    buildTables(forRule);
    resetBoardState(g_board);
}

// A fixed middle-game position: 40 stones around the centre of a 20 x 20 board.
void middleGame() {
    std::srand(12345);
    for (int placed = 0; placed < 40;) {
        int x = 6 + std::rand() % 8, y = 6 + std::rand() % 8, s = x * 32 + y;
        if (g_board.cell[s] != EMPTY) continue;
        makeMove(g_board, s, placed++ % 2 + 1);
    }
}

void boardBench() {
    // Rules alternate, so every build is a full one (a build for the rule already in
    // force only refreshes the geometry).
    std::vector<double> ms[3];
    for (int run = 0; run < 9; run++) {
        for (int forRule : {RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU}) {
            auto start = Clock::now();
            setUpBoard(20, forRule);
            ms[forRule].push_back(msSince(start));
        }
    }
    for (int forRule : {RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU}) {
        std::printf("full table build + board reset, rule %d: median %.1f ms over %zu runs\n", forRule,
                    median(ms[forRule]), ms[forRule].size());
    }
    for (int forRule : {RULE_FREESTYLE, RULE_RENJU}) {
        setUpBoard(20, forRule);
        middleGame();
        std::vector<int> empties;
        for (int x = 0; x < 20; x++) {
            for (int y = 0; y < 20; y++) {
                if (g_board.cell[x * 32 + y] == EMPTY) empties.push_back(x * 32 + y);
            }
        }
        for (bool light : {false, true}) {
            std::vector<double> ns;
            for (int run = 0; run < 15; run++) {
                const int rounds = 200;
                auto start = Clock::now();
                for (int r = 0; r < rounds; r++) {
                    for (int s : empties) {
                        if (light) {
                            makeMoveLight(g_board, s, 1);
                            unmakeMoveLight(g_board, s, 1);
                        } else {
                            makeMove(g_board, s, 1);
                            unmakeMove(g_board, s, 1);
                        }
                    }
                }
                ns.push_back(msSince(start) * 1e6 / (rounds * static_cast<double>(empties.size())));
            }
            std::printf("%s make/unmake pair, rule %d, 40 stones on 20x20: median %.1f ns\n",
                        light ? "light" : "full ", forRule, median(ns));
        }
    }
}

struct BenchPosition {
    const char* name;
    int rule;
    int size;
    const char* moves;  // "x,y x,y ...", colours alternating from the first player
};

// Openings, middle games and the position some moves before a game was won, from fast
// self-played games; frozen here so the figures stay comparable.
const BenchPosition POSITIONS[] = {
{"freestyle 15 open", RULE_FREESTYLE, 15, "7,7 6,8 5,6 5,7 6,6 4,6"},
    {"freestyle 15 mid30", RULE_FREESTYLE, 15, "7,7 6,8 5,6 5,7 6,6 4,6 7,9 5,5 6,4 7,6 6,5 6,7 7,4 8,3 6,3 6,2 8,5 9,6 8,6 8,7 5,3 4,2 9,7 7,5 8,8 6,10 6,9 10,9 4,7 3,8"},
    {"freestyle 15 tact", RULE_FREESTYLE, 15, "7,7 6,8 5,6 5,7 6,6 4,6 7,9 5,5 6,4 7,6 6,5 6,7 7,4 8,3 6,3 6,2 8,5 9,6 8,6 8,7 5,3 4,2 9,7 7,5 8,8 6,10 6,9 10,9 4,7 3,8 5,4 4,4 5,2 4,1"},
    {"freestyle 20 open", RULE_FREESTYLE, 20, "10,10 9,9 8,11 8,10 9,11 7,11"},
    {"freestyle 20 mid20", RULE_FREESTYLE, 20, "10,10 9,9 8,11 8,10 9,11 7,11 10,8 8,12 9,13 6,12 5,13 7,10 7,12 9,10 10,11 10,12 12,11 11,11 11,10 10,9"},
    {"freestyle 20 tact", RULE_FREESTYLE, 20, "10,10 9,9 8,11 8,10 9,11 7,11 10,8 8,12 9,13 6,12 5,13 7,10 7,12 9,10 10,11 10,12 12,11 11,11 11,10 10,9 12,9 13,8 12,10 12,8"},
    {"standard 15 open", RULE_STANDARD, 15, "7,7 6,8 5,6 7,8 5,7 5,8"},
    {"standard 15 mid22", RULE_STANDARD, 15, "7,7 6,8 5,6 7,8 5,7 5,8 4,8 6,6 4,7 6,7 6,5 3,8 4,9 4,10 4,5 4,6 5,5 7,5 5,4 5,3 2,7 1,8"},
    {"standard 20 open", RULE_STANDARD, 20, "10,10 9,10 12,9 9,9 9,11 10,11"},
    {"standard 20 mid30", RULE_STANDARD, 20, "10,10 9,10 12,9 9,9 9,11 10,11 11,12 11,9 12,12 12,10 10,12 9,12 11,13 8,10 13,11 10,14 13,12 14,12 13,15 12,14 13,13 13,14 11,11 14,14 11,14 11,10 11,15"},
    {"standard 20 tact", RULE_STANDARD, 20, "10,10 9,10 12,9 9,9 9,11 10,11 11,12 11,9 12,12 12,10 10,12 9,12 11,13 8,10 13,11 10,14 13,12 14,12"},
    {"renju 15 open", RULE_RENJU, 15, "7,7 8,8 7,8 7,9 9,7 8,7"},
    {"renju 15 mid30", RULE_RENJU, 15, "7,7 8,8 7,8 7,9 9,7 8,7 8,6 7,5 9,5 10,4 10,8 9,4 8,4 10,6 9,9 8,10 8,9 9,10 6,8 5,9 11,9 12,10 5,6 9,6 7,6 6,6 10,10 10,7 12,8 9,11"},
    {"renju 15 mid50", RULE_RENJU, 15, "7,7 8,8 7,8 7,9 9,7 8,7 8,6 7,5 9,5 10,4 10,8 9,4 8,4 10,6 9,9 8,10 8,9 9,10 6,8 5,9 11,9 12,10 5,6 9,6 7,6 6,6 10,10 10,7 12,8 9,11 11,8 13,8 11,6 11,7 4,8 5,8 10,12 5,10 5,11 4,9 6,9 6,11 7,12 3,10 2,11 3,9 10,11 10,9 4,5 6,7"},
    {"renju 15 tact", RULE_RENJU, 15, "7,7 8,8 7,8 7,9 9,7 8,7 8,6 7,5 9,5 10,4 10,8 9,4 8,4 10,6 9,9 8,10 8,9 9,10 6,8 5,9 11,9 12,10 5,6 9,6 7,6 6,6 10,10 10,7 12,8 9,11 11,8 13,8 11,6 11,7 4,8 5,8 10,12 5,10 5,11 4,9 6,9 6,11 7,12 3,10 2,11 3,9 10,11 10,9 4,5"},
    {"renju 20 open", RULE_RENJU, 20, "10,10 9,10 11,9 9,9 9,11 8,12"},
    {"renju 20 mid30", RULE_RENJU, 20, "10,10 9,10 11,9 9,9 9,11 8,12 11,10 11,8 10,11 10,9 8,11 11,11 9,12 8,13 10,13 7,10 12,10 13,6 12,7 13,10 10,14 10,12 9,14 8,14 8,15 11,12 9,15 9,13 7,15 6,15"},
    {"renju 20 tact", RULE_RENJU, 20, "10,10 9,10 11,9 9,9 9,11 8,12 11,10 11,8 10,11 10,9 8,11 11,11 9,12 8,13 10,13 7,10 12,10 13,6 12,7 13,10 10,14 10,12 9,14 8,14 8,15 11,12 9,15 9,13 7,15 6,15 13,11 14,12 12,12 11,13 11,14 12,15 12,14 13,14"},
    {"freestyle 15 open b", RULE_FREESTYLE, 15, "7,7 6,7 9,6 6,6 6,8 7,8"},
    {"freestyle 15 mid20 b", RULE_FREESTYLE, 15, "7,7 6,7 9,6 6,6 6,8 7,8 8,6 9,5 8,9 10,6 11,7 8,7 9,9 7,9 10,8 8,10 11,8 9,7 8,8 8,5"},
    {"freestyle 15 tact b", RULE_FREESTYLE, 15, "7,7 6,7 9,6 6,6 6,8 7,8 8,6 9,5 8,9 10,6 11,7 8,7 9,9 7,9 10,8 8,10 11,8 9,7 8,8 8,5 9,8 12,8"},
    {"renju 15 mid30 b", RULE_RENJU, 15, "7,7 8,8 7,8 7,9 9,7 8,7 8,6 7,5 7,6 8,9 6,8 9,5 6,6 5,6 6,9 6,7 8,11 4,10 6,10 7,10 6,11 6,12 7,11 5,11 3,9 5,9 5,10 4,11 5,5 3,8"},
    {"renju 15 mid50 b", RULE_RENJU, 15, "7,7 8,8 7,8 7,9 9,7 8,7 8,6 7,5 7,6 8,9 6,8 9,5 6,6 5,6 6,9 6,7 8,11 4,10 6,10 7,10 6,11 6,12 7,11 5,11 3,9 5,9 5,10 4,11 5,5 3,8 4,9 7,12 8,12 10,6 10,8 11,9 11,7 9,9 10,9 10,10 4,7 11,10 11,12 9,10 8,10 12,12 11,11 9,12 9,13 10,14"},
    {"renju 15 tact b", RULE_RENJU, 15, "7,7 8,8 7,8 7,9 9,7 8,7 8,6 7,5 7,6 8,9 6,8 9,5 6,6 5,6 6,9 6,7 8,11 4,10 6,10 7,10 6,11 6,12 7,11 5,11 3,9 5,9 5,10 4,11 5,5 3,8 4,9 7,12 8,12 10,6 10,8 11,9 11,7 9,9 10,9 10,10 4,7 11,10 11,12 9,10 8,10 12,12 11,11"},
};

// Fresh tables fault their pages in as a search first writes them; touched here, so that the
// timings measure the search alone.
void touchTables() {
    for (TTSlot* t : hashTable) std::memset(static_cast<void*>(t), 0, hashSizes.mainBuckets * 4 * sizeof(TTSlot));
    for (ThreatSlot* t : threatTable) {
        std::memset(static_cast<void*>(t), 0, hashSizes.threatBuckets * 2 * sizeof(ThreatSlot));
    }
}

// A new game of the position's rule and size with the moves played; cold tables.
void setUpPosition(int rule, int size, const char* moves) {
    boardWidth = boardHeight = size;
    boardSize = size;
    newGame(true);
    rebuildBoard(rule);
    for (const char* p = moves; *p != '\0';) {
        int x, y, used;
        if (std::sscanf(p, "%d,%d%n", &x, &y, &used) != 2) break;
        playOpponentMove(x, y);
        p += used;
        while (*p == ' ') p++;
    }
    clearTables();
    touchTables();
    resetAllSearchState();
}

struct SearchResult {
    int32_t value;
    int move;
    int64_t nodes;
    double ms;
};

SearchResult searchToDepth(int depth) {
    hashAge = recordCount;
    auto start = Clock::now();
    int32_t value = fixedDepthSearch(recordCount % 2 + 1, depth);
    return {value, mainWorker().bestMove, mainWorker().nodeCount, msSince(start)};
}

uint64_t mix(uint64_t signature, uint64_t n) { return (signature ^ n) * 0x100000001B3ull; }

void searchBench(int fixedDepth) {
    const int runs = 3;
    uint64_t signature = 0xCBF29CE484222325ull;
    int64_t totalNodes = 0;
    double totalMs = 0;
    std::printf("%-22s %5s %10s %6s %11s %9s %8s\n", "position", "depth", "value", "move", "nodes", "ms", "knps");
    for (const BenchPosition& pos : POSITIONS) {
        int depth = fixedDepth > 0 ? fixedDepth : 8;
        std::vector<double> ms;
        SearchResult r{};
        for (int run = 0; run < runs; run++) {
            setUpPosition(pos.rule, pos.size, pos.moves);
            r = searchToDepth(depth);
            ms.push_back(r.ms);
        }
        double t = median(ms);
        signature = mix(signature, static_cast<uint64_t>(r.nodes));
        totalNodes += r.nodes;
        totalMs += t;
        std::printf("%-22s %5d %10d %3d,%-2d %11" PRId64 " %9.1f %8.0f\n", pos.name, mainWorker().rootDepth, r.value,
                    r.move >> 5, r.move & 31, r.nodes, t, r.nodes / std::max(t, 0.001));
    }
    std::printf("total: %" PRId64 " nodes in %.0f ms (medians of %d runs), %.0f knps; node signature %016" PRIx64 "\n",
                totalNodes, totalMs, runs, totalNodes / std::max(totalMs, 0.001), signature);
}

// Games of the engine against itself at a fixed depth from the openings of the positions.
void selfplayBench(int games, int depth) {
    uint64_t signature = 0xCBF29CE484222325ull;
    int64_t totalNodes = 0;
    int totalMoves = 0;
    auto start = Clock::now();
    for (int g = 0; g < games; g++) {
        const BenchPosition& pos = POSITIONS[g % (sizeof POSITIONS / sizeof POSITIONS[0])];
        char opening[64];
        std::snprintf(opening, sizeof opening, "%.*s", static_cast<int>(std::strcspn(pos.moves, " ")), pos.moves);
        setUpPosition(pos.rule, pos.size, opening);
        while (recordCount < pos.size * pos.size) {
            SearchResult r = searchToDepth(depth);
            if (r.move < 0) break;
            totalNodes += r.nodes;
            signature = mix(signature, static_cast<uint64_t>(r.nodes));
            totalMoves++;
            playOpponentMove(r.move >> 5, r.move & 31);
            if (r.value >= MATE_BOUND || r.value <= -MATE_BOUND) break;  // decided: the rest is forced
        }
    }
    double ms = msSince(start);
    std::printf("%d games at depth %d: %d moves, %" PRId64 " nodes in %.0f ms, %.0f knps; node signature %016" PRIx64 "\n",
                games, depth, totalMoves, totalNodes, ms, totalNodes / std::max(ms, 0.001), signature);
}

// Lazy SMP's scaling: the same timed searches with one thread and with n; the ratio of the
// node rates is what the helpers add (they search beside the main thread, never for it).
void threadsBench(int ms, int threads) {
    const int32_t savedTurn = timeoutTurn.load(), savedLeft = timeLeft.load();
    timeoutTurn = ms;
    timeLeft = INT32_MAX;
    double rate[2] = {0, 0};
    for (int round = 0; round < 2; round++) {
        threadNum = round == 0 ? 1 : threads;  // the board's rebuild applies it
        int count = 0;
        int64_t nodes = 0;
        double spent = 0, depths = 0;
        for (const BenchPosition& pos : POSITIONS) {
            setUpPosition(pos.rule, pos.size, pos.moves);
            count = searchThreads();
            hashAge = recordCount;
            stopRequested = 0;
            mainWorker().bestMove = -1;
            startSearchClock(mainWorker(), recordCount);
            auto start = Clock::now();
            parallelSearch(recordCount % 2 + 1, 0, SearchLimits{});
            spent += msSince(start);
            nodes += searchNodes();
            depths += mainWorker().rootDepth;
        }
        rate[round] = nodes / std::max(spent, 0.001);
        std::printf("%d thread(s): %" PRId64 " nodes in %.0f ms, %.0f knps, main thread's mean depth %.2f\n", count,
                    nodes, spent, rate[round], depths / (sizeof POSITIONS / sizeof POSITIONS[0]));
    }
    std::printf("node rate ratio %d threads / 1 thread: %.2f\n", threads, rate[1] / std::max(rate[0], 0.001));
    threadNum = 1;
    timeoutTurn = savedTurn;
    timeLeft = savedLeft;
}

}  // namespace

int main(int argc, char** argv) {
    drawZobristKeys(KEY_SEED);
    const char* mode = argc > 1 ? argv[1] : "all";
    if (std::strcmp(mode, "board") == 0 || std::strcmp(mode, "all") == 0) boardBench();
    if (std::strcmp(mode, "search") == 0 || std::strcmp(mode, "all") == 0) {
        searchBench(argc > 2 ? std::atoi(argv[2]) : 0);
    }
    if (std::strcmp(mode, "threads") == 0) {
        threadsBench(argc > 2 ? std::atoi(argv[2]) : 1000, argc > 3 ? std::atoi(argv[3]) : 2);
    }
    if (std::strcmp(mode, "selfplay") == 0) {
        selfplayBench(argc > 2 ? std::atoi(argv[2]) : 4, argc > 3 ? std::atoi(argv[3]) : 5);
    }
    return 0;
}
