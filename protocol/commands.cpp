#include "protocol/commands.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "protocol/analysis.h"
#include "protocol/game.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "protocol/swap2.h"
#include "protocol/think.h"

char lineBuffer[LINE_BUFFER_SIZE];

namespace {

int readStandardInput() { return std::getchar(); }

enum class BlockLine { STONE, DONE, BAD };

int foldCase(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

bool inRange(int x, int y) { return x >= 0 && y >= 0 && x < boardWidth && y < boardHeight; }

// Parses "x,y"; writes the coordinate error and returns false when it is no square.
bool readSquare(const char* params, int* x, int* y) {
    int v[2];
    if (scanNumbers(params, "%d,%d", v) != 2 || !inRange(v[0], v[1])) {
        writeLine("ERROR bad coordinates");
        return false;
    }
    *x = v[0];
    *y = v[1];
    return true;
}

// A new size from START or RECTSTART. A height of 0 means "no size": the default board is
// set up (with its own reset lines) and reset once more. Any other size outside 1..22
// changes nothing.
void startWithSize(int height, int width) {
    stopAndWait();
    if (height == 0) {
        boardHeight = 0;
        ensureBoard();
        resetBoard();
        return;
    }
    if (height < 1 || width < 1 || height > MAX_BOARD || width > MAX_BOARD) {
        writeLine("ERROR size of the board");
        return;
    }
    boardHeight = height;
    boardWidth = width;
    resetBoard();
}

// One line of a BOARD block: a stone line is played (colours alternate in the order of the
// lines; "who" tells own stones from the opponent's, 3 is a block).
BlockLine readBoardLine(const char* text) {
    int v[3];
    if (scanNumbers(text, "%d,%d,%d", v) == 3 && inRange(v[0], v[1]) && v[2] >= 1 && v[2] <= 3) {
        int x = v[0], y = v[1], who = v[2];
        if (who == 1) playOwnMove(x, y);
        else if (who == 2) playOpponentMove(x, y);
        else placeBlock(x, y);
        return BlockLine::STONE;
    }
    return std::strlen(text) == 4 && matchCommand("done", text) != nullptr ? BlockLine::DONE
                                                                            : BlockLine::BAD;
}

// The stones of a BOARD block; the game starts afresh, since BOARD imposes a whole position.
// Lines may also follow the command word on its own line, separated by blanks (as one GUI
// sends YXBOARD). Returns false when input ended inside the block.
bool readBoardBlock(const char* sameLine) {
    newGame(true);
    BlockLine line = BlockLine::STONE;
    char word[LINE_BUFFER_SIZE];
    for (const char* p = sameLine; *p != '\0' && line == BlockLine::STONE;) {
        size_t length = std::strcspn(p, " \t");
        std::memcpy(word, p, length);
        word[length] = '\0';
        line = readBoardLine(word);
        p += length + std::strspn(p + length, " \t");
    }
    while (line == BlockLine::STONE) {
        if (!readLine()) return false;
        line = readBoardLine(lineBuffer);
    }
    if (line == BlockLine::BAD) writeLine("ERROR x,y,who or DONE expected after BOARD");
    return true;
}

void stopForPositionChange() {
    stopAndWait();
    ensureBoard();
}

}  // namespace

int (*readInputChar)() = readStandardInput;

int scanNumbers(const char* text, const char* format, int* values) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    int count = 0;
    for (const char* f = format; *f != '\0'; f++) {
        if (*f == ' ') {
            while (std::isspace(*p)) p++;
        } else if (*f == '%') {
            f++;  // only %d is used
            while (std::isspace(*p)) p++;
            const unsigned char* digits = p + ((*p == '-' || *p == '+') ? 1 : 0);
            if (!std::isdigit(*digits)) return count;
            values[count++] = parseInt(reinterpret_cast<const char*>(p));
            p = digits;
            while (std::isdigit(*p)) p++;
        } else if (static_cast<unsigned char>(*f) == *p) {
            p++;
        } else {
            return count;
        }
    }
    return count;
}

const char* matchCommand(const char* word, const char* line) {
    size_t length = std::strlen(word);
    if (std::strlen(line) < length) return nullptr;
    for (size_t i = 0; i < length; i++) {
        if (foldCase(static_cast<unsigned char>(word[i])) != foldCase(static_cast<unsigned char>(line[i]))) {
            return nullptr;
        }
    }
    const char* rest = line + length;
    while (std::isspace(static_cast<unsigned char>(*rest))) rest++;
    return rest;
}

bool readLine() {
    int stored = 0;
    for (;;) {
        int c = readInputChar();
        if (c == EOF) return false;
        if (stored < LINE_BUFFER_SIZE) lineBuffer[stored++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    lineBuffer[stored - 1] = '\0';
    if (stored >= 2 && lineBuffer[stored - 2] == '\r') lineBuffer[stored - 2] = '\0';
    return true;
}

void ensureBoard() {
    if (boardHeight != 0) return;
    boardWidth = boardHeight = 20;
    resetBoard();
}

int dispatchCommand() {
    const char* params;
    int x, y;
    if ((params = matchCommand("info", lineBuffer))) {
        // A new rule, thread count or memory size: the tables are made ready before a turn.
        if (handleInfo(params)) startWarmUp();
    } else if ((params = matchCommand("start", lineBuffer))) {
        int v[2] = {boardHeight, boardWidth};  // a failed parse keeps the size
        if (scanNumbers(params, "%d %d", v) == 1) v[1] = v[0];
        startWithSize(v[0], v[1]);
    } else if ((params = matchCommand("rectstart", lineBuffer))) {
        int v[2];
        if (scanNumbers(params, "%d ,%d", v) != 2) {
            writeLine("ERROR bad RECTSTART parameters");
        } else {
            startWithSize(v[1], v[0]);  // width first: it bounds x
        }
    } else if (matchCommand("restart", lineBuffer)) {
        stopForPositionChange();
        newGame();
    } else if ((params = matchCommand("turn", lineBuffer))) {
        markTurnAsked();
        stopForPositionChange();
        if (readSquare(params, &x, &y)) {
            playOpponentMove(x, y);
            startThinking();
        }
    } else if ((params = matchCommand("play", lineBuffer))) {
        stopForPositionChange();
        if (readSquare(params, &x, &y)) {
            playOwnMove(x, y);
            writeLine("%d,%d", x, y);
        }
    } else if (matchCommand("begin", lineBuffer)) {
        markTurnAsked();
        stopForPositionChange();
        startThinking();
    } else if (matchCommand("about", lineBuffer)) {
        writeLine("name=\"Zarvel\", author=\"Varnik\", version=\"%s\", country=\"Finland\", "
                  "www=\"https://zarvel.example.org\"",
                  ENGINE_VERSION);
    } else if (matchCommand("end", lineBuffer)) {
        return 1;
    } else if (matchCommand("stop", lineBuffer) || matchCommand("yxstop", lineBuffer)) {
        // The manager or the user wants the move now: a running turn ends as at a position
        // change and writes its best move so far; when idle there is nothing to answer.
        stopAndWait();
    } else if (matchCommand("board", lineBuffer)) {
        markTurnAsked();  // the block comes at once: the manager's clock runs from here
        stopForPositionChange();
        if (!readBoardBlock("")) return 1;
        startThinking();
    } else if ((params = matchCommand("yxboard", lineBuffer))) {
        stopForPositionChange();
        if (!readBoardBlock(params)) return 1;
    } else if (matchCommand("swap2board", lineBuffer)) {
        markTurnAsked();
        stopForPositionChange();
        if (!readSwap2Block()) return 1;
    } else if (matchCommand("yxshowforbid", lineBuffer)) {
        showForbidden();
    } else if (matchCommand("yxshowinfo", lineBuffer)) {
        showLimits();
    } else if ((params = matchCommand("yxnbest", lineBuffer))) {
        markTurnAsked();
        stopForPositionChange();
        int n = 0;
        if (scanNumbers(params, "%d", &n) != 1 || n < 1) {
            writeLine("ERROR YXNBEST takes the number of moves, 1 or more");
        } else {
            nbestPending.store(n);
            startThinking();
        }
    } else if (matchCommand("yxhashclear", lineBuffer)) {
        clearHash();
    } else if ((params = matchCommand("takeback", lineBuffer))) {
        stopForPositionChange();
        int v[2];
        if (scanNumbers(params, "%d,%d", v) == 2 && inRange(v[0], v[1]) && takeBack(v[0], v[1]) == 0) {
            writeLine("OK");
        } else {
            writeLine("ERROR bad coordinates");
        }
    } else {
        writeLine("UNKNOWN command");
    }
    return 0;
}

void runCommandLoop() {
    while (readLine()) {
        if (dispatchCommand() != 0) break;
    }
}
