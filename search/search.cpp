#include "search/search.h"

#include <cstring>

#include "search/timecontrol.h"

MoveEntry plyMoves[MAX_PLY][MAX_STONES];
uint64_t searchedMark[MAX_PLY][SQUARE_SLOTS];
uint64_t plyVisit[MAX_PLY];
int32_t rootDepth = 0;

void resetSearchState() {
    std::memset(searchedMark, 0, sizeof searchedMark);
    std::memset(plyVisit, 0, sizeof plyVisit);
    rootDepth = 0;
    g_abort = 0;
}
