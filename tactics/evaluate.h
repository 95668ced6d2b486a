// Static evaluation of a quiet position for the side to move.
#pragma once
#include <cstdint>

// side is the player to move (1 or 2); depth is the caller's remaining depth.
int32_t evaluate(int depth, int side);
