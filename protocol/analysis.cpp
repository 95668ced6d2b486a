#include "protocol/analysis.h"

#include <bit>
#include <cstdio>
#include <cstring>

#include "board/forbidden.h"
#include "board/tables.h"
#include "protocol/commands.h"
#include "protocol/game.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "protocol/think.h"
#include "search/hashtable.h"
#include "search/threads.h"

namespace {

constexpr int SQUARE_DIGITS = 4;  // xxyy

}  // namespace

int maxHashSizeLog2() { return std::bit_width(maxHashBytes() >> 10) - 1; }

void showForbidden() {
    // isForbidden plays on the board: no turn may be searching it.
    stopAndWait();
    ensureBoard();
    char text[MAX_STONES * SQUARE_DIGITS + 16] = "FORBID ";
    size_t length = std::strlen(text);
    if (rule.load() == RULE_RENJU && recordCount % 2 == 0) {
        if (tablesRule != RULE_RENJU) rebuildBoard(RULE_RENJU);
        for (int y = 0; y < boardHeight; y++) {
            for (int x = 0; x < boardWidth; x++) {
                int s = x * 32 + y;
                if (g_board.cell[s] != EMPTY || !isForbidden(g_board, s)) continue;
                length += std::snprintf(text + length, sizeof text - length, "%02d%02d", x, y);
            }
        }
    }
    text[length++] = '.';
    text[length] = '\0';
    writeLine("%s", text);
}

void showLimits() {
    writeLine("MESSAGE INFO MAX_THREAD_NUM %d", maxThreadCount());
    writeLine("MESSAGE INFO MAX_HASH_SIZE %d", maxHashSizeLog2());
}

void clearHash() {
    stopAndWait();
    // The tables come with the first build of the board; before it there is nothing to empty.
    if (hashTable[0] != nullptr) clearTables();
}
