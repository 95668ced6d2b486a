#include "search/search.h"

#include <cstring>

#include "protocol/settings.h"
#include "protocol/think.h"

MoveEntry plyMoves[MAX_PLY][MAX_STONES];
uint64_t searchedMark[MAX_PLY][SQUARE_SLOTS];
uint64_t plyVisit[MAX_PLY];
int32_t rootDepth = 0;

void resetSearchState() {
    std::memset(searchedMark, 0, sizeof searchedMark);
    std::memset(plyVisit, 0, sizeof plyVisit);
    lastScore = 0;
    rootDepth = 0;
    g_abort = 0;
}
