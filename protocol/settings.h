// INFO settings.
#pragma once
#include <atomic>
#include <cstdint>

#include "search/timecontrol.h"

// Written by INFO on the main thread at any time, read by the think thread without a lock.
// The two time settings live with the time budget of the search.
// Bytes and KiB may pass 2 GiB.
using WideSetting = std::atomic<int64_t>;
extern WideSetting maxMemory;  // bytes the whole process may take; 0 (or less) = no limit
extern WideSetting hashSize;   // KiB the hash tables may take; 0 (or less) = the default sizes
extern Setting threadNum;      // search threads; clamped to what the machine has when a search starts
extern Setting timeoutMatch;
extern Setting gameType;
extern Setting rule;         // 0 free-style, 1 standard, 2 Renju
// From board GUIs, read when a think starts. Depth in plies, nodes of the main search thread;
// 0 or below: no limit.
extern Setting showDetail;   // bit 0: realtime lines, bit 1: INFO blocks; 0 = nothing more
extern Setting maxDepth;
extern Setting maxNode;
extern char dataFolder[1024];

// Decimal integer as atoi reads it, saturated to the 32-bit range instead of overflowing.
int32_t parseInt(const char* text);
// The same, saturated to the 64-bit range.
int64_t parseInt64(const char* text);

// Stores the setting(s) named in the text after "INFO"; never replies. Keys it does not know
// are ignored, among them those of board GUIs that Zarvel has no use for (caution_factor,
// pondering, time_increment, nbestsym, checkmate, vcthread, start_depth, usedatabase,
// thread_split_depth, strength, swapable). True when a setting that decides the tables
// (rule, threads, memory) was among them.
bool handleInfo(const char* text);
