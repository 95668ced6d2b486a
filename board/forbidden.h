// Renju: the first player may not make a double three, a double four or an overline,
// unless the same move makes exactly five.
#pragma once

// 1 when the first player's move on the board square s is forbidden, 0 otherwise. Valid
// only while the board is built for Renju. Leaves the board exactly as it found it.
struct BoardBase;
int isForbidden(BoardBase& b, int s);
