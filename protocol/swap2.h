// Swap2 openings as Gomocup's Swap2 tournaments play them (SWAP2BOARD): the engine proposes
// three stones, or given three or five chooses a side or adds stones.
#pragma once
#include <atomic>

// Set by SWAP2BOARD before it wakes the think thread: that wake-up answers the opening
// instead of playing a turn.
extern std::atomic<bool> swap2Pending;

// Main thread: reads the block after SWAP2BOARD up to DONE; when it is a 0, 3 or 5 stone
// opening, makes it the game and starts the answer on the think thread, otherwise writes an
// ERROR line and leaves the game as it was. False when input ended inside the block.
bool readSwap2Block();

// Think thread: searches the opening in the game record within the turn's time and writes
// the answer: three stones, SWAP, one stone or two. The record then holds the stones on the
// board after the answer, so the side to move is the one that plays next.
void swap2Driver();
