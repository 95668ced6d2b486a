#include "protocol/think.h"

#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "board/board.h"
#include "board/forbidden.h"
#include "protocol/game.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "protocol/swap2.h"
#include "search/rootsearch.h"
#include "search/search.h"
#include "search/timecontrol.h"
#include "tactics/evaluate.h"
#include "tactics/hashtable.h"

std::atomic<int32_t> thinkCommand{0};
int32_t lastScore = 0;

namespace {

std::mutex wakeLock;
std::condition_variable wakeSignal;
bool wakeFlag = false;
std::mutex idleLock;
std::condition_variable idleSignal;
bool idleFlag = true;

constexpr int NO_SQUARE_VALUE = -1000000000;
constexpr int LOST_VALUE = -9999999;

bool renjuForbidden(int s) { return tablesRule == RULE_RENJU && isForbidden(s); }

// Empty record: the centre, or the free square nearest to it when a block stands there.
void chooseOpening() {
    int cx = boardWidth / 2, cy = boardHeight / 2, bestDistance = INT_MAX;
    bestX = bestY = -1;
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            int distance = std::abs(x - cx) + std::abs(y - cy);
            if (distance < bestDistance && squareFree(x, y)) {
                bestDistance = distance;
                bestX = x;
                bestY = y;
            }
        }
    }
}

// The first free square in x-major order (under Renju, one FIRST may play), if any.
void chooseAnyFreeSquare(int side) {
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            if (!squareFree(x, y)) continue;
            if (side == FIRST && tablesRule != -1 && renjuForbidden(x * 32 + y)) continue;
            bestX = x;
            bestY = y;
            return;
        }
    }
}

// Lines of five squares in the four directions, as steps in x and y.
constexpr int LINE_DX[4] = {0, 1, 1, -1};
constexpr int LINE_DY[4] = {1, 0, 1, 1};

int cellAt(int x, int y) {
    if (x < 0 || y < 0 || x >= boardWidth || y >= boardHeight) return -1;
    return g_board.cell[x * 32 + y];
}

}  // namespace

void startThinking() {
    stopRequested.store(0);
    {
        std::lock_guard<std::mutex> hold(idleLock);
        idleFlag = false;
    }
    std::lock_guard<std::mutex> hold(wakeLock);
    wakeFlag = true;
    wakeSignal.notify_all();
}

void stopAndWait() {
    stopRequested.store(1);
    std::unique_lock<std::mutex> hold(idleLock);
    idleSignal.wait(hold, [] { return idleFlag; });
}

void thinkLoop() {
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(wakeLock);
            wakeSignal.wait(hold, [] { return wakeFlag; });
            wakeFlag = false;
        }
        if (thinkCommand.load() == -1) return;
        if (swap2Pending.exchange(false)) swap2Driver();
        else turnDriver();
        std::lock_guard<std::mutex> hold(idleLock);
        idleFlag = true;
        idleSignal.notify_all();
    }
}

int preselectMove(int side) {
    int opp = 3 - side;
    int best = NO_SQUARE_VALUE;
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            int s = x * 32 + y;
            if (g_board.cell[s] != EMPTY) continue;
            if (side == FIRST && renjuForbidden(s)) continue;
            makeMove(s, side);
            int value;
            if (hasThreat(T_FIVE, opp - 1)) {
                value = LOST_VALUE;
            } else if (!hasThreat(T_FIVE, side - 1) && hasThreat(T_OPEN_FOUR, opp - 1) &&
                       !(opp == FIRST && renjuForbidden(firstThreat(T_OPEN_FOUR, 0)))) {
                value = LOST_VALUE;
            } else {
                value = -evaluate(0, opp);
            }
            unmakeMove(s, side);
            if (value > best) {
                best = value;
                bestX = x;
                bestY = y;
            }
        }
    }
    return best == NO_SQUARE_VALUE ? 1 : 0;
}

bool followWin(int side) {
    int p = side - 1;
    int square = firstThreat(T_FIVE, p);
    if (square < 0) {
        int squares[MAX_STONES];
        int n = listThreats(T_OPEN_FOUR, p, squares);
        for (int i = 0; i < n && square < 0; i++) {
            if (!(side == FIRST && renjuForbidden(squares[i]))) square = squares[i];
        }
    }
    if (square < 0) return false;
    bestX = square >> 5;
    bestY = square & 31;
    return true;
}

bool renjuDrawn() {
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            for (int d = 0; d < 4; d++) {
                int dx = LINE_DX[d], dy = LINE_DY[d];
                bool usable = true, firstStone = false, secondStone = false;
                for (int k = -2; k <= 2 && usable; k++) {
                    int c = cellAt(x + k * dx, y + k * dy);
                    if (c == -1 || c == BLOCKED) usable = false;
                    firstStone |= c == FIRST;
                    secondStone |= c == SECOND;
                }
                if (!usable || (firstStone && secondStone)) continue;
                if (!firstStone) return false;  // the second player can still make five here
                int before = cellAt(x - 3 * dx, y - 3 * dy);
                int after = cellAt(x + 3 * dx, y + 3 * dy);
                if (before != FIRST && before != BLOCKED && after != FIRST && after != BLOCKED) {
                    return false;  // the first player can still make exactly five here
                }
            }
        }
    }
    return true;
}

void turnDriver() {
    int side = recordCount % 2 + 1;
    stableCount = largeValue = scoreDropped = extensionFlag = 0;
    g_nodeCount = 0;
    plentyOfTime = false;
    computeTimeLimit(recordCount);
    bestX = bestY = -1;
    int elapsed = 0;
    if (recordCount == 0) {
        chooseOpening();
    } else if (!(tablesRule != -1 && lastScore - rootDepth >= WIN_SCORE && followWin(side))) {
        searchStartTime = clockMs();
        g_abort = 0;
        hashAge = recordCount;
        announceRule();
        int firstValue = preselectMove(side);
        lastScore = depthLoop(side, firstValue);
        elapsed = clockMs() - searchStartTime;
        searchStartTime = elapsed;
        if (lastScore - rootDepth >= WIN_SCORE) followWin(side);
    }
    writeLine("MESSAGE Speed=%d", static_cast<int>(g_nodeCount / (elapsed + 1)));
    if (bestX == -1) chooseAnyFreeSquare(side);
    playOwnMove(bestX, bestY);
    writeLine("%d,%d", bestX, bestY);
    if (rule.load() == RULE_RENJU && tablesRule == RULE_RENJU && renjuDrawn()) {
        writeLine("MESSAGE It's a draw\n");
    }
}
