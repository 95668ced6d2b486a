#include "protocol/analysis.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "board/forbidden.h"
#include "board/tables.h"
#include "protocol/commands.h"
#include "protocol/game.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "protocol/think.h"
#include "tactics/hashtable.h"

namespace {

constexpr int MAX_THREADS = 64;
constexpr int HASH_SIZE_LOG2_64BIT = 22;  // 4 GiB
constexpr int HASH_SIZE_LOG2_32BIT = 20;  // 1 GiB: half of what a 32-bit process can address
constexpr int SQUARE_DIGITS = 4;          // xxyy

}  // namespace

int maxThreadCount() {
    int hardware = static_cast<int>(std::thread::hardware_concurrency());  // 0 when unknown
    return std::clamp(hardware, 1, MAX_THREADS);
}

int maxHashSizeLog2() { return sizeof(void*) >= 8 ? HASH_SIZE_LOG2_64BIT : HASH_SIZE_LOG2_32BIT; }

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
                if (g_board.cell[s] != EMPTY || !isForbidden(s)) continue;
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
