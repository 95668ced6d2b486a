// The board's "perft": recompute everything that make and unmake keep incrementally from the
// cells alone and compare. Tests call it after every move of long random games; a debug
// build may assert it. Slow (a whole-board pass), never on the search path.
#pragma once
#include <string>

struct BoardBase;

// After full moves only: cells, line words, hashKey, stones, every shape and room nibble,
// roomSum, score, evalSum and all threat sets including T_DOUBLE. A square keeps the reset's
// shape and room in a direction until a refresh of that line reaches it, so those are
// accepted wherever no stone or block lies within updateReach on the line. A light pair that
// reached a square still holding the reset's code leaves the table's code there with the
// score of the old one (the light refresh never rescores): this check reports that too.
// On failure describes the first mismatch in *failure (when not null).
bool checkBoardConsistency(const BoardBase& b, std::string* failure);

// The part that stays exact while light moves are on the board: cells, line words, hashKey,
// stones, shape nibbles and the classes T_FIVE..T_THREE.
bool checkBoardShapes(const BoardBase& b, std::string* failure);
