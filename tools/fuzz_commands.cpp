// libFuzzer target: arbitrary bytes as the manager's command stream, fed to the real command
// loop and dispatcher in-process, the think thread included. Every output line is checked as
// the manager would see it, and the game record (and the board, when built) is checked at
// each point where the dispatcher itself stops the think thread; any fault aborts, and so
// does any sanitizer report. The hash tables are the smallest the engine can fall back to,
// cleared before every input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <thread>

#include "board/board.h"
#include "board/consistency.h"
#include "board/forbidden.h"
#include "protocol/commands.h"
#include "protocol/game.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "protocol/think.h"
#include "search/rootsearch.h"
#include "search/search.h"
#include "tactics/hashtable.h"

namespace {

const uint8_t* inputData;
size_t inputSize;
size_t inputPos;
std::thread::id mainThread;

// Think thread's progress through a turn's lines: "MESSAGE Speed=..", ["MESSAGE pass"], move.
enum TurnStage { TURN_IDLE, TURN_SPEED, TURN_PASS };
TurnStage turnStage = TURN_IDLE;  // touched by the think thread only, and by the main thread
                                  // while the think thread is idle
bool stopLine = false;  // the line being read or carried out is STOP or YXSTOP

[[noreturn]] void fail(const char* why, const char* line) {
    std::fprintf(stderr, "fuzz_commands: %s: \"%s\"\n", why, line);
    std::abort();
}

// The checks compare the engine's replies with these rather than with strcmp: libFuzzer watches
// strcmp and would hand the reply texts to the mutator as words to insert into inputs.
__attribute__((no_sanitize("coverage"))) bool startsWith(const char* line, const char* prefix) {
    for (; *prefix != '\0'; line++, prefix++) {
        if (*line != *prefix) return false;
    }
    return true;
}

__attribute__((no_sanitize("coverage"))) bool sameText(const char* a, const char* b) {
    return startsWith(a, b) && a[std::strlen(b)] == '\0';
}

bool onTheBoard(int x, int y) { return x >= 0 && y >= 0 && x < boardWidth && y < boardHeight; }

// "x,y" written exactly as "%d,%d" writes it; false for anything else.
bool parseMove(const char* line, int* x, int* y) {
    int consumed = 0;
    if (std::sscanf(line, "%d,%d%n", x, y, &consumed) != 2 || line[consumed] != '\0') return false;
    char again[32];
    std::snprintf(again, sizeof again, "%d,%d", *x, *y);
    return sameText(again, line);
}

// An error line naming a square, e.g. "ERROR my move [3,4]": the square is always on the
// board (the dispatcher checks the range before the game record sees the move).
bool squareError(const char* line) {
    static const char* const PREFIXES[] = {"ERROR opponents's move [", "ERROR my move [",
                                           "ERROR board-block move ["};
    for (const char* prefix : PREFIXES) {
        if (!startsWith(line, prefix)) continue;
        int x, y, consumed = 0;
        const char* rest = line + std::strlen(prefix);
        if (std::sscanf(rest, "%d,%d]%n", &x, &y, &consumed) != 2 || rest[consumed] != '\0') {
            fail("malformed error line", line);
        }
        if (!onTheBoard(x, y)) fail("error line names a square off the board", line);
        return true;
    }
    return false;
}

// A pass is right only when the side to move has no square: none free, or under Renju
// every free one forbidden to the first player.
void checkPass(const char* line) {
    int side = recordCount % 2 + 1;
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            if (!squareFree(x, y)) continue;
            if (side == FIRST && tablesRule == RULE_RENJU && isForbidden(x * 32 + y)) continue;
            fail("pass with a free square", line);
        }
    }
}

// A line written by the think thread: only the steps of a turn, in order.
void checkThinkLine(const char* line) {
    if (startsWith(line, "MESSAGE Speed=")) {
        if (turnStage != TURN_IDLE) fail("turn restarted before its move", line);
        turnStage = TURN_SPEED;
        return;
    }
    if (sameText(line, "MESSAGE pass")) {
        if (turnStage != TURN_SPEED) fail("pass outside a turn", line);
        turnStage = TURN_PASS;
        return;
    }
    if (startsWith(line, "MESSAGE ")) return;  // rule announcement, draw, memory
    int x, y;
    if (!parseMove(line, &x, &y)) fail("think thread wrote something else than a move", line);
    if (turnStage == TURN_IDLE) fail("move without a turn", line);
    if (turnStage == TURN_PASS) {
        if (x != -1 || y != -1) fail("pass followed by a move", line);
        checkPass(line);
    } else {
        if (!onTheBoard(x, y)) fail("move off the board", line);
        if (recordCount == 0 || gameRecord[recordCount - 1].x != x || gameRecord[recordCount - 1].y != y) {
            fail("move not in the game record", line);
        }
    }
    turnStage = TURN_IDLE;
}

// One line as the manager reads it.
void checkLine(const char* line, bool thinkThread) {
    if (std::strlen(line) >= 1000) fail("line too long (cut by the formatter?)", line);
    for (const char* p = line; *p != '\0'; p++) {
        if (*p < 0x20 || *p > 0x7E) fail("control or non-ASCII character", line);
    }
    if (thinkThread) {
        checkThinkLine(line);
        return;
    }
    // STOP is never answered; inside a BOARD block it is a bad stone line like any other.
    if (stopLine && !sameText(line, "ERROR x,y,who or DONE expected after BOARD")) {
        fail("reply to STOP", line);
    }
    static const char* const FIXED[] = {
        "OK", "UNKNOWN command", "ERROR bad coordinates", "ERROR size of the board",
        "ERROR bad RECTSTART parameters", "ERROR x,y,who or DONE expected after BOARD"};
    for (const char* fixed : FIXED) {
        if (sameText(line, fixed)) return;
    }
    static char about[256];
    if (about[0] == '\0') {
        std::snprintf(about, sizeof about,
                      "name=\"Zarvel\", author=\"Varnik\", version=\"%s\", country=\"Finland\", "
                      "www=\"https://zarvel.example.org\"",
                      ENGINE_VERSION);
    }
    if (sameText(line, about)) return;
    if (squareError(line) || startsWith(line, "MESSAGE ")) return;
    int x, y;
    if (!parseMove(line, &x, &y)) fail("not a reply", line);
    if (!onTheBoard(x, y)) fail("PLAY echo off the board", line);
}

// Receives each writeLine text; standard output would show it followed by a line feed. Only
// the draw message carries a line feed of its own, which shows as an empty line after it.
void checkOutput(const char* text) {
    bool thinkThread = std::this_thread::get_id() != mainThread;
    const char* feed = std::strchr(text, '\n');
    if (feed == nullptr) {
        checkLine(text, thinkThread);
        return;
    }
    if (!thinkThread || !sameText(text, "MESSAGE It's a draw\n")) {
        fail("line feed inside a line", text);
    }
}

// The game record as the engine keeps it, and the board against it when it is built.
void checkGame() {
    char what[160];
    bool noSize = boardWidth == 0 && boardHeight == 0;
    if (!noSize && (boardWidth < 1 || boardHeight < 1 || boardWidth > MAX_BOARD ||
                    boardHeight > MAX_BOARD)) {
        std::snprintf(what, sizeof what, "%dx%d", boardWidth, boardHeight);
        fail("board size out of range", what);
    }
    if (recordCount < 0 || blockCount < 0 || recordCount + blockCount > boardWidth * boardHeight) {
        std::snprintf(what, sizeof what, "%d moves, %d blocks", recordCount, blockCount);
        fail("game record larger than the board", what);
    }
    int expected[SQUARE_SLOTS] = {};
    for (int i = 0; i < blockCount + recordCount; i++) {
        const MoveRecord& r = i < blockCount ? blockRecord[i] : gameRecord[i - blockCount];
        int wantWho = i < blockCount ? BLOCKED : (i - blockCount) % 2 + 1;
        std::snprintf(what, sizeof what, "%s %d: %d,%d who %d", i < blockCount ? "block" : "move",
                      i < blockCount ? i : i - blockCount, r.x, r.y, r.who);
        if (!onTheBoard(r.x, r.y)) fail("record off the board", what);
        if (r.who != wantWho) fail("record with the wrong colour", what);
        if (expected[r.x * 32 + r.y] != EMPTY) fail("square recorded twice", what);
        expected[r.x * 32 + r.y] = r.who;
    }
    if (tablesRule == -1) return;
    if (tablesRule < RULE_FREESTYLE || tablesRule > RULE_RENJU) fail("tablesRule out of range", "");
    if (boardSize != std::max(boardWidth, boardHeight)) fail("boardSize not the larger side", "");
    for (int x = 0; x < boardSize; x++) {
        for (int y = 0; y < boardSize; y++) {
            int s = x * 32 + y;
            int want = onTheBoard(x, y) ? expected[s] : BLOCKED;
            if (g_board.cell[s] != want) {
                std::snprintf(what, sizeof what, "%d,%d holds %d, record says %d", x, y,
                              g_board.cell[s], want);
                fail("board differs from the record", what);
            }
        }
    }
    if (g_board.stoneCount != recordCount) fail("stone list differs from the record", "");
    for (int i = 0; i < recordCount; i++) {
        if (g_board.stones[i] != static_cast<uint32_t>(gameRecord[i].x * 32 + gameRecord[i].y)) {
            fail("stone list out of the record's order", "");
        }
    }
    std::string failure;
    if (!checkBoardConsistency(&failure)) fail("incremental board state", failure.c_str());
}

// Whether the line starting at from begins with one of the command words.
bool lineBegins(size_t from, std::initializer_list<const char*> words) {
    char head[16] = {};
    for (size_t i = 0; i + 1 < sizeof head && from + i < inputSize && inputData[from + i] != '\n'; i++) {
        head[i] = static_cast<char>(inputData[from + i]);
    }
    for (const char* word : words) {
        if (matchCommand(word, head) != nullptr) return true;
    }
    return false;
}

// The command loop's source of characters. At the start of a line that the dispatcher will
// begin by stopping the think thread (RECTSTART only after a good parse, so it is left out),
// the thread is stopped a moment earlier to check the game: the order of events the engine
// sees is unchanged.
int nextByte() {
    if (inputPos >= inputSize) return EOF;
    if (inputPos == 0 || inputData[inputPos - 1] == '\n') {
        stopLine = lineBegins(inputPos, {"stop", "yxstop"});
        if (lineBegins(inputPos, {"start", "restart", "turn", "play", "begin", "board", "takeback",
                                  "stop", "yxstop"})) {
            stopAndWait();
            if (turnStage != TURN_IDLE) fail("turn ended without a move", "");
            checkGame();
        }
    }
    return inputData[inputPos++];
}

// Back to the state of a freshly started engine, so that each input replays the same way
// (up to the timing of the think thread).
void resetEngine() {
    boardWidth = boardHeight = boardSize = 0;
    recordCount = blockCount = 0;
    tablesRule = -1;
    lastScore = 0;
    stableCount = 0;
    rootDepth = 0;
    maxMemory = 0;
    timeoutMatch = 100000000;
    timeoutTurn = 30000;
    timeLeft = 100000000;
    gameType = 1;
    rule = RULE_FREESTYLE;
    dataFolder[0] = '\0';
    turnStage = TURN_IDLE;
    hashBuckets = MIN_HASH_BUCKETS;
    allocateTables();
    clearTables();  // no entry of an earlier input may steer this one's search
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    mainThread = std::this_thread::get_id();
    readInputChar = nextByte;
    outputHook = checkOutput;
    // Runs for the life of the fuzzing process, like the engine's own think thread, and is
    // ended as the engine ends it: a thread still waiting on the wake-up condition when exit
    // destroys that condition hangs the exit.
    static std::thread thinkThread(thinkLoop);
    std::atexit([] {
        stopAndWait();
        thinkCommand.store(-1);
        startThinking();
        thinkThread.join();
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    stopAndWait();
    resetEngine();
    inputData = data;
    inputSize = size;
    inputPos = 0;
    runCommandLoop();
    stopAndWait();  // as at the engine's end: the last turn writes its move first
    if (turnStage != TURN_IDLE) fail("turn ended without a move", "");
    checkGame();
    return 0;
}
