// libFuzzer target: random bytes as the manager's commands to the real command loop, dispatcher
// and think thread, in-process; cheap output checks (the protocol table test pins the replies)
// and the game checked wherever the think thread stops. Faults and sanitizers abort.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "board/consistency.h"
#include "protocol/commands.h"
#include "protocol/game.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "protocol/think.h"
#include "search/rootsearch.h"
#include "search/hashtable.h"
#include "search/threads.h"

namespace {

const uint8_t *inputData, *inputPos, *inputEnd;
std::thread::id mainThread;
bool turnOpen = false;  // the think thread wrote "MESSAGE Speed=" and owes the turn's move
bool stopLine = false;  // the line being read or carried out is STOP or YXSTOP
bool swap2Open = false;  // SWAP2BOARD was read; the think thread may owe its answer
bool nbestOpen = false;  // YXNBEST was read; the think thread may owe its best move

[[noreturn]] void fail(const char* why, const std::string& line) {
    std::fprintf(stderr, "fuzz_commands: %s: \"%s\"\n", why, line.c_str()), std::abort();
}
// Not strncmp: libFuzzer watches it and would hand the output texts to the mutator as words.
__attribute__((no_sanitize("coverage"))) bool startsWith(const char* line, const char* prefix) {
    while (*prefix != '\0' && *line == *prefix) line++, prefix++;
    return *prefix == '\0';
}
bool onTheBoard(int x, int y) { return x >= 0 && y >= 0 && x < boardWidth && y < boardHeight; }

// One to three squares "x,y x,y": the last stones of the record, in their order.
bool swap2Answer(const char* line) {
    int x, y, length, count = 0;
    int squares[3];
    for (const char* p = line; count < 3 && std::sscanf(p, "%d,%d%n", &x, &y, &length) == 2;) {
        squares[count++] = x * 32 + y;
        p += length;
        if (*p == '\0') {
            if (count > recordCount) return false;
            for (int i = 0; i < count; i++) {
                const MoveRecord& r = gameRecord[recordCount - count + i];
                if (r.x * 32 + r.y != squares[i]) return false;
            }
            return true;
        }
        if (*p++ != ' ') return false;
    }
    return false;
}

// Each line as the manager reads it: only the draw message has a line feed (an empty line).
void checkOutput(const char* line) {
    bool thinkThread = std::this_thread::get_id() != mainThread;
    if (thinkThread && startsWith(line, "MESSAGE It's a draw\n") && line[20] == '\0') return;
    const char* end = line + std::strlen(line);
    bool plain = std::all_of(line, end, [](char c) { return c >= ' ' && c <= '~'; });
    if (!plain || end - line >= 2000) fail("control or non-ASCII character, or too long", line);
    if (!thinkThread) {  // STOP is never answered; in a BOARD block it is a bad stone line
        if (stopLine && !startsWith(line, "ERROR x,y,who")) fail("reply to STOP", line);
    } else if (startsWith(line, "MESSAGE Speed=")) {
        if (std::exchange(turnOpen, true)) fail("turn restarted before its move", line);
        // Only turns write the speed: a SWAP2BOARD or YXNBEST line seen was a bad line of a
        // BOARD block, after which the turn starts all the same.
        swap2Open = nbestOpen = false;
    } else if (startsWith(line, "INFO ")) {
        // show_detail's and YXNBEST's blocks
    } else if (!startsWith(line, "MESSAGE ") && std::exchange(nbestOpen, false)) {
        int x, y, length;  // a free square, not played; -1,-1 when none is left
        if (std::sscanf(line, "%d,%d%n", &x, &y, &length) < 2 || line[length] != '\0' ||
            !((x == -1 && y == -1) || squareFree(x, y))) {
            fail("no YXNBEST answer", line);
        }
    } else if (!startsWith(line, "MESSAGE ") && std::exchange(swap2Open, false)) {
        if (std::strcmp(line, "SWAP") != 0 && !swap2Answer(line)) fail("no Swap2 answer", line);
    } else if (!startsWith(line, "MESSAGE ")) {  // the move: the record's last, -1,-1 a pass
        int x, y, length, fields = std::sscanf(line, "%d,%d%n", &x, &y, &length);
        if (fields < 2 || line[length] != '\0' || !std::exchange(turnOpen, false)) {
            fail("think thread wrote something else, or a move before MESSAGE Speed=", line);
        }
        const MoveRecord& last = gameRecord[std::max(recordCount - 1, 0)];
        bool played = recordCount > 0 && onTheBoard(x, y) && last.x == x && last.y == y;
        if (!played && (x != -1 || y != -1)) fail("not the move played, nor a pass", line);
    }
}

// With the think thread stopped: the game record as the engine keeps it, the board built from it.
void checkGame() {
    char what[160] = "";
    int expected[SQUARE_SLOTS] = {}, all = blockCount + recordCount;
    int low = std::min(boardWidth, boardHeight), high = std::max(boardWidth, boardHeight);
    bool built = tablesRule != -1;
    if (turnOpen) fail("turn ended without a move", "");
    if ((high > 0 && (low < 1 || high > MAX_BOARD)) || std::min(recordCount, blockCount) < 0 ||
        all > low * high || (built && (tablesRule > RULE_RENJU || boardSize != high))) {
        fail("board size, rule or record size out of range", "");
    }
    for (int i = 0; i < all; i++) {
        bool block = i < blockCount;
        const MoveRecord& r = block ? blockRecord[i] : gameRecord[i - blockCount];
        int s = r.x * 32 + r.y;
        std::snprintf(what, sizeof what, "record %d: %d,%d who %d", i, r.x, r.y, r.who);
        if (!onTheBoard(r.x, r.y) || expected[s] != EMPTY ||
            r.who != (block ? BLOCKED : (i - blockCount) % 2 + 1) ||
            (built && !block && g_board.stones[i - blockCount] != static_cast<uint32_t>(s))) {
            fail("off the board, twice, wrong colour or out of the stone list's order", what);
        }
        expected[s] = r.who;
    }
    for (int s = 0; built && s < 32 * boardSize; s++) {
        int want = onTheBoard(s >> 5, s & 31) ? expected[s] : BLOCKED;
        if ((s & 31) < boardSize && g_board.cell[s] != want) {
            fail("board differs from the record at x*32+y", std::to_string(s));
        }
    }
    std::string failure;
    if (built && (g_board.stoneCount != recordCount || !checkBoardConsistency(g_board, &failure))) {
        fail("incremental board state", failure);
    }
}

// The command loop's characters. Lines whose command stops the think thread first (RECTSTART
// only after a good parse: left out) stop it here a moment earlier, to check the game.
int nextByte() {
    if (inputPos == inputEnd) return EOF;
    if (inputPos == inputData || inputPos[-1] == '\n') {
        std::string head(inputPos, inputPos + std::min<ptrdiff_t>(inputEnd - inputPos, 15));
        auto begins = [&](auto... words) { return (... || matchCommand(words, head.c_str())); };
        stopLine = begins("stop", "yxstop");
        if (stopLine || begins("start", "restart", "turn", "play", "begin", "board", "takeback",
                               "yxboard", "swap2board", "yxshowforbid", "yxhashclear", "yxnbest")) {
            stopAndWait(), checkGame();
            swap2Open = begins("swap2board");  // set and reset while the think thread is idle
            nbestOpen = begins("yxnbest");
        }
    }
    return *inputPos++;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    mainThread = std::this_thread::get_id(), readInputChar = nextByte, outputHook = checkOutput;
    // Ends as the engine's does: a thread still waiting when exit destroys the condition hangs.
    static std::thread thinkThread(thinkLoop);
    std::atexit([] { stopAndWait(), thinkCommand.store(-1), startThinking(), thinkThread.join(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A freshly started engine, so inputs replay alike (but for the think thread's timing).
    boardWidth = boardHeight = boardSize = recordCount = blockCount = 0, tablesRule = -1;
    lastScore = mainWorker().stableCount = mainWorker().rootDepth = 0, timeoutMatch = timeLeft = 100000000;
    timeoutTurn = 30000, gameType = 1, rule = RULE_FREESTYLE, dataFolder[0] = '\0', threadNum = 1;
    showDetail = maxDepth = maxNode = 0;
    maxMemory = 0, hashSize = 384;  // KiB: the smallest tables, quick to clear
    turnOpen = false, wantedHashSizes = {MIN_HASH_BUCKETS, MIN_HASH_BUCKETS}, allocateTables(), clearTables();
    inputData = inputPos = data, inputEnd = data + size;
    runCommandLoop();
    stopAndWait(), checkGame();  // as at the engine's end: the last turn writes its move first
    return 0;
}
