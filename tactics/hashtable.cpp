#include "tactics/hashtable.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>


int32_t hashBuckets = WANTED_HASH_BUCKETS;
TTEntry* hashTable[2] = {nullptr, nullptr};
ThreatEntry* threatTable[4] = {nullptr, nullptr, nullptr, nullptr};
size_t hashMemoryLimit = 0;
int32_t hashAge = 0;

namespace {

constexpr int NO_RULE = -2;  // tablesRule is -1 while nothing is built, so not that
constexpr uintptr_t BUCKET_ALIGN = 64;  // a bucket never straddles more lines than it must

int32_t tableBuckets = 0;    // size the tables were made with; 0 = none yet
int clearedRule = NO_RULE;   // rule the tables are filled under
void* rawBlocks[6] = {};     // what calloc returned, for free

// Last resort when not even the smallest tables can be allocated.
alignas(64) TTEntry reserveMain[2][MIN_HASH_BUCKETS * 4];
alignas(64) ThreatEntry reserveThreat[4][MIN_HASH_BUCKETS * 2];

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
    for (TTEntry*& t : hashTable) t = nullptr;
    for (ThreatEntry*& t : threatTable) t = nullptr;
    tableBuckets = 0;
}

// All six tables of the given size, or none of them.
bool tryAllocate(int32_t buckets) {
    size_t count = static_cast<size_t>(buckets);
    if (hashMemoryLimit != 0 && count * HASH_BYTES_PER_BUCKET > hashMemoryLimit) return false;
    bool complete = true;
    for (int i = 0; i < 2; i++) {
        hashTable[i] = static_cast<TTEntry*>(allocateBlock(count * 4 * sizeof(TTEntry), &rawBlocks[i]));
        complete = complete && hashTable[i] != nullptr;
    }
    for (int i = 0; i < 4; i++) {
        threatTable[i] =
            static_cast<ThreatEntry*>(allocateBlock(count * 2 * sizeof(ThreatEntry), &rawBlocks[2 + i]));
        complete = complete && threatTable[i] != nullptr;
    }
    if (!complete) releaseTables();
    return complete;
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

inline TTEntry* bucketOf(int side, uint64_t key) {
    return hashTable[side - 1] + ((key & static_cast<uint32_t>(hashBuckets - 1)) << 2);
}

void countMoves(TTEntry& e) {
    e.validMoves = static_cast<uint8_t>((e.moves[0] != -1) + (e.moves[1] != -1) + (e.moves[2] != -1));
}

void writeEntry(TTEntry& e, uint64_t key, int depth, int32_t stored, int bound, int m0, int m1,
                int m2, int now) {
    e.moves[0] = static_cast<int16_t>(m0);
    e.moves[1] = static_cast<int16_t>(m1);
    e.moves[2] = static_cast<int16_t>(m2);
    countMoves(e);
    e.depth = static_cast<int16_t>(depth);
    e.age = static_cast<int16_t>(now);
    e.bound = static_cast<uint8_t>(bound);
    e.upper = e.lower = stored;
    e.check = key ^ entryFields(e);
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

// Slot for the current position in its bucket: an empty one, the position's own entry
// (matched set), else the last entry that is not recent, else the cheapest recent one.
TTEntry* chooseSlot(TTEntry* bucket, uint64_t key, int now, bool* matched) {
    TTEntry* victim = bucket;
    TTEntry* stale = nullptr;
    *matched = false;
    for (int i = 0; i < 4; i++) {
        TTEntry& e = bucket[i];
        if (e.bound == 0) return &e;
        if (entryMatches(e, key)) {
            *matched = true;
            return &e;
        }
        if (!recent(e, now)) {
            stale = &e;
            continue;
        }
        if (stale != nullptr) continue;
        // An entry of this move or an exact one is worth keeping; a shallow one is not.
        int score = (victim->age == now ? 2 : 0) + ((e.age == now || e.bound == BOUND_EXACT) ? -2 : 0) +
                    (e.depth < victim->depth ? 1 : 0);
        if (score > 0) victim = &e;
    }
    return stale != nullptr ? stale : victim;
}

}  // namespace

void clearTables() {
    // Used tables are given back and taken anew: fresh memory is zero and costs nothing until
    // written, where clearing 192 MiB by hand takes the better part of a second, and a rule
    // change comes right before a turn.
    if (rawBlocks[0] != nullptr) {
        int32_t buckets = tableBuckets;
        releaseTables();
        if (tryAllocate(buckets)) {
            tableBuckets = buckets;
            clearedRule = tablesRule;
            return;
        }
        hashBuckets = buckets;
        allocateTables();  // smaller fresh tables, or the static reserve cleared by hand
        return;
    }
    size_t count = static_cast<size_t>(hashBuckets);
    for (TTEntry* t : hashTable) std::memset(static_cast<void*>(t), 0, count * 4 * sizeof(TTEntry));
    for (ThreatEntry* t : threatTable) std::memset(static_cast<void*>(t), 0, count * 2 * sizeof(ThreatEntry));
    clearedRule = tablesRule;
}

bool allocateTables() {
    if (hashBuckets == tableBuckets) return false;
    releaseTables();
    int32_t wanted = hashBuckets;
    int32_t buckets = wanted;
    while (buckets > MIN_HASH_BUCKETS && !tryAllocate(buckets)) buckets >>= 1;
    if (buckets <= MIN_HASH_BUCKETS) buckets = MIN_HASH_BUCKETS;
    bool fresh = buckets > MIN_HASH_BUCKETS || tryAllocate(buckets);
    if (!fresh) {
        for (int i = 0; i < 2; i++) hashTable[i] = reserveMain[i];
        for (int i = 0; i < 4; i++) threatTable[i] = reserveThreat[i];
    }
    hashBuckets = tableBuckets = buckets;
    if (fresh) clearedRule = tablesRule;  // calloc's memory is already empty
    else clearTables();                   // the reserve may hold entries of an earlier use
    return buckets < wanted;
}

bool prepareHashTables() {
    bool shrunk = allocateTables();
    if (tablesRule != clearedRule) clearTables();
    return shrunk;
}

int32_t ttProbe(int depth, int alpha, int beta, int side, uint64_t key, int* moves, int n) {
    TTEntry* bucket = bucketOf(side, key);
    TTEntry* hit = nullptr;
    for (int i = 0; i < 4 && hit == nullptr; i++) {
        if (entryMatches(bucket[i], key)) hit = &bucket[i];
    }
    if (hit == nullptr) return NO_SCORE;
    TTEntry& e = *hit;
    e.age = static_cast<int16_t>(hashAge);
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

void ttStore(int depth, int value, int bound, int side, int m0, int m1, int m2) {
    uint64_t key = g_board.hashKey;
    int now = hashAge;
    bool matched;
    TTEntry& e = *chooseSlot(bucketOf(side, key), key, now, &matched);
    int32_t stored = toStored(value, depth);
    if (!matched) {
        writeEntry(e, key, depth, stored, bound, m0, m1, m2, now);
        return;
    }
    e.age = static_cast<int16_t>(now);
    if (e.depth > depth) return;
    mergeMoves(e, m0, m1, m2);
    if (depth > e.depth) {
        e.depth = static_cast<int16_t>(depth);
        e.bound = static_cast<uint8_t>(bound);
        e.upper = e.lower = stored;
    } else if (bound == BOUND_EXACT) {
        e.bound = BOUND_EXACT;
        e.upper = e.lower = stored;
    } else {
        // A bound of the same depth narrows what is known, but never an exact value.
        if ((e.check ^ entryFields(e)) != key) return;
        if (e.bound == BOUND_EXACT && e.upper == e.lower) return;
        if (bound == BOUND_UPPER) {
            e.upper = (e.bound & BOUND_UPPER) ? std::min(e.upper, stored) : stored;
            e.bound |= BOUND_UPPER;
        } else {
            e.lower = (e.bound & BOUND_LOWER) ? std::max(e.lower, stored) : stored;
            e.bound |= BOUND_LOWER;
        }
    }
    e.check = key ^ entryFields(e);
}

void ttReplace(int depth, int value, int bound, int side, int m0, int m1, int m2) {
    uint64_t key = g_board.hashKey;
    int now = hashAge;
    bool matched;
    TTEntry& e = *chooseSlot(bucketOf(side, key), key, now, &matched);
    writeEntry(e, key, depth, toStored(value, depth), bound, m0, m1, m2, now);
}
