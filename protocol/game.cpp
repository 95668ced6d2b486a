#include "protocol/game.h"

#include <algorithm>

#include "board/board.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "protocol/think.h"
#include "search/hashtable.h"
#include "search/search.h"
#include "search/threads.h"
#include "search/timecontrol.h"

MoveRecord gameRecord[MAX_STONES];
int32_t recordCount = 0;
MoveRecord blockRecord[MAX_STONES];
int32_t blockCount = 0;

const char* const ENGINE_VERSION = ZARVEL_VERSION;  // project(VERSION) in CMakeLists.txt

namespace {

bool firstRebuild = true;
int warmedRule = -1;  // rule whose pattern tables a warm-up built before any turn

bool listed(const MoveRecord* records, int count, int x, int y) {
    return std::any_of(records, records + count,
                       [&](const MoveRecord& r) { return r.x == x && r.y == y; });
}

// Under Renju the board is always built, so every move is checked against it.
void renjuFollowUp() {
    if (rule.load() == RULE_RENJU && tablesRule != RULE_RENJU) rebuildBoard(RULE_RENJU);
}

void clearGame() {
    tablesRule = -1;
    recordCount = 0;
    blockCount = 0;
    lastScore = 0;
}

// What START may spend on faulting in fresh tables before it answers: the rest, with tables
// of gigabytes, is left to the warm-up after INFO or to the first search.
constexpr int32_t START_TOUCH_MS = 400;

void announceReset() {
    writeLine("MESSAGE %sZarvel %s Demo :-)", "", ENGINE_VERSION);
    if (rule.load() == RULE_RENJU) rebuildBoard(RULE_RENJU);
    stopRequested.store(0);  // the think thread is idle: nothing else reads it now
    warmUp(clockMs() + START_TOUCH_MS);
    writeLine("OK");
}

// Places a stone of the next colour, or writes the operation's error line.
void playStone(int x, int y, const char* errorFormat) {
    if (!squareFree(x, y) || recordCount >= MAX_STONES) {
        writeLine(errorFormat, x, y);
        return;
    }
    int who = recordCount % 2 + 1;
    if (tablesRule != -1) makeMove(g_board, x * 32 + y, who);
    gameRecord[recordCount++] = {x, y, who};
    renjuFollowUp();
}

// A manager's memory limit alone takes at most this much for the tables: a turn under a match
// clock fills a small part of more, and fresh tables of gigabytes cost time to map and clear.
// Analysis GUIs ask for more with hash_size.
constexpr uint64_t MAX_LIMITED_HASH_BYTES = uint64_t{1} << 30;

// The hash tables as large as the INFO settings allow, for the search threads in force.
HashSizes plannedHashSizes() {
    int64_t limit = maxMemory.load(), kib = hashSize.load();
    if (limit <= 0 && kib <= 0) return DEFAULT_HASH_SIZES;
    uint64_t bytes = kib > 0 ? std::min<uint64_t>(kib, maxHashBytes() >> 10) << 10 : MAX_LIMITED_HASH_BYTES;
    if (limit > 0) bytes = std::min(bytes, hashTableAllowance(static_cast<uint64_t>(limit), searchThreads()));
    HashSizes sizes = hashSizesFor(bytes);
    static uint64_t warnedFor = 0;  // one message per setting that is too small
    if (hashBytes(sizes) > bytes && warnedFor != bytes + 1) {
        warnedFor = bytes + 1;
        writeLine("MESSAGE Memory limit too small: hash tables at their smallest size (%d KiB)",
                  static_cast<int>(hashBytes(sizes) >> 10));
    }
    return sizes;
}

}  // namespace

bool squareFree(int x, int y) {
    if (x < 0 || y < 0 || x >= boardWidth || y >= boardHeight) return false;
    if (tablesRule != -1) return g_board.cell[x * 32 + y] == EMPTY;
    return !listed(gameRecord, recordCount, x, y) && !listed(blockRecord, blockCount, x, y);
}

void prepareSearch() {
    setSearchThreads(threadNum.load());
    wantedHashSizes = plannedHashSizes();
    if (prepareHashTables()) {
        writeLine("MESSAGE Not enough memory for the hash tables: %d buckets per table (%d KiB in all)",
                  static_cast<int>(hashSizes.mainBuckets), static_cast<int>(hashBytes(hashSizes) >> 10));
    }
}

void warmUp(int32_t touchDeadline) {
    if (tablesRule == -1 && boardHeight != 0) {
        warmedRule = rule.load();
        updateReach = warmedRule == RULE_FREESTYLE ? 4 : 5;
        buildTables(warmedRule);
    }
    prepareSearch();
    if (searchThreads() > 1) touchTables(touchDeadline);
}

void rebuildBoard(int forRule) {
    updateReach = forRule == RULE_FREESTYLE ? 4 : 5;
    buildTables(forRule);
    tablesRule = forRule;
    resetBoardState(g_board);
    prepareSearch();
    resetAllSearchState();
    lastScore = 0;
    for (int i = 0; i < blockCount; i++) makeMove(g_board, blockRecord[i].x * 32 + blockRecord[i].y, BLOCKED);
    for (int i = 0; i < recordCount; i++) {
        makeMove(g_board, gameRecord[i].x * 32 + gameRecord[i].y, gameRecord[i].who);
    }
}

void resetBoard() {
    if (boardHeight > MAX_BOARD || boardWidth > MAX_BOARD || boardHeight < 1 || boardWidth < 1) {
        writeLine("ERROR size of the board");
        return;
    }
    boardSize = std::max(boardWidth, boardHeight);
    clearGame();
    announceReset();
}

void newGame(bool quiet) {
    clearGame();
    if (quiet) {
        renjuFollowUp();
        return;
    }
    announceReset();
}

void playOpponentMove(int x, int y) { playStone(x, y, "ERROR opponents's move [%d,%d]"); }

void playOwnMove(int x, int y) {
    if (x == -1) {
        writeLine("MESSAGE pass");
        return;
    }
    playStone(x, y, "ERROR my move [%d,%d]");
}

void placeBlock(int x, int y) {
    if (!squareFree(x, y) || blockCount >= MAX_STONES) {
        writeLine("ERROR board-block move [%d,%d]", x, y);
        return;
    }
    if (tablesRule != -1) makeMove(g_board, x * 32 + y, BLOCKED);
    blockRecord[blockCount++] = {x, y, BLOCKED};
    renjuFollowUp();
}

int takeBack(int x, int y) {
    // Only the last move of the record can be taken back; the record decides, not the board.
    if (recordCount == 0) return 2;
    const MoveRecord& last = gameRecord[recordCount - 1];
    if (last.x != x || last.y != y) return 2;
    if (tablesRule != -1) unmakeMove(g_board, x * 32 + y, last.who);
    recordCount--;
    lastScore = 0;
    renjuFollowUp();
    return 0;
}

void announceRule() {
    int forRule = rule.load();
    if (forRule == tablesRule) return;
    static const char* const NAMES[] = {"Gomoku (Freestyle)", "Gomoku (Standard)", "Renju"};
    writeLine("MESSAGE Rule %s", NAMES[forRule]);
    rebuildBoard(forRule);
    if (firstRebuild) {
        firstRebuild = false;
        // The first build of the rule's tables counts against this turn, unless a warm-up
        // built them before the turn was asked for.
        if (forRule != warmedRule) searchStartTime -= 200;
    }
}
