// Static evaluation of a quiet position for the side to move.
#pragma once
#include <cstdint>

#include "board/board.h"

// side is the player to move (1 or 2). The board is left as found (the Renju test inside
// plays light moves on it).
int32_t evaluate(BoardBase& b, int side);
