#include "search/search.h"

#include <cstring>

#include "search/timecontrol.h"

MoveEntry plyMoves[MAX_PLY][MAX_STONES];
uint64_t searchedMark[MAX_PLY][SQUARE_SLOTS];
uint64_t plyVisit[MAX_PLY];
KillerSlot killerTable[MAX_PLY][2];
int32_t rootDepth = 0;
int32_t bestX = -1;
int32_t bestY = -1;

void resetSearchState() {
    std::memset(searchedMark, 0, sizeof searchedMark);
    std::memset(plyVisit, 0, sizeof plyVisit);
    std::memset(killerTable, 0, sizeof killerTable);
    rootDepth = 0;
    g_abort = 0;
}
