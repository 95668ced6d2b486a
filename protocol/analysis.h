// Commands of board GUIs that use the engine to analyse: the forbidden squares of a Renju
// position, the engine's limits, emptying the hash tables.
#pragma once

// log2 of the largest hash size in KiB that INFO hash_size accepts: what the address space of
// this build can hold.
int maxHashSizeLog2();

// YXSHOWFORBID: "FORBID " and xxyy for every square the first player may not take, then ".".
void showForbidden();
// YXSHOWINFO: the two limits as MESSAGE INFO lines.
void showLimits();
// YXHASHCLEAR: empties the hash tables once they exist; no reply.
void clearHash();
