// Hash tables of the node search and of the four-threat search, sized and cleared together and
// shared by every search thread without locks. A slot is read and written as whole 64-bit
// words, and its key word is the position key XORed with a mix of every data word but the age:
// an entry torn by two writers (words of one store beside words of another) matches nothing.
#pragma once
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "board/board.h"
#include "search/search.h"

// Bound codes of a main-table entry (bit 0: upper bound known, bit 1: lower bound known).
constexpr int BOUND_UPPER = 1;
constexpr int BOUND_LOWER = 2;
constexpr int BOUND_EXACT = 3;  // both bounds; an exact value when upper == lower

// One remembered node-search result as the search reads it; four to a 128-byte bucket.
struct TTEntry {
    uint64_t check;     // hashKey ^ entryFields(entry)
    int32_t upper;      // forced wins stored relative to the node (see ttStore)
    int32_t lower;
    int16_t depth;      // effective depth of the search that stored it
    int16_t age;        // game move number when stored or last found
    uint8_t bound;      // 0 = empty slot
    uint8_t validMoves;
    int16_t moves[3];   // best first; -1 = none
    int32_t unused;     // zero: the words of a slot are whole
};
static_assert(sizeof(TTEntry) == 32, "four entries must fill one 128-byte bucket");

// One four-threat search result; two to a bucket.
struct ThreatEntry {
    uint64_t check;   // hashKey ^ threatFields(value, budget); 0 with the rest = empty slot
    int32_t value;    // wins and losses stored relative to the node (budget)
    int16_t budget;   // 484 - t of the node that stored it: a deeper store outranks it
    int16_t age;
};
static_assert(sizeof(ThreatEntry) == 16, "two entries must fill one 32-byte bucket");

// A table slot as the threads share it: words, each loaded and stored at once.
template <int WORDS>
struct alignas(8 * WORDS) TableSlot {
    uint64_t word[WORDS];
};
using TTSlot = TableSlot<4>;
using ThreatSlot = TableSlot<2>;

template <class Entry, int WORDS>
inline Entry loadSlot(TableSlot<WORDS>& slot) {
    uint64_t words[WORDS];
    for (int i = 0; i < WORDS; i++) words[i] = std::atomic_ref<uint64_t>(slot.word[i]).load(std::memory_order_relaxed);
    Entry e;
    std::memcpy(&e, words, sizeof e);
    return e;
}

template <class Entry, int WORDS>
inline void storeSlot(TableSlot<WORDS>& slot, const Entry& e) {
    uint64_t words[WORDS];
    std::memcpy(words, &e, sizeof words);
    for (int i = 0; i < WORDS; i++) std::atomic_ref<uint64_t>(slot.word[i]).store(words[i], std::memory_order_relaxed);
}

// Sizes in buckets, powers of two: the main tables and the four threat tables.
struct HashSizes {
    int32_t mainBuckets;
    int32_t threatBuckets;
};

// Without a memory limit: 128 MiB of main tables and 64 MiB of threat tables.
constexpr HashSizes DEFAULT_HASH_SIZES = {524288, 524288};
// Floor when memory is short; tables this small are kept in static storage, so the engine
// always has working tables.
constexpr int32_t MIN_HASH_BUCKETS = 1024;
// Bytes per bucket: two main tables of four entries, four threat tables of two.
constexpr size_t MAIN_BYTES_PER_BUCKET = 2 * 4 * sizeof(TTEntry);
constexpr size_t THREAT_BYTES_PER_BUCKET = 4 * 2 * sizeof(ThreatEntry);

inline uint64_t hashBytes(HashSizes sizes) {
    return static_cast<uint64_t>(sizes.mainBuckets) * MAIN_BYTES_PER_BUCKET +
           static_cast<uint64_t>(sizes.threatBuckets) * THREAT_BYTES_PER_BUCKET;
}
// The largest sizes whose tables take at most the given bytes (the threat tables a quarter of
// the main tables' buckets to as many), never below MIN_HASH_BUCKETS nor above maxHashBytes().
HashSizes hashSizesFor(uint64_t bytes);
// The most the tables may take in this address space.
uint64_t maxHashBytes();

// The sizes the next preparation of the tables aims at (set between searches); after an
// allocation hashSizes holds the sizes actually obtained.
extern HashSizes wantedHashSizes;
extern HashSizes hashSizes;
extern TTSlot* hashTable[2];        // by side to move - 1
extern ThreatSlot* threatTable[4];  // by role * 2 + side - 1 (role 0 attacker, 1 defender)
// Move number of the game that entries are aged by: an entry stored or found within one
// move of it is recent. Set before every search, read by every search thread.
extern int32_t hashAge;

// Called by every rebuild of the board and before every search: (re)allocates the tables
// when wantedHashSizes differs from their size and clears them when the board is built for
// another rule or size than at the last clear. True when an allocation got less than wanted.
bool prepareHashTables();
// (Re)allocates the six tables to wantedHashSizes when they differ, halving while memory is
// short; new tables are cleared. True when fewer buckets than wanted.
bool allocateTables();
// Empties all six tables and remembers the rule and size they are filled under.
void clearTables();
// Writes every page of fresh tables once, before threads search them: the first write to a
// page faults it in, and faults from several threads at once queue in the kernel (two threads
// on fresh tables searched little more than one). A no-op once done, until the next clear.
// A stop request or the clock reaching the deadline (clockMs) ends it early.
void touchTables(int32_t deadline = INT32_MAX);

// Main table. ttProbe returns a usable value or NO_SCORE and, where it says so, writes
// min(n, 3) moves (-1 included) into moves. ttStore keeps the deeper result and merges
// bounds and moves; ttReplace (the root's store) overwrites the chosen slot whatever it holds.
int32_t ttProbe(int depth, int alpha, int beta, int side, uint64_t key, int* moves, int n);
void ttStore(uint64_t key, int depth, int value, int bound, int side, int m0, int m1, int m2);
void ttReplace(uint64_t key, int depth, int value, int bound, int side, int m0, int m1, int m2);
// The best move stored for the position, or -1; reads without touching the entry's age.
int ttBestMove(int side, uint64_t key);

inline TTSlot* ttBucket(int side, uint64_t key) {
    return hashTable[side - 1] + ((key & static_cast<uint32_t>(hashSizes.mainBuckets - 1)) << 2);
}

// The check word of an entry as its own fields say it should be, without the key: every
// data word but the age, each turned by its own amount so that no two changes cancel.
inline uint64_t entryFields(const TTEntry& e) {
    uint64_t words[4];
    std::memcpy(words, &e, sizeof words);
    constexpr uint64_t AGE_BITS = uint64_t{0xFFFF} << 16;
    return words[1] ^ std::rotl(words[2] & ~AGE_BITS, 21) ^ std::rotl(words[3], 42);
}

inline uint64_t threatFields(int32_t value, int16_t budget) {
    return static_cast<uint64_t>(static_cast<int64_t>(value)) ^
           (static_cast<uint64_t>(static_cast<uint16_t>(budget)) << 40);
}

// Four-threat search table access. A value is stored relative to its node: with budget
// b = 484 - t, a win w >= MATE_BOUND is kept as w - b, a loss as w + b, so the same position
// met at another ply reads back the win length from there.
inline ThreatSlot* threatBucket(int role, int side, uint64_t key) {
    return threatTable[role * 2 + side - 1] + ((key & static_cast<uint32_t>(hashSizes.threatBuckets - 1)) << 1);
}

inline bool threatMatches(const ThreatEntry& e, uint64_t key) { return (e.check ^ threatFields(e.value, e.budget)) == key; }

// Stored value of the position key for the node at ply t, or NO_SCORE.
inline int32_t threatProbe(int role, int side, uint64_t key, int t) {
    ThreatSlot* bucket = threatBucket(role, side, key);
    for (int i = 0; i < 2; i++) {
        ThreatEntry e = loadSlot<ThreatEntry>(bucket[i]);
        if (!threatMatches(e, key)) continue;
        if (e.age != hashAge) {
            e.age = static_cast<int16_t>(hashAge);
            storeSlot(bucket[i], e);
        }
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
    ThreatSlot* slot = threatBucket(role, side, key);
    ThreatEntry e = loadSlot<ThreatEntry>(*slot);
    int b = 484 - t;
    int now = hashAge;
    if (!threatMatches(e, key) && e.check != 0 && e.budget > b && e.age - now <= 1 && now - e.age <= 1) slot++;
    e.value = value >= MATE_BOUND ? value - b : (value <= -MATE_BOUND ? value + b : value);
    e.budget = static_cast<int16_t>(b);
    e.age = static_cast<int16_t>(now);
    e.check = key ^ threatFields(e.value, e.budget);
    storeSlot(*slot, e);
}
