#include "protocol/detail.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "board/board.h"
#include "board/forbidden.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "search/hashtable.h"
#include "search/report.h"
#include "search/threads.h"
#include "search/timecontrol.h"

namespace {

constexpr int DETAIL_REALTIME = 1;
constexpr int DETAIL_BLOCKS = 2;
// A GUI is not flooded: no realtime line in a think's first 200 ms, then one per 100 ms.
constexpr int32_t REALTIME_QUIET_MS = 200;
constexpr int32_t REALTIME_GAP_MS = 100;
constexpr int MAX_BESTLINE = 64;
constexpr double WINRATE_SCALE = 200.0;

int detailFlags = 0;
int pvCount = 1;
int pvIndex = 0;
int32_t thinkStart = 0;
int32_t lastRealtime = 0;
int pendingBest = -1;  // a best move the throttle held back
int shownBest = -1;    // the last best move written
bool pendingRefresh = false;
int64_t mainNodesBefore = 0;  // nodes of the think's earlier searches
int64_t totalNodesBefore = 0;
BoardBase lineBoard;  // the principal variation is played out here

bool realtimeSlot() {
    int32_t now = clockMs();
    if (now - thinkStart < REALTIME_QUIET_MS || now - lastRealtime < REALTIME_GAP_MS) return false;
    lastRealtime = now;
    return true;
}

// One realtime line through the throttle. REFRESH and BEST are the lines a GUI must not
// miss: held back, they go out first at the next free slot, in place of the event then.
void realtime(const char* word, int move) {
    if ((detailFlags & DETAIL_REALTIME) == 0) return;
    const bool refresh = std::strcmp(word, "REFRESH") == 0, best = std::strcmp(word, "BEST") == 0;
    if (best && move == shownBest) {
        pendingBest = -1;
        return;
    }
    if (!realtimeSlot()) {
        if (best) pendingBest = move;
        pendingRefresh = pendingRefresh || refresh;
        return;
    }
    if (pendingRefresh || refresh) {
        pendingRefresh = false;
        if (best) pendingBest = move;
        writeLine("MESSAGE REALTIME REFRESH");
        return;
    }
    if (pendingBest >= 0 || best) {
        shownBest = best ? move : pendingBest;
        pendingBest = -1;
        writeLine("MESSAGE REALTIME BEST %d,%d", shownBest >> 5, shownBest & 31);
        return;
    }
    writeLine("MESSAGE REALTIME %s %d,%d", word, move >> 5, move & 31);
}

// The principal variation from the root move on: the hash table's best moves, until one is
// missing, taken or illegal, or a five is made.
void bestLine(int move, char* text, int size) {
    lineBoard = g_board;
    int side = lineBoard.stoneCount % 2 == 0 ? FIRST : SECOND;
    int length = 0;
    for (int n = 0; n < MAX_BESTLINE; n++) {
        if (n > 0) move = ttBestMove(side, lineBoard.hashKey);
        if (move < 0 || !onBoard(move) || lineBoard.cell[move] != EMPTY) break;
        if (side == FIRST && tablesRule == RULE_RENJU && isForbidden(lineBoard, move)) break;
        const bool five = inThreat(lineBoard, T_FIVE, side - 1, move);
        makeMove(lineBoard, move, side);
        length += std::snprintf(text + length, size - length, n == 0 ? "%d,%d" : " %d,%d", move >> 5, move & 31);
        if (five || length >= size) break;
        side = 3 - side;
    }
}

// mainNodes and totalNodes: of the think's searches so far.
void writeBlock(int index, const PvResult& r, int64_t mainNodes, int64_t totalNodes) {
    if (r.move < 0) return;
    const int32_t elapsed = std::max(0, clockMs() - thinkStart);
    char eval[32], line[MAX_BESTLINE * 6 + 8] = "";
    formatEval(r.value, r.depth, eval, sizeof eval);
    bestLine(r.move, line, sizeof line);
    writeLine("INFO PV %d", index);
    writeLine("INFO NUMPV %d", pvCount);
    writeLine("INFO DEPTH %d", r.depth);
    writeLine("INFO SELDEPTH %d", std::max(r.selDepth, r.depth));
    writeLine("INFO NODES %lld", static_cast<long long>(mainNodes));
    writeLine("INFO TOTALNODES %lld", static_cast<long long>(totalNodes));
    writeLine("INFO TOTALTIME %d", elapsed);
    writeLine("INFO SPEED %lld", static_cast<long long>(totalNodes * 1000 / std::max(1, elapsed)));
    writeLine("INFO EVAL %s", eval);
    writeLine("INFO WINRATE %.4f", winRate(r.value));
    writeLine("INFO BESTLINE %s", line);
    writeLine("INFO PV DONE");
}

void onIterationStart(const SearchWorker&) { realtime("REFRESH", -1); }
void onMoveStart(const SearchWorker&, int move) { realtime("POS", move); }
void onMoveDone(const SearchWorker&, int move, int32_t value) {
    realtime(value <= -MATE_BOUND ? "LOST" : "DONE", move);
}
void onBestChange(const SearchWorker&, int move) { realtime("BEST", move); }
void onIterationDone(const SearchWorker& w, int32_t value) {
    if ((detailFlags & DETAIL_BLOCKS) == 0) return;
    const PvResult r = {w.bestMove, value, w.rootDepth, w.selDepth};
    writeBlock(pvIndex, r, mainNodesBefore + w.nodeCount - w.nodeStart, totalNodesBefore + liveSearchNodes());
}

const SearchReporter REPORTER = {onIterationStart, onMoveStart, onMoveDone, onBestChange, onIterationDone};

}  // namespace

void formatEval(int32_t value, int rootDepth, char* text, int size) {
    if (value >= MATE_BOUND || value <= -MATE_BOUND) {
        // A win is WIN_SCORE + the remaining depth at the node where the winner's move makes
        // the win certain (a five, an open four, two fours): that node's ply gives the count.
        int ply = std::max(0, WIN_SCORE + rootDepth - std::abs(value));
        std::snprintf(text, size, "%cM%d", value > 0 ? '+' : '-', ply / 2 + 1);
    } else {
        std::snprintf(text, size, "%d", value);
    }
}

double winRate(int32_t value) {
    if (value >= MATE_BOUND) return 1.0;
    if (value <= -MATE_BOUND) return 0.0;
    return 1.0 / (1.0 + std::exp(-value / WINRATE_SCALE));
}

void beginDetail(int count) {
    detailFlags = std::clamp(showDetail.load(), 0, DETAIL_REALTIME | DETAIL_BLOCKS);
    pvCount = count;
    pvIndex = 0;
    thinkStart = clockMs();
    lastRealtime = thinkStart - REALTIME_GAP_MS;
    pendingBest = shownBest = -1;
    pendingRefresh = false;
    mainNodesBefore = totalNodesBefore = 0;
    g_searchReporter = detailFlags != 0 ? &REPORTER : nullptr;
}

void setDetailPv(int index) { pvIndex = index; }

PvResult finishDetailSearch(int move, int32_t value) {
    const SearchWorker& w = mainWorker();
    mainNodesBefore += w.nodeCount;
    totalNodesBefore += searchNodes();
    return {move, value, w.rootDepth, w.selDepth};
}

void writePvBlocks(PvResult* results, int count) {
    std::stable_sort(results, results + count, [](const PvResult& a, const PvResult& b) { return a.value > b.value; });
    for (int i = 0; i < count; i++) writeBlock(i, results[i], mainNodesBefore, totalNodesBefore);
}

void endDetail() { g_searchReporter = nullptr; }
