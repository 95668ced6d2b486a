// Search state shared by the node search and the four-threat search: per-ply move lists
// and the marks of moves already searched at a node.
#pragma once
#include <cstdint>

#include "board/tables.h"

constexpr int MAX_PLY = MAX_STONES;  // every ply places a stone

// One entry of a move list: sort key and square.
struct MoveEntry {
    int32_t key;
    int32_t move;
};

extern MoveEntry plyMoves[MAX_PLY][MAX_STONES];
extern uint64_t searchedMark[MAX_PLY][SQUARE_SLOTS];
extern uint64_t plyVisit[MAX_PLY];
extern int32_t rootDepth;  // depth of the current iteration; ply = rootDepth - depth

// Ply of a node clamped into the per-ply arrays.
inline int plyIndex(int depth) {
    int ply = rootDepth - depth;
    return ply < 0 ? 0 : (ply >= MAX_PLY ? MAX_PLY - 1 : ply);
}

// Zeroes the per-ply marks and the turn results that a new board invalidates.
void resetSearchState();
