// Search state shared by the root search, the node search and the four-threat search: the
// score scale, the per-ply move lists and marks, the killers and the turn's result.
#pragma once
#include <cstdint>

#include "board/tables.h"

// Score scale: negamax values for the side to move; ordinary evaluations stay within a few
// thousand.
constexpr int32_t WIN_SCORE = 10000000;  // + remaining depth for a win found at once
// Values at least this far from 0 are forced wins (positive) or losses (negative):
// WIN_SCORE - 2 * 484, below every win the searches can report.
constexpr int32_t MATE_BOUND = 9999032;
constexpr int32_t DECIDED = 9000000;     // beyond it a value counts as decided in move loops
constexpr int32_t NO_SCORE = 20000000;   // a hash probe found nothing usable
constexpr int32_t MINUS_INF = -1000000000;

constexpr int MAX_PLY = MAX_STONES;  // every ply but internal deepening places a stone

// One entry of a move list: sort key and square.
struct MoveEntry {
    int32_t key;
    int32_t move;
};

// A quiet move that cut off at a remaining depth, with the shape word it had then for the
// side that played it (0 = empty slot): it is tried again only where it means the same.
struct KillerSlot {
    int32_t move;
    uint32_t shape;
};

extern MoveEntry plyMoves[MAX_PLY][MAX_STONES];
extern uint64_t searchedMark[MAX_PLY][SQUARE_SLOTS];
extern uint64_t plyVisit[MAX_PLY];
extern KillerSlot killerTable[MAX_PLY][2];  // by remaining depth; slot 1 is the newer
extern int32_t rootDepth;  // depth of the current iteration; ply = rootDepth - depth

// The turn's result: the move the engine will play (bestX = -1: none yet).
extern int32_t bestX;
extern int32_t bestY;

// Killer entry of a remaining depth; depths below 0 (nodes kept alive by extensions) share
// entry 0.
inline KillerSlot* killersAt(int depth) {
    return killerTable[depth < 0 ? 0 : (depth >= MAX_PLY ? MAX_PLY - 1 : depth)];
}

// A new node at ply: from now on a move whose mark equals the ply's counter has been
// searched at this node.
inline void enterPly(int ply) {
    if (++plyVisit[ply] > (uint64_t{1} << 63)) {
        for (uint64_t& mark : searchedMark[ply]) mark = 0;
        plyVisit[ply] = 1;
    }
}
inline bool searchedAt(int ply, int s) { return searchedMark[ply][s] == plyVisit[ply]; }
inline void markSearched(int ply, int s) { searchedMark[ply][s] = plyVisit[ply]; }

// Zeroes the per-ply marks, the killers and the turn results that a new board invalidates.
void resetSearchState();
