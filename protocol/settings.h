// INFO settings, the per-move time budget and the stop check of the searches.
#pragma once
#include <atomic>
#include <cstdint>

// Written by INFO on the main thread at any time, read by the think thread without a lock.
using Setting = std::atomic<int32_t>;
extern Setting maxMemory;
extern Setting timeoutMatch;
extern Setting timeoutTurn;  // milliseconds; upper bound of a move's budget
extern Setting timeLeft;     // milliseconds; base of a move's budget
extern Setting gameType;
extern Setting rule;         // 0 free-style, 1 standard, 2 Renju
extern char dataFolder[1024];

extern std::atomic<int32_t> stopRequested;  // above 0: the main thread wants the search to end

extern int32_t timeLimit;        // budget of the current move, milliseconds
extern int32_t searchStartTime;  // clock value when the current search began
extern int32_t g_abort;          // set by the first stop check that fires
extern int64_t g_nodeCount;
constexpr int32_t nodeLimit = 2000000000;  // in units of 1024 nodes
extern int32_t largeValue;
extern int32_t scoreDropped;
extern int32_t extensionFlag;
extern bool plentyOfTime;

// Wall-clock milliseconds since the process started, from a monotonic clock.
int32_t clockMs();

// Decimal integer as atoi reads it, saturated to the 32-bit range instead of overflowing.
int32_t parseInt(const char* text);

// Stores the setting(s) named in the text after "INFO"; never replies.
void handleInfo(const char* text);

void computeTimeLimit();

// The check the searches run every 1024 nodes: true means stop (g_abort is then set).
bool stopCheck();
