// The think thread and the turn driver: one turn per wake-up, stopped on request by the
// main thread, always ending with the engine's move line.
#pragma once
#include <atomic>
#include <cstdint>

#include "search/threads.h"

extern std::atomic<int32_t> thinkCommand;  // 0 = run one turn, -1 = quit
// Set by YXNBEST before it wakes the think thread: that wake-up finds this many best moves
// instead of playing a turn.
extern std::atomic<int32_t> nbestPending;

extern int32_t lastScore;    // value of the last completed search, kept to the next turn

// Main thread: wakes the think thread for one turn (or for the quit command).
void startThinking();
// Main thread: asks a running turn to stop and blocks until the think thread is idle.
void stopAndWait();
// Main thread, after the INFO keys that decide the tables (START and RESTART warm up
// themselves): when the think thread is idle, it warms up (see warmUp); a command that
// changes the position stops what can stop of it and waits for the rest.
void startWarmUp();
// Main thread: the clock value when a turn (or a Swap2 or YXNBEST answer) was asked for. Its
// clock runs from there, so that a warm-up it waits for counts against it.
void markTurnAsked();
// Think thread: startSearchClock for the whole think, running from when it was asked for.
void startAskedClock(SearchWorker& main);
// Body of the think thread.
void thinkLoop();

void turnDriver();
// Think thread: the n best moves of the position, each searched with the earlier ones left
// out, within the turn's time; INFO blocks as show_detail asks, then the best move's line.
// The move is not played: the position stays as it was.
void nbestDriver(int n);
// The limits of depth and nodes that INFO max_depth and max_node set; a think sets
// unlimitedTime from its settings (a negative timeout_turn or timeout_match: no limit).
SearchLimits settingLimits();
void setTimeMode();
// One-ply look at every free square but the excluded; 1 when there was none, else 0
// (choice in *move).
int preselectMove(int side, int* move, const int* excluded = nullptr, int excludedCount = 0);
// The square that continues a proven win; -1 when there is none.
int followWin(int side);
// Renju: whether neither player can make a five any more.
bool renjuDrawn();
