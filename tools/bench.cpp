// Median timings of the board's hot operations: a full table build and a make/unmake pair
// in a middle-game position. Run on an otherwise idle machine; figures are medians.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "board/board.h"
#include "protocol/game.h"

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void setUpBoard(int size, int forRule) {
    boardWidth = boardHeight = boardSize = size;
    updateReach = forRule == RULE_FREESTYLE ? 4 : 5;
    buildTables(forRule);
    resetBoardState();
}

// A fixed middle-game position: 40 stones around the centre of a 20 x 20 board.
std::vector<int> middleGame() {
    std::srand(12345);
    std::vector<int> placed;
    while (placed.size() < 40) {
        int x = 6 + std::rand() % 8, y = 6 + std::rand() % 8, s = x * 32 + y;
        if (g_board.cell[s] != EMPTY) continue;
        makeMove(s, static_cast<int>(placed.size() % 2) + 1);
        placed.push_back(s);
    }
    return placed;
}

}  // namespace

int main() {
    std::srand(1);
    // Rules alternate, so every build is a full one (a build for the rule already in
    // force only refreshes the geometry).
    std::vector<double> ms[3];
    for (int run = 0; run < 9; run++) {
        for (int forRule : {RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU}) {
            auto start = Clock::now();
            setUpBoard(20, forRule);
            ms[forRule].push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    for (int forRule : {RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU}) {
        std::printf("full table build + board reset, rule %d: median %.1f ms over %zu runs\n",
                    forRule, median(ms[forRule]), ms[forRule].size());
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
                            makeMoveLight(s, 1);
                            unmakeMoveLight(s, 1);
                        } else {
                            makeMove(s, 1);
                            unmakeMove(s, 1);
                        }
                    }
                }
                double total = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
                ns.push_back(total / (rounds * static_cast<double>(empties.size())));
            }
            std::printf("%s make/unmake pair, rule %d, 40 stones on 20x20: median %.1f ns\n",
                        light ? "light" : "full ", forRule, median(ns));
        }
    }
    return 0;
}
