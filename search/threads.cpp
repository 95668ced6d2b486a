#include "search/threads.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <system_error>
#include <thread>

#include "search/hashtable.h"
#include "search/rootsearch.h"
#include "search/timecontrol.h"

namespace {

// Workers are zeroed memory, as a fresh search state is; pages no search touches cost nothing.
SearchWorker firstWorker;
SearchWorker* workers[MAX_THREADS] = {&firstWorker};
int threadCount = 1;

SearchWorker* makeWorker(int index) {
    void* memory = std::calloc(1, sizeof(SearchWorker));
    if (memory == nullptr) return nullptr;
    SearchWorker* w = static_cast<SearchWorker*>(memory);
    w->index = index;
    w->bestMove = -1;
    return w;
}

}  // namespace

int maxThreadCount() {
    unsigned hardware = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(hardware), 1, MAX_THREADS);
}

SearchWorker& mainWorker() { return firstWorker; }

int setSearchThreads(int count) {
    count = std::clamp(count, 1, maxThreadCount());
    int made = 1;
    while (made < count && (workers[made] != nullptr || (workers[made] = makeWorker(made)) != nullptr)) made++;
    // Records beyond the count are given back: the memory limit counts only those in use.
    for (int i = made; i < MAX_THREADS; i++) {
        std::free(workers[i]);
        workers[i] = nullptr;
    }
    threadCount = made;
    return threadCount;
}

int searchThreads() { return threadCount; }

void resetAllSearchState() {
    for (SearchWorker* w : workers) {
        if (w != nullptr) resetSearchState(*w);
    }
}

int32_t parallelSearch(int side, int32_t firstValue, const SearchLimits& limits) {
    SearchWorker& main = firstWorker;
    // Pages the warm-up left untouched are faulted in now, within a quarter of the budget:
    // the search itself must still fit in the turn.
    if (threadCount > 1) {
        touchTables(static_cast<int32_t>(std::min<int64_t>(int64_t{searchStartTime} + timeLimit / 4, INT32_MAX)));
    }
    helpersStop.store(0);
    std::thread helpers[MAX_THREADS];
    const int32_t savedLimit = nodeLimit;
    for (int i = 0; i < threadCount; i++) {
        SearchWorker& w = *workers[i];
        w.board = g_board;
        w.nodeCount = w.nodeStart = 0;
        w.sharedNodes.store(0);
        w.abort = 0;
        w.excludedCount = limits.excludedCount;
        std::copy(limits.excluded, limits.excluded + limits.excludedCount, w.excluded);
        if (i == 0) continue;
        try {
            helpers[i] = std::thread(helperLoop, std::ref(w), side);
        } catch (const std::system_error&) {
            // No thread to be had: the search goes on with the ones it has.
        }
    }
    if (limits.maxNodes > 0) {
        // The stop check runs on multiples of 1024 nodes: the count starts so that the first
        // multiple past the limit comes after exactly maxNodes nodes.
        constexpr int32_t LIMIT_UNITS = 1000000000;
        nodeLimit = LIMIT_UNITS;
        main.nodeCount = main.nodeStart = (int64_t{LIMIT_UNITS} + 1) * 1024 - std::min<int64_t>(limits.maxNodes, LIMIT_UNITS);
    }
    int32_t value = depthLoop(main, side, firstValue, limits.maxDepth);
    helpersStop.store(1);
    for (std::thread& helper : helpers) {
        if (helper.joinable()) helper.join();
    }
    // A helper that finished a deeper iteration than the main thread's last has the better
    // move. Ordinary values only: a proven result is the main thread's to follow up.
    for (int i = 1; i < threadCount; i++) {
        const SearchWorker& h = *workers[i];
        bool ordinary = std::abs(h.completedValue) < MATE_BOUND && std::abs(value) < MATE_BOUND;
        if (h.completedDepth > main.rootDepth && h.completedDepth <= limits.maxDepth && h.completedMove >= 0 &&
            ordinary) {
            main.bestMove = h.completedMove;
            main.rootDepth = h.completedDepth;
            value = h.completedValue;
        }
    }
    main.nodeCount -= main.nodeStart;
    main.nodeStart = 0;
    nodeLimit = savedLimit;
    return value;
}

int64_t searchNodes() {
    int64_t nodes = 0;
    for (int i = 0; i < threadCount; i++) nodes += workers[i]->nodeCount;
    return nodes;
}

int64_t liveSearchNodes() {
    int64_t nodes = firstWorker.nodeCount - firstWorker.nodeStart;
    for (int i = 1; i < threadCount; i++) nodes += workers[i]->sharedNodes.load(std::memory_order_relaxed);
    return nodes;
}

uint64_t hashTableAllowance(uint64_t limit, int threads) {
    // The program, its runtime and heap, and the stack a search thread reaches.
    constexpr uint64_t PROGRAM_BYTES = uint64_t{12} << 20;
    constexpr uint64_t STACK_BYTES = uint64_t{1} << 20;
    constexpr uint64_t FIXED_TABLES = sizeof lineTable + sizeof shapeScore + sizeof shapeSum + sizeof shapeFlags +
                                      sizeof zobrist + sizeof lineSpan + sizeof g_board;
    uint64_t fixed = PROGRAM_BYTES + FIXED_TABLES + static_cast<uint64_t>(threads) * (WORKER_BYTES + STACK_BYTES);
    uint64_t margin = limit / 16;
    return limit > fixed + margin ? limit - fixed - margin : 0;
}
