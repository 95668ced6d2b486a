#include "search/timecontrol.h"

#include <algorithm>
#include <chrono>
#include <climits>

#include "board/tables.h"

Setting timeoutTurn{30000};
Setting timeLeft{100000000};
std::atomic<int32_t> stopRequested{0};
std::atomic<int32_t> helpersStop{0};

int32_t timeLimit = 10000;
int32_t searchStartTime = 0;
int32_t nodeLimit = 2000000000;
int32_t largeValue = 0;
int32_t scoreDropped = 0;
int32_t extensionFlag = 0;
bool plentyOfTime = false;
bool unlimitedTime = false;

namespace {
const auto processStart = std::chrono::steady_clock::now();
}

int32_t clockMs() {
    auto elapsed = std::chrono::steady_clock::now() - processStart;
    return static_cast<int32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

namespace {
// A move's budget in shares of the time left: a sixteenth, and half as much again for each
// budget factor: moves that each took their whole base budget would have spent three
// quarters of the clock by the 22nd.
constexpr int64_t SHARES_OF_TIME_LEFT = 32;
constexpr int64_t BASE_SHARES = 2;
}  // namespace

int32_t budgetFormula() {
    if (unlimitedTime) return INT32_MAX;
    int64_t k = BASE_SHARES + largeValue + scoreDropped + extensionFlag;
    return static_cast<int32_t>(std::min<int64_t>(int64_t{timeLeft.load()} * k / SHARES_OF_TIME_LEFT, timeoutTurn.load()));
}

void computeTimeLimit(int movesPlayed) {
    timeLimit = budgetFormula();
    int64_t freeSquares = int64_t{boardWidth} * boardHeight - movesPlayed + 1;
    if (freeSquares < 1) freeSquares = 1;
    if (timeLeft.load() / freeSquares >= timeLimit) plentyOfTime = true;
}

void startSearchClock(SearchWorker& main, int movesPlayed) {
    main.stableCount = largeValue = scoreDropped = extensionFlag = 0;
    plentyOfTime = false;
    computeTimeLimit(movesPlayed);
    searchStartTime = clockMs();
}

bool stopCheck(SearchWorker& w) {
    bool goOn = w.index == 0 ? (w.nodeCount >> 10) <= nodeLimit &&
                                   int64_t{clockMs()} - searchStartTime + 30 < timeLimit && stopRequested.load() < 1
                             : helpersStop.load(std::memory_order_relaxed) == 0 && stopRequested.load() < 1;
    if (w.index != 0) w.sharedNodes.store(w.nodeCount, std::memory_order_relaxed);
    if (!goOn) w.abort = 1;
    return !goOn;
}
