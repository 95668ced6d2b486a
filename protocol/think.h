// The think thread and the turn driver: one turn per wake-up, stopped on request by the
// main thread, always ending with the engine's move line.
#pragma once
#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> thinkCommand;  // 0 = run one turn, -1 = quit

extern int32_t lastScore;    // value of the last completed search, kept to the next turn

// Main thread: wakes the think thread for one turn (or for the quit command).
void startThinking();
// Main thread: asks a running turn to stop and blocks until the think thread is idle.
void stopAndWait();
// Body of the think thread.
void thinkLoop();

void turnDriver();
// One-ply look at every free square; 1 when there was none, else 0 (choice in *move).
int preselectMove(int side, int* move);
// The square that continues a proven win; -1 when there is none.
int followWin(int side);
// Renju: whether neither player can make a five any more.
bool renjuDrawn();
