#include "search/hashtable.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "search/timecontrol.h"

HashSizes wantedHashSizes = DEFAULT_HASH_SIZES;
HashSizes hashSizes = DEFAULT_HASH_SIZES;
TTSlot* hashTable[2] = {nullptr, nullptr};
ThreatSlot* threatTable[4] = {nullptr, nullptr, nullptr, nullptr};
int32_t hashAge = 0;

namespace {

constexpr int NO_RULE = -2;  // tablesRule is -1 while nothing is built, so not that
constexpr uintptr_t BUCKET_ALIGN = 64;  // a bucket never straddles more lines than it must
constexpr size_t PAGE_BYTES = 4096;     // the smallest page of the machines the engine runs on
constexpr size_t TOUCH_CHECK_BYTES = size_t{1} << 20;  // touched between two looks at a stop request
// A 32-bit process has about 3 GiB of addresses for everything; 64-bit ones are limited by
// the bucket index (32 bits).
constexpr uint64_t MAX_HASH_BYTES_32 = uint64_t{1} << 30;
constexpr uint64_t MAX_HASH_BYTES_64 = uint64_t{1} << 32;

HashSizes tableSizes = {0, 0};  // sizes the tables were made with; 0 = none yet
bool tablesTouched = false;     // every page of the tables written once since they were made
int clearedRule = NO_RULE;      // rule the tables are filled under
int clearedWidth = 0;           // and the board's size
int clearedHeight = 0;
void* rawBlocks[6] = {};        // what calloc returned, for free

// Last resort when not even the smallest tables can be allocated.
TTSlot reserveMain[2][MIN_HASH_BUCKETS * 4];
ThreatSlot reserveThreat[4][MIN_HASH_BUCKETS * 2];

bool sameSizes(HashSizes a, HashSizes b) { return a.mainBuckets == b.mainBuckets && a.threatBuckets == b.threatBuckets; }

// Zeroed memory: fresh pages cost nothing until an entry is written, so a new table needs no
// clearing pass.
void* allocateBlock(size_t bytes, void** raw) {
    *raw = std::calloc(bytes + BUCKET_ALIGN, 1);
    if (*raw == nullptr) return nullptr;
    uintptr_t start = (reinterpret_cast<uintptr_t>(*raw) + BUCKET_ALIGN - 1) & ~(BUCKET_ALIGN - 1);
    return reinterpret_cast<void*>(start);
}

void releaseTables() {
    for (void*& raw : rawBlocks) {
        std::free(raw);
        raw = nullptr;
    }
    for (TTSlot*& t : hashTable) t = nullptr;
    for (ThreatSlot*& t : threatTable) t = nullptr;
    tableSizes = {0, 0};
}

// All six tables of the given sizes, or none of them.
bool tryAllocate(HashSizes sizes) {
    size_t mainCount = static_cast<size_t>(sizes.mainBuckets), threatCount = static_cast<size_t>(sizes.threatBuckets);
    bool complete = true;
    for (int i = 0; i < 2; i++) {
        hashTable[i] = static_cast<TTSlot*>(allocateBlock(mainCount * 4 * sizeof(TTSlot), &rawBlocks[i]));
        complete = complete && hashTable[i] != nullptr;
    }
    for (int i = 0; i < 4; i++) {
        threatTable[i] = static_cast<ThreatSlot*>(allocateBlock(threatCount * 2 * sizeof(ThreatSlot), &rawBlocks[2 + i]));
        complete = complete && threatTable[i] != nullptr;
    }
    if (!complete) releaseTables();
    tablesTouched = false;
    return complete;
}

void rememberCleared() {
    clearedRule = tablesRule;
    clearedWidth = boardWidth;
    clearedHeight = boardHeight;
}

inline int32_t toStored(int32_t value, int depth) {
    return value >= MATE_BOUND ? value - depth : (value <= -MATE_BOUND ? value + depth : value);
}

inline int32_t fromStored(int32_t value, int depth) {
    return value >= MATE_BOUND ? value + depth : (value <= -MATE_BOUND ? value - depth : value);
}

inline bool forcedWin(int32_t stored) { return stored >= MATE_BOUND || stored <= -MATE_BOUND; }

inline bool entryMatches(const TTEntry& e, uint64_t key) {
    return e.bound != 0 && (e.check ^ entryFields(e)) == key;
}

inline bool recent(const TTEntry& e, int now) { return e.age - now <= 1 && now - e.age <= 1; }

void countMoves(TTEntry& e) {
    e.validMoves = static_cast<uint8_t>((e.moves[0] != -1) + (e.moves[1] != -1) + (e.moves[2] != -1));
}

void writeEntry(TTEntry& e, int depth, int32_t stored, int bound, int m0, int m1, int m2, int now) {
    e.moves[0] = static_cast<int16_t>(m0);
    e.moves[1] = static_cast<int16_t>(m1);
    e.moves[2] = static_cast<int16_t>(m2);
    countMoves(e);
    e.depth = static_cast<int16_t>(depth);
    e.age = static_cast<int16_t>(now);
    e.bound = static_cast<uint8_t>(bound);
    e.upper = e.lower = stored;
    e.unused = 0;
}

// New best moves in front, the old ones kept behind them as far as there is room.
void mergeMoves(TTEntry& e, int m0, int m1, int m2) {
    int16_t* old = e.moves;
    if (m2 != -1) {
        old[0] = static_cast<int16_t>(m0);
        old[1] = static_cast<int16_t>(m1);
        old[2] = static_cast<int16_t>(m2);
    } else if (m1 != -1) {
        int third = -1;
        for (int i = 0; i < 3; i++) {
            if (old[i] != m0 && old[i] != m1) {
                third = old[i];
                break;
            }
        }
        old[0] = static_cast<int16_t>(m0);
        old[1] = static_cast<int16_t>(m1);
        old[2] = static_cast<int16_t>(third);
    } else if (m0 != -1 && m0 != old[0]) {
        int16_t second = old[0];
        int16_t third = old[1] != m0 ? old[1] : old[2];
        old[0] = static_cast<int16_t>(m0);
        old[1] = second;
        old[2] = third;
    }
    countMoves(e);
}

// Slot for the current position among a bucket's entries: an empty one, the position's own
// entry (matched set), else the last entry that is not recent, else the cheapest recent one.
int chooseSlot(const TTEntry* entries, uint64_t key, int now, bool* matched) {
    int victim = 0, stale = -1;
    *matched = false;
    for (int i = 0; i < 4; i++) {
        const TTEntry& e = entries[i];
        if (e.bound == 0) return i;
        if (entryMatches(e, key)) {
            *matched = true;
            return i;
        }
        if (!recent(e, now)) {
            stale = i;
            continue;
        }
        if (stale >= 0) continue;
        // An entry of this move or an exact one is worth keeping; a shallow one is not.
        const TTEntry& v = entries[victim];
        int score = (v.age == now ? 2 : 0) + ((e.age == now || e.bound == BOUND_EXACT) ? -2 : 0) +
                    (e.depth < v.depth ? 1 : 0);
        if (score > 0) victim = i;
    }
    return stale >= 0 ? stale : victim;
}

void loadBucket(TTSlot* bucket, TTEntry* entries) {
    for (int i = 0; i < 4; i++) entries[i] = loadSlot<TTEntry>(bucket[i]);
}

void store(TTSlot& slot, TTEntry& e, uint64_t key) {
    e.check = key ^ entryFields(e);
    storeSlot(slot, e);
}

// One byte of every page written back as it is: the page is faulted in, entries stay. A stop
// request or the deadline ends it (false) as promptly as a search's stop check would.
bool touchPages(void* block, size_t bytes, int32_t deadline) {
    volatile unsigned char* start = static_cast<unsigned char*>(block);
    for (size_t offset = 0; offset < bytes; offset += PAGE_BYTES) {
        if (offset % TOUCH_CHECK_BYTES == 0 && (stopRequested.load() > 0 || clockMs() - deadline >= 0)) return false;
        start[offset] = start[offset];
    }
    return true;
}

}  // namespace

void touchTables(int32_t deadline) {
    if (tablesTouched || hashTable[0] == nullptr) return;
    bool whole = true;
    for (TTSlot* t : hashTable) whole = whole && touchPages(t, tableSizes.mainBuckets * 4 * sizeof(TTSlot), deadline);
    for (ThreatSlot* t : threatTable) {
        whole = whole && touchPages(t, tableSizes.threatBuckets * 2 * sizeof(ThreatSlot), deadline);
    }
    tablesTouched = whole;  // stopped early: the next search goes on (touched pages cost nothing)
}

uint64_t maxHashBytes() { return sizeof(void*) == 4 ? MAX_HASH_BYTES_32 : MAX_HASH_BYTES_64; }

HashSizes hashSizesFor(uint64_t bytes) {
    bytes = std::min(bytes, maxHashBytes());
    HashSizes best = {MIN_HASH_BUCKETS, MIN_HASH_BUCKETS};
    // The main tables as large as fit with threat tables of a quarter of their buckets, the
    // threat tables then as large as fit beside them, up to as many buckets.
    for (int32_t main = MIN_HASH_BUCKETS; hashBytes({main, std::max(main / 4, MIN_HASH_BUCKETS)}) <= bytes; main *= 2) {
        best = {main, std::max(main / 4, MIN_HASH_BUCKETS)};
        for (int32_t threat = main / 2; threat <= main && hashBytes({main, threat}) <= bytes; threat *= 2) {
            best.threatBuckets = threat;
        }
    }
    return best;
}

void clearTables() {
    // Used tables are given back and taken anew: fresh memory is zero and costs nothing until
    // written, where clearing 192 MiB by hand takes the better part of a second, and a rule
    // change comes right before a turn.
    if (rawBlocks[0] != nullptr) {
        HashSizes sizes = tableSizes;
        releaseTables();
        if (tryAllocate(sizes)) {
            tableSizes = sizes;
            rememberCleared();
            return;
        }
        HashSizes wanted = wantedHashSizes;
        wantedHashSizes = sizes;
        allocateTables();  // smaller fresh tables, or the static reserve cleared by hand
        wantedHashSizes = wanted;
        return;
    }
    if (hashTable[0] == nullptr) return;  // nothing allocated yet
    for (TTSlot* t : hashTable) std::memset(static_cast<void*>(t), 0, sizeof reserveMain[0]);
    for (ThreatSlot* t : threatTable) std::memset(static_cast<void*>(t), 0, sizeof reserveThreat[0]);
    rememberCleared();
}

bool allocateTables() {
    if (sameSizes(wantedHashSizes, tableSizes)) return false;
    releaseTables();
    HashSizes sizes = wantedHashSizes;
    while (sizes.mainBuckets > MIN_HASH_BUCKETS && !tryAllocate(sizes)) {
        sizes = {sizes.mainBuckets / 2, std::max(sizes.threatBuckets / 2, MIN_HASH_BUCKETS)};
    }
    bool fresh = sizes.mainBuckets > MIN_HASH_BUCKETS || tryAllocate(sizes = {MIN_HASH_BUCKETS, MIN_HASH_BUCKETS});
    if (!fresh) {
        sizes = {MIN_HASH_BUCKETS, MIN_HASH_BUCKETS};
        for (int i = 0; i < 2; i++) hashTable[i] = reserveMain[i];
        for (int i = 0; i < 4; i++) threatTable[i] = reserveThreat[i];
    }
    hashSizes = tableSizes = sizes;
    if (fresh) rememberCleared();  // calloc's memory is already empty
    else clearTables();            // the reserve may hold entries of an earlier use
    return sizes.mainBuckets < wantedHashSizes.mainBuckets;
}

bool prepareHashTables() {
    bool shrunk = allocateTables();
    // Without a board nothing has searched since they were emptied: they belong to the first
    // rule and size built, and the pages faulted in before the first turn stay.
    if (tablesRule == -1) return shrunk;
    if (clearedRule == -1) rememberCleared();
    else if (tablesRule != clearedRule || boardWidth != clearedWidth || boardHeight != clearedHeight) clearTables();
    return shrunk;
}

int ttBestMove(int side, uint64_t key) {
    TTSlot* bucket = ttBucket(side, key);
    for (int i = 0; i < 4; i++) {
        TTEntry e = loadSlot<TTEntry>(bucket[i]);
        if (entryMatches(e, key)) return e.moves[0];
    }
    return -1;
}

int32_t ttProbe(int depth, int alpha, int beta, int side, uint64_t key, int* moves, int n) {
    TTSlot* bucket = ttBucket(side, key);
    TTEntry e;
    int hit = -1;
    for (int i = 0; i < 4 && hit < 0; i++) {
        e = loadSlot<TTEntry>(bucket[i]);
        if (entryMatches(e, key)) hit = i;
    }
    if (hit < 0) return NO_SCORE;
    if (e.age != hashAge) {
        e.age = static_cast<int16_t>(hashAge);
        storeSlot(bucket[hit], e);
    }
    bool upperForced = forcedWin(e.upper), lowerForced = forcedWin(e.lower);
    int32_t upper = fromStored(e.upper, depth), lower = fromStored(e.lower, depth);
    bool deep = e.depth >= depth;
    auto giveMoves = [&] {
        for (int i = 0; i < n && i < 3; i++) moves[i] = e.moves[i];
    };
    bool upperCuts = (e.bound & BOUND_UPPER) && upper <= alpha;
    bool lowerCuts = (e.bound & BOUND_LOWER) && lower >= beta;
    if (e.bound == BOUND_EXACT && e.upper == e.lower && (upperForced || deep)) {
        giveMoves();
        return upper;
    }
    if (upperCuts && (upperForced || deep)) {
        giveMoves();
        return upper;
    }
    if (lowerCuts) {
        if (lowerForced || deep) {
            giveMoves();
            return lower;
        }
    } else if (!upperCuts && upperForced && lowerForced) {
        giveMoves();
        return NO_SCORE;
    }
    if (deep) giveMoves();
    return NO_SCORE;
}

void ttStore(uint64_t key, int depth, int value, int bound, int side, int m0, int m1, int m2) {
    int now = hashAge;
    bool matched;
    TTSlot* bucket = ttBucket(side, key);
    TTEntry entries[4];
    loadBucket(bucket, entries);
    int slot = chooseSlot(entries, key, now, &matched);
    TTEntry& e = entries[slot];
    int32_t stored = toStored(value, depth);
    if (!matched) {
        writeEntry(e, depth, stored, bound, m0, m1, m2, now);
        store(bucket[slot], e, key);
        return;
    }
    e.age = static_cast<int16_t>(now);
    if (e.depth > depth) {
        storeSlot(bucket[slot], e);
        return;
    }
    mergeMoves(e, m0, m1, m2);
    if (depth > e.depth) {
        e.depth = static_cast<int16_t>(depth);
        e.bound = static_cast<uint8_t>(bound);
        e.upper = e.lower = stored;
    } else if (bound == BOUND_EXACT) {
        e.bound = BOUND_EXACT;
        e.upper = e.lower = stored;
    } else if (!(e.bound == BOUND_EXACT && e.upper == e.lower)) {
        // A bound of the same depth narrows what is known, but never an exact value.
        if (bound == BOUND_UPPER) {
            e.upper = (e.bound & BOUND_UPPER) ? std::min(e.upper, stored) : stored;
            e.bound |= BOUND_UPPER;
        } else {
            e.lower = (e.bound & BOUND_LOWER) ? std::max(e.lower, stored) : stored;
            e.bound |= BOUND_LOWER;
        }
    }
    store(bucket[slot], e, key);
}

void ttReplace(uint64_t key, int depth, int value, int bound, int side, int m0, int m1, int m2) {
    bool matched;
    TTSlot* bucket = ttBucket(side, key);
    TTEntry entries[4];
    loadBucket(bucket, entries);
    int slot = chooseSlot(entries, key, hashAge, &matched);
    writeEntry(entries[slot], depth, toStored(value, depth), bound, m0, m1, m2, hashAge);
    store(bucket[slot], entries[slot], key);
}
