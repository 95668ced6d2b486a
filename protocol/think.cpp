#include "protocol/think.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "board/board.h"
#include "board/forbidden.h"
#include "protocol/detail.h"
#include "protocol/game.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "protocol/swap2.h"
#include "eval/evaluate.h"
#include "search/hashtable.h"
#include "search/rootsearch.h"
#include "search/search.h"
#include "search/threads.h"
#include "search/timecontrol.h"

std::atomic<int32_t> thinkCommand{0};
std::atomic<int32_t> nbestPending{0};
int32_t lastScore = 0;

namespace {

std::mutex wakeLock;
std::condition_variable wakeSignal;
bool wakeFlag = false;
std::mutex idleLock;
std::condition_variable idleSignal;
bool idleFlag = true;
std::atomic<bool> warmUpPending{false};
std::atomic<int32_t> turnAskedAt{0};
// A turn asked for longer ago than this is not the one starting (a turn without a request).
constexpr int32_t MAX_TURN_WAIT_MS = 10000;

constexpr int NO_SQUARE_VALUE = -1000000000;
constexpr int LOST_VALUE = -9999999;

bool renjuForbidden(int s) { return tablesRule == RULE_RENJU && isForbidden(g_board, s); }

// Empty record: the centre, or the free square nearest to it when a block stands there.
int chooseOpening() {
    int cx = boardWidth / 2, cy = boardHeight / 2, bestDistance = INT_MAX, best = -1;
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            int distance = std::abs(x - cx) + std::abs(y - cy);
            if (distance < bestDistance && squareFree(x, y)) {
                bestDistance = distance;
                best = x * 32 + y;
            }
        }
    }
    return best;
}

// The first free square in x-major order (under Renju, one FIRST may play), or -1.
int chooseAnyFreeSquare(int side) {
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            if (!squareFree(x, y)) continue;
            if (side == FIRST && tablesRule != -1 && renjuForbidden(x * 32 + y)) continue;
            return x * 32 + y;
        }
    }
    return -1;
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

void startWarmUp() {
    {
        std::lock_guard<std::mutex> hold(idleLock);
        if (!idleFlag) return;
    }
    warmUpPending.store(true);
    startThinking();
}

void markTurnAsked() { turnAskedAt.store(clockMs()); }

void startAskedClock(SearchWorker& main) {
    startSearchClock(main, recordCount);
    const int32_t waited = searchStartTime - turnAskedAt.load();
    if (waited > 0 && waited < MAX_TURN_WAIT_MS) searchStartTime -= waited;
}

void thinkLoop() {
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(wakeLock);
            wakeSignal.wait(hold, [] { return wakeFlag; });
            wakeFlag = false;
        }
        if (thinkCommand.load() == -1) return;
        int nbest = nbestPending.exchange(0);
        if (warmUpPending.exchange(false)) warmUp();
        else if (swap2Pending.exchange(false)) swap2Driver();
        else if (nbest > 0) nbestDriver(nbest);
        else turnDriver();
        std::lock_guard<std::mutex> hold(idleLock);
        idleFlag = true;
        idleSignal.notify_all();
    }
}

int preselectMove(int side, int* move, const int* excluded, int excludedCount) {
    BoardBase& b = g_board;
    int opp = 3 - side;
    int best = NO_SQUARE_VALUE;
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            int s = x * 32 + y;
            if (b.cell[s] != EMPTY || std::find(excluded, excluded + excludedCount, s) != excluded + excludedCount) continue;
            if (side == FIRST && renjuForbidden(s)) continue;
            makeMove(b, s, side);
            int value;
            if (hasThreat(b, T_FIVE, opp - 1)) {
                value = LOST_VALUE;
            } else if (!hasThreat(b, T_FIVE, side - 1) && hasThreat(b, T_OPEN_FOUR, opp - 1) &&
                       !(opp == FIRST && renjuForbidden(firstThreat(b, T_OPEN_FOUR, 0)))) {
                value = LOST_VALUE;
            } else {
                value = -evaluate(b, opp);
            }
            unmakeMove(b, s, side);
            if (value > best) {
                best = value;
                *move = s;
            }
        }
    }
    return best == NO_SQUARE_VALUE ? 1 : 0;
}

int followWin(int side) {
    int p = side - 1;
    int square = firstThreat(g_board, T_FIVE, p);
    if (square < 0) {
        int squares[MAX_STONES];
        int n = listThreats(g_board, T_OPEN_FOUR, p, squares);
        for (int i = 0; i < n && square < 0; i++) {
            if (!(side == FIRST && renjuForbidden(squares[i]))) square = squares[i];
        }
    }
    return square;
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
                // Only an own stone just beyond the window makes the five too long; a block or
                // the edge extends no run.
                if (before != FIRST && after != FIRST) {
                    return false;  // the first player can still make exactly five here
                }
            }
        }
    }
    return true;
}

SearchLimits settingLimits() {
    SearchLimits limits;
    if (maxDepth.load() > 0) limits.maxDepth = std::min<int32_t>(maxDepth.load(), MAX_PLY);
    limits.maxNodes = std::max<int32_t>(maxNode.load(), 0);
    return limits;
}

void setTimeMode() { unlimitedTime = timeoutTurn.load() < 0 || timeoutMatch.load() < 0; }

void turnDriver() {
    int side = recordCount % 2 + 1;
    SearchWorker& main = mainWorker();
    setTimeMode();
    beginDetail(1);
    startAskedClock(main);
    int move = -1;
    int elapsed = 0;
    int64_t nodes = 0;
    if (recordCount == 0) {
        move = chooseOpening();
    } else if (!(tablesRule != -1 && lastScore - main.rootDepth >= WIN_SCORE && (move = followWin(side)) >= 0)) {
        hashAge = recordCount;
        announceRule();
        prepareSearch();
        int firstValue = preselectMove(side, &move);
        main.bestMove = move;  // stands unless an iteration says better
        lastScore = parallelSearch(side, firstValue, settingLimits());
        move = main.bestMove;
        nodes = searchNodes();
        elapsed = clockMs() - searchStartTime;
        searchStartTime = elapsed;
        if (lastScore - main.rootDepth >= WIN_SCORE) {
            int win = followWin(side);
            if (win >= 0) move = win;
        }
    }
    endDetail();
    writeLine("MESSAGE Speed=%d", static_cast<int>(nodes / (elapsed + 1)));
    if (move == -1) move = chooseAnyFreeSquare(side);
    int x = move < 0 ? -1 : move >> 5, y = move < 0 ? -1 : move & 31;
    playOwnMove(x, y);
    writeLine("%d,%d", x, y);
    if (rule.load() == RULE_RENJU && tablesRule == RULE_RENJU && renjuDrawn()) {
        writeLine("MESSAGE It's a draw\n");
    }
}

namespace {

// A square that wins at once for side (a five, else a playable open four) and is not
// excluded; -1 when there is none.
int winningSquare(int side, const int* excluded, int count) {
    int squares[MAX_STONES];
    for (int c : {T_FIVE, T_OPEN_FOUR}) {
        int n = listThreats(g_board, c, side - 1, squares);
        for (int i = 0; i < n; i++) {
            int s = squares[i];
            if (std::find(excluded, excluded + count, s) != excluded + count) continue;
            if (c == T_OPEN_FOUR && side == FIRST && renjuForbidden(s)) continue;
            return s;
        }
    }
    return -1;
}

int legalSquareCount(int side) {
    int count = 0;
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            if (g_board.cell[x * 32 + y] == EMPTY && !(side == FIRST && renjuForbidden(x * 32 + y))) count++;
        }
    }
    return count;
}

}  // namespace

void nbestDriver(int n) {
    const int side = recordCount % 2 + 1;
    SearchWorker& main = mainWorker();
    setTimeMode();
    startAskedClock(main);
    const int32_t budgetTotal = timeLimit, budgetStart = searchStartTime;
    hashAge = recordCount;
    announceRule();
    prepareSearch();
    n = std::min(n, legalSquareCount(side));
    beginDetail(n);
    SearchLimits limits = settingLimits();
    PvResult results[MAX_STONES];
    for (int i = 0; i < n; i++) {
        setDetailPv(i);
        // Each search gets an equal share of what is left; an INFO timeout_turn arriving
        // meanwhile wins.
        int32_t share = std::max(1, (budgetTotal - (clockMs() - budgetStart)) / (n - i));
        int32_t turnTime = timeoutTurn.exchange(share);
        startSearchClock(main, recordCount);
        int move = -1;
        int32_t value = 0;
        const int* excluded = limits.excluded;
        if (recordCount == 0 && i == 0) {
            move = chooseOpening();
        } else {
            int32_t firstValue = preselectMove(side, &move, excluded, i);
            if (recordCount > 0) {
                main.bestMove = move;
                value = parallelSearch(side, firstValue, limits);
                // No move when the search had none left to try (the only block excluded).
                if (main.bestMove >= 0) move = main.bestMove;
                if (value - main.rootDepth >= WIN_SCORE) {
                    int win = winningSquare(side, excluded, i);
                    if (win >= 0) move = win;
                }
            }
        }
        timeoutTurn.compare_exchange_strong(share, turnTime);
        if (move < 0) break;
        results[limits.excludedCount] = finishDetailSearch(move, value);
        limits.excluded[limits.excludedCount++] = move;
    }
    endDetail();
    writePvBlocks(results, limits.excludedCount);
    int best = limits.excludedCount > 0 ? results[0].move : -1;
    writeLine("%d,%d", best < 0 ? -1 : best >> 5, best < 0 ? -1 : best & 31);
}
