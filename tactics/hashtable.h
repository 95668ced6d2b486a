// Hash tables of the node search and of the four-threat search, sized and cleared together.
// Each entry carries its own integrity check: the key word is the position key XORed with
// the entry's data, so an entry with any part overwritten by another store matches nothing.
#pragma once
#include <cstddef>
#include <cstdint>

#include "board/board.h"
#include "search/search.h"


// Bound codes of a main-table entry (bit 0: upper bound known, bit 1: lower bound known).
constexpr int BOUND_UPPER = 1;
constexpr int BOUND_LOWER = 2;
constexpr int BOUND_EXACT = 3;  // both bounds; an exact value when upper == lower

// One remembered node-search result; four to a 128-byte bucket. The alignment keeps the
// size at 32 bytes where 64-bit fields are only 4-byte aligned (32-bit x86).
struct alignas(32) TTEntry {
    uint64_t check;     // hashKey ^ (upper << 36) ^ (lower << 8) ^ (depth << 2) ^ bound
    int32_t upper;      // forced wins stored relative to the node (see ttStore)
    int32_t lower;
    int16_t depth;      // effective depth of the search that stored it
    int16_t age;        // game move number when stored or last found
    uint8_t bound;      // 0 = empty slot
    uint8_t validMoves;
    int16_t moves[3];   // best first; -1 = none
};
static_assert(sizeof(TTEntry) == 32, "four entries must fill one 128-byte bucket");

// One four-threat search result; two to a bucket.
struct alignas(16) ThreatEntry {
    uint64_t check;   // hashKey ^ value (sign-extended); 0 = empty slot
    int32_t value;    // wins and losses stored relative to the node (budget)
    int16_t budget;   // 484 - t of the node that stored it: a deeper store outranks it
    int16_t age;
};
static_assert(sizeof(ThreatEntry) == 16, "two entries must fill one 32-byte bucket");

constexpr int32_t WANTED_HASH_BUCKETS = 524288;
// Floor of the fallback when memory is short; tables this small are kept in static storage,
// so the engine always has working tables.
constexpr int32_t MIN_HASH_BUCKETS = 1024;
// Bytes the six tables take per bucket: two main tables of four entries, four threat
// tables of two.
constexpr size_t HASH_BYTES_PER_BUCKET = 2 * 4 * sizeof(TTEntry) + 4 * 2 * sizeof(ThreatEntry);

// Buckets of every table, a power of two. Set it and reset the board to resize; after an
// allocation it holds the size actually obtained.
extern int32_t hashBuckets;
extern TTEntry* hashTable[2];        // by side to move - 1
extern ThreatEntry* threatTable[4];  // by role * 2 + side - 1 (role 0 attacker, 1 defender)
// The most the six tables may take, in bytes; 0 = as much as the allocator gives. Lets a
// host with a known memory budget (and the tests) see the fallback sizes.
extern size_t hashMemoryLimit;
// Move number of the game that entries are aged by: an entry stored or found within one
// move of it is recent. Set before every search.
extern int32_t hashAge;

// Called by every rebuild of the board: allocates the tables when hashBuckets changed (the
// first time: always) and clears them when the board is built for another rule than at the
// last clear. True when a new allocation got fewer buckets than wanted.
bool prepareHashTables();
// (Re)allocates the six tables when hashBuckets differs from their size, halving the size
// while memory is short; new tables are cleared. True when fewer buckets than wanted.
bool allocateTables();
// Empties all six tables and remembers tablesRule as the rule they are filled under.
void clearTables();

// Main table. ttProbe returns a usable value or NO_SCORE and, where it says so, writes
// min(n, 3) moves (-1 included) into moves. ttStore keeps the deeper result and merges
// bounds and moves; ttReplace (the root's store) overwrites the chosen slot whatever it holds.
int32_t ttProbe(int depth, int alpha, int beta, int side, uint64_t key, int* moves, int n);
void ttStore(int depth, int value, int bound, int side, int m0, int m1, int m2);
void ttReplace(int depth, int value, int bound, int side, int m0, int m1, int m2);

// The check word of a main-table entry as its own fields say it should be, without the key.
inline uint64_t entryFields(const TTEntry& e) {
    return (static_cast<uint64_t>(static_cast<int64_t>(e.upper)) << 36) ^
           (static_cast<uint64_t>(static_cast<int64_t>(e.lower)) << 8) ^
           (static_cast<uint64_t>(static_cast<int64_t>(e.depth)) << 2) ^ e.bound;
}

inline uint64_t threatFields(int32_t value) {
    return static_cast<uint64_t>(static_cast<int64_t>(value));
}

// Four-threat search table access. A value is stored relative to its node: with budget
// b = 484 - t, a win w >= MATE_BOUND is kept as w - b, a loss as w + b, so the same position
// met at another ply reads back the win length from there.
inline ThreatEntry* threatBucket(int role, int side, uint64_t key) {
    return threatTable[role * 2 + side - 1] + ((key & static_cast<uint32_t>(hashBuckets - 1)) << 1);
}

// Stored value of the position key for the node at ply t, or NO_SCORE.
inline int32_t threatProbe(int role, int side, uint64_t key, int t) {
    ThreatEntry* bucket = threatBucket(role, side, key);
    for (int i = 0; i < 2; i++) {
        ThreatEntry& e = bucket[i];
        if ((e.check ^ threatFields(e.value)) != key) continue;
        e.age = static_cast<int16_t>(hashAge);
        int32_t v = e.value;
        if (v == NO_SCORE) return NO_SCORE;
        int b = 484 - t;
        return v >= MATE_BOUND ? v + b : (v <= -MATE_BOUND ? v - b : v);
    }
    return NO_SCORE;
}

// Stores the result of the node at ply t. Entry 0 is kept for the deepest recent result of
// another position; anything else in it is overwritten.
inline void threatStore(int role, int side, uint64_t key, int32_t value, int t) {
    ThreatEntry* e = threatBucket(role, side, key);
    int b = 484 - t;
    int now = hashAge;
    if ((e->check ^ threatFields(e->value)) != key && e->check != 0 && e->budget > b &&
        e->age - now <= 1 && now - e->age <= 1) {
        e++;
    }
    int32_t stored = value >= MATE_BOUND ? value - b : (value <= -MATE_BOUND ? value + b : value);
    e->value = stored;
    e->budget = static_cast<int16_t>(b);
    e->age = static_cast<int16_t>(now);
    e->check = key ^ threatFields(stored);
}
