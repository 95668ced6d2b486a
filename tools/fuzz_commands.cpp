// libFuzzer target: arbitrary bytes as the manager's command stream, fed to the real command
// loop and dispatcher in-process, the think thread included. Every output line is checked:
// a malformed line or a move off the board aborts, and so does any sanitizer report.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "protocol/commands.h"
#include "protocol/game.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "protocol/think.h"
#include "search/search.h"

namespace {

const uint8_t* inputData;
size_t inputSize;
size_t inputPos;

int nextByte() { return inputPos < inputSize ? inputData[inputPos++] : EOF; }

[[noreturn]] void fail(const char* why, const char* line) {
    std::fprintf(stderr, "bad output line (%s): \"%s\"\n", why, line);
    std::abort();
}

bool startsWith(const char* line, const char* prefix) {
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

// A reply is a known fixed line, an ERROR or MESSAGE line, the ABOUT line, the empty line
// after the draw message, or a move inside the board (or the pass, -1,-1).
void checkLine(const char* line) {
    if (std::strchr(line, '\n') != nullptr || std::strchr(line, '\r') != nullptr) {
        fail("line end inside a line", line);
    }
    if (*line == '\0' || std::strcmp(line, "OK") == 0 || std::strcmp(line, "UNKNOWN command") == 0 ||
        startsWith(line, "ERROR ") || startsWith(line, "MESSAGE ") || startsWith(line, "name=\"Zarvel\"")) {
        return;
    }
    int x, y, consumed = 0;
    if (std::sscanf(line, "%d,%d%n", &x, &y, &consumed) != 2 || line[consumed] != '\0') {
        fail("not a reply", line);
    }
    bool pass = x == -1 && y == -1;
    if (!pass && (x < 0 || y < 0 || x >= boardWidth || y >= boardHeight)) fail("move off the board", line);
}

// Back to the state of a freshly started engine, so each input replays the same way.
void resetEngine() {
    boardWidth = boardHeight = boardSize = 0;
    recordCount = blockCount = 0;
    tablesRule = -1;
    lastScore = 0;
    rootDepth = 0;
    maxMemory = 0;
    timeoutMatch = 100000000;
    timeoutTurn = 50;  // keep turns tiny whatever the input asks for later
    timeLeft = 100000000;
    gameType = 1;
    rule = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::thread* thinkThread = new std::thread(thinkLoop);
    (void)thinkThread;  // runs for the life of the fuzzing process
    stopAndWait();
    resetEngine();
    inputData = data;
    inputSize = size;
    inputPos = 0;
    readInputChar = nextByte;
    outputHook = checkLine;
    runCommandLoop();
    stopAndWait();  // the last turn writes its move before the next input starts
    return 0;
}
