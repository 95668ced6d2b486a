// libFuzzer target: arbitrary bytes as the manager's command stream, fed in-process to the real
// command loop, dispatcher and think thread. Every output line is checked as the manager reads
// it, and the game wherever the dispatcher stops the think thread; faults and sanitizers abort.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "board/consistency.h"
#include "board/forbidden.h"
#include "protocol/commands.h"
#include "protocol/game.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "protocol/think.h"
#include "search/rootsearch.h"
#include "tactics/hashtable.h"

namespace {

const uint8_t* inputData;
size_t inputSize, inputPos;
std::thread::id mainThread;
// The think thread's place in a turn: "MESSAGE Speed=..", ["MESSAGE pass"], the move. Touched by
// the think thread, and by the main thread only while the think thread is idle.
enum { TURN_IDLE, TURN_SPEED, TURN_PASS } turnStage = TURN_IDLE;
bool stopLine = false;  // the line being read or carried out is STOP or YXSTOP

[[noreturn]] void fail(const char* why, const char* line) {
    std::fprintf(stderr, "fuzz_commands: %s: \"%s\"\n", why, line);
    std::abort();
}

// Not strcmp: libFuzzer watches it and would hand the reply texts to the mutator as words.
__attribute__((no_sanitize("coverage"))) bool startsWith(const char* line, const char* prefix) {
    while (*prefix != '\0' && *line == *prefix) line++, prefix++;
    return *prefix == '\0';
}

__attribute__((no_sanitize("coverage"))) bool sameText(const char* a, const char* b) {
    return startsWith(a, b) && a[std::strlen(b)] == '\0';
}

bool onTheBoard(int x, int y) { return x >= 0 && y >= 0 && x < boardWidth && y < boardHeight; }

// "x,y" exactly as "%d,%d" writes it, then exactly the tail.
bool parseSquare(const char* text, const char* tail, int* x, int* y) {
    char again[64];
    if (std::sscanf(text, "%d,%d", x, y) != 2) return false;
    std::snprintf(again, sizeof again, "%d,%d%s", *x, *y, tail);
    return sameText(text, again);
}

// A line of the think thread: only the steps of a turn, in order; the move the record's last,
// a pass only when the side to move has no square (under Renju none but forbidden ones).
void checkThinkLine(const char* line) {
    int x, y;
    if (startsWith(line, "MESSAGE Speed=")) {
        if (turnStage != TURN_IDLE) fail("turn restarted before its move", line);
        turnStage = TURN_SPEED;
    } else if (sameText(line, "MESSAGE pass")) {
        if (turnStage != TURN_SPEED) fail("pass outside a turn", line);
        turnStage = TURN_PASS;
    } else if (!startsWith(line, "MESSAGE ")) {  // not a rule announcement, draw or memory
        if (!parseSquare(line, "", &x, &y)) fail("think thread wrote something else", line);
        if (turnStage == TURN_IDLE) fail("move without a turn", line);
        const MoveRecord& last = gameRecord[std::max(recordCount - 1, 0)];
        bool played = recordCount > 0 && onTheBoard(x, y) && last.x == x && last.y == y;
        if (turnStage == TURN_PASS ? x != -1 || y != -1 : !played) fail("wrong move", line);
        bool renjuFirst = recordCount % 2 == 0 && tablesRule == RULE_RENJU;
        for (int s = 0; turnStage == TURN_PASS && s < 32 * boardWidth; s++) {
            if (!onTheBoard(s >> 5, s & 31) || !squareFree(s >> 5, s & 31)) continue;
            if (!renjuFirst || !isForbidden(s)) fail("pass with a free square", line);
        }
        turnStage = TURN_IDLE;
    }
}

// Each writeLine text, as the manager reads it once standard output adds the line feed. Only
// the draw message carries a line feed of its own, which shows as an empty line after it.
void checkOutput(const char* line) {
    static const char* const BOARD_ERROR = "ERROR x,y,who or DONE expected after BOARD";
    static const char* const FIXED[] = {"OK", "UNKNOWN command", "ERROR bad coordinates",
        "ERROR size of the board", "ERROR bad RECTSTART parameters", BOARD_ERROR};
    // Lines ending in a square on the board, the bare "x,y" of PLAY's echo last.
    static const char* const SQUARE[] = {"ERROR opponents's move [", "ERROR my move [",
        "ERROR board-block move [", ""};
    static const std::string ABOUT = std::string("name=\"Zarvel\", author=\"Varnik\", version=\"") +
        ENGINE_VERSION + "\", country=\"Finland\", www=\"https://zarvel.example.org\"";
    bool thinkThread = std::this_thread::get_id() != mainThread;
    if (thinkThread && sameText(line, "MESSAGE It's a draw\n")) return;
    if (std::strlen(line) >= 1000) fail("line too long (cut by the formatter?)", line);
    for (const char* p = line; *p != '\0'; p++) {
        if (*p < 0x20 || *p > 0x7E) fail("control (line feed?) or non-ASCII character", line);
    }
    if (thinkThread) return checkThinkLine(line);
    // STOP is never answered; inside a BOARD block it is a bad stone line like any other.
    if (stopLine && !sameText(line, BOARD_ERROR)) fail("reply to STOP", line);
    auto is = [line](const char* text) { return sameText(line, text); };
    if (is(ABOUT.c_str()) || startsWith(line, "MESSAGE ") || std::ranges::any_of(FIXED, is)) return;
    for (const char* prefix : SQUARE) {
        int x, y;
        if (!startsWith(line, prefix)) continue;
        bool good = parseSquare(line + std::strlen(prefix), *prefix ? "]" : "", &x, &y);
        if (good && onTheBoard(x, y)) return;
        fail("not a reply, or a square off the board", line);
    }
}

// With the think thread stopped: the game record as the engine keeps it, the board built from it.
void checkGame() {
    char what[160] = "";
    int expected[SQUARE_SLOTS] = {}, all = blockCount + recordCount;
    int low = std::min(boardWidth, boardHeight), high = std::max(boardWidth, boardHeight);
    bool built = tablesRule != -1;
    if (turnStage != TURN_IDLE) fail("turn ended without a move", "");
    if ((high > 0 && (low < 1 || high > MAX_BOARD)) || std::min(recordCount, blockCount) < 0 ||
        all > low * high || (built && (tablesRule > RULE_RENJU || boardSize != high))) {
        fail("board size, rule or record size out of range", "");
    }
    for (int i = 0; i < all; i++) {
        bool block = i < blockCount;
        const MoveRecord& r = block ? blockRecord[i] : gameRecord[i - blockCount];
        int s = r.x * 32 + r.y;
        std::snprintf(what, sizeof what, "record %d: %d,%d who %d", i, r.x, r.y, r.who);
        if (!onTheBoard(r.x, r.y) || expected[s] != EMPTY) fail("off the board or twice", what);
        if (r.who != (block ? BLOCKED : (i - blockCount) % 2 + 1)) fail("wrong colour", what);
        if (built && !block && g_board.stones[i - blockCount] != static_cast<uint32_t>(s)) {
            fail("stone list out of the record's order", what);
        }
        expected[s] = r.who;
    }
    for (int s = 0; built && s < 32 * boardSize; s++) {
        int want = onTheBoard(s >> 5, s & 31) ? expected[s] : BLOCKED;
        if ((s & 31) >= boardSize || g_board.cell[s] == want) continue;
        std::snprintf(what, sizeof what, "%d,%d", s >> 5, s & 31);
        fail("board differs from the record", what);
    }
    std::string failure;
    if (built && (g_board.stoneCount != recordCount || !checkBoardConsistency(&failure))) {
        fail("incremental board state", failure.c_str());
    }
}

// Whether the input line starting here begins with one of the command words.
bool lineBegins(std::initializer_list<const char*> words) {
    char head[16] = {};
    for (size_t i = 0; i < 15 && inputPos + i < inputSize && inputData[inputPos + i] != '\n'; i++) {
        head[i] = static_cast<char>(inputData[inputPos + i]);
    }
    return std::any_of(words.begin(), words.end(), [&](auto w) { return matchCommand(w, head); });
}

// The command loop's source of characters. At the start of a line that the dispatcher will
// begin by stopping the think thread (RECTSTART only after a good parse, so it is left out),
// the thread is stopped a moment earlier to check the game: the engine sees the same events.
int nextByte() {
    if (inputPos >= inputSize) return EOF;
    if (inputPos == 0 || inputData[inputPos - 1] == '\n') {
        stopLine = lineBegins({"stop", "yxstop"});
        bool stops = lineBegins({"start", "restart", "turn", "play", "begin", "board", "takeback"});
        if (stopLine || stops) stopAndWait(), checkGame();
    }
    return inputData[inputPos++];
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    mainThread = std::this_thread::get_id();
    readInputChar = nextByte;
    outputHook = checkOutput;
    // Lives as long as the process, as the engine's does, and ends as it does: a thread still
    // waiting on the wake-up condition when exit destroys that condition hangs the exit.
    static std::thread thinkThread(thinkLoop);
    std::atexit([] { stopAndWait(), thinkCommand.store(-1), startThinking(), thinkThread.join(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    stopAndWait();
    // Back to a freshly started engine, so that each input replays the same way (up to the
    // timing of the think thread); no entry of an earlier input may steer this one's search.
    boardWidth = boardHeight = boardSize = recordCount = blockCount = 0;
    lastScore = stableCount = rootDepth = maxMemory = 0;
    tablesRule = -1, timeoutMatch = timeLeft = 100000000, timeoutTurn = 30000;
    gameType = 1, rule = RULE_FREESTYLE, dataFolder[0] = '\0', turnStage = TURN_IDLE;
    hashBuckets = MIN_HASH_BUCKETS;
    allocateTables();
    clearTables();
    inputData = data, inputSize = size, inputPos = 0;
    runCommandLoop();
    stopAndWait();  // as at the engine's end: the last turn writes its move first
    checkGame();
    return 0;
}
