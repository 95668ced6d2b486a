// The hash tables: what a probe may cut off with, what a store keeps, which slot a full
// bucket gives up, that damaged entries never match, and when the tables are emptied.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "board/board.h"
#include "protocol/game.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "protocol/think.h"
#include "tactics/hashtable.h"
#include "tactics/threatsearch.h"

namespace {

constexpr uint64_t KEY = 0x5DEECE66D1234567ull;

void buildBoard(int size, int forRule) {
    boardWidth = boardHeight = boardSize = size;
    recordCount = 0;
    blockCount = 0;
    rule = forRule;
    rebuildBoard(forRule);
}

// Keys that share the bucket of KEY (they differ above every bucket-index bit).
uint64_t sameBucket(int i) { return KEY ^ (static_cast<uint64_t>(i + 1) << 40); }

TTEntry* bucketOf(int side, uint64_t key) {
    return hashTable[side - 1] + ((key & static_cast<uint32_t>(hashBuckets - 1)) << 2);
}

// The entry holding key, or nullptr.
TTEntry* entryOf(int side, uint64_t key) {
    TTEntry* bucket = bucketOf(side, key);
    for (int i = 0; i < 4; i++) {
        if (bucket[i].bound != 0 && (bucket[i].check ^ entryFields(bucket[i])) == key) return &bucket[i];
    }
    return nullptr;
}

void store(uint64_t key, int depth, int value, int bound, int m0 = -1, int m1 = -1, int m2 = -1,
           int side = FIRST) {
    g_board.hashKey = key;
    ttStore(depth, value, bound, side, m0, m1, m2);
}

struct Probe {
    int32_t value;
    int moves[3];
};

Probe probe(uint64_t key, int depth, int alpha, int beta, int side = FIRST) {
    Probe r{0, {-7, -7, -7}};  // -7: not written
    r.value = ttProbe(depth, alpha, beta, side, key, r.moves, 3);
    return r;
}

class HashTable : public ::testing::Test {
protected:
    void SetUp() override {
        buildBoard(15, RULE_STANDARD);
        clearTables();
        recordCount = 20;
    }
    void TearDown() override {
        recordCount = 0;
        g_board.hashKey = 0;
        outputHook = nullptr;
        if (hashMemoryLimit != 0 || hashBuckets != WANTED_HASH_BUCKETS) {
            hashMemoryLimit = 0;
            hashBuckets = WANTED_HASH_BUCKETS;
            allocateTables();
        }
    }
};

// ---- what a probe returns ------------------------------------------------------------------

TEST_F(HashTable, ForcedWinBoundFromShallowerSearchStillCutsOff) {
    store(KEY, 2, WIN_SCORE + 3, BOUND_LOWER, 100);
    Probe p = probe(KEY, 10, 0, 1);
    EXPECT_EQ(p.value, WIN_SCORE + 3 - 2 + 10);  // the win is 3 - 2 = 1 ply from the node
    EXPECT_EQ(p.moves[0], 100);

    store(sameBucket(0), 2, -(WIN_SCORE + 4), BOUND_UPPER, 101);
    EXPECT_EQ(probe(sameBucket(0), 10, 0, 1).value, -(WIN_SCORE + 4 - 2 + 10));

    // An ordinary bound of the same shallow search is not enough, and gives no moves.
    store(sameBucket(1), 2, 500, BOUND_LOWER, 102);
    p = probe(sameBucket(1), 10, 0, 1);
    EXPECT_EQ(p.value, NO_SCORE);
    EXPECT_EQ(p.moves[0], -7);
    // Deep enough, it cuts, and a bound on the wrong side of the window does not.
    EXPECT_EQ(probe(sameBucket(1), 2, 0, 1).value, 500);
    p = probe(sameBucket(1), 2, 600, 601);
    EXPECT_EQ(p.value, NO_SCORE);
    EXPECT_EQ(p.moves[0], 102);  // deep enough: the moves still serve for ordering
}

TEST_F(HashTable, ExactValueNeedsDepthUnlessItIsAForcedWin) {
    store(KEY, 5, 42, BOUND_EXACT, 7, 8);
    EXPECT_EQ(probe(KEY, 5, -1000, 1000).value, 42);
    EXPECT_EQ(probe(KEY, 4, -1000, 1000).value, 42);
    Probe p = probe(KEY, 6, -1000, 1000);
    EXPECT_EQ(p.value, NO_SCORE);
    EXPECT_EQ(p.moves[0], -7);

    // Both bounds forced wins but outside the window: no value, yet the moves are given.
    store(sameBucket(0), 1, WIN_SCORE + 1, BOUND_UPPER, 9);
    store(sameBucket(0), 1, WIN_SCORE - 50, BOUND_LOWER);
    p = probe(sameBucket(0), 30, -100, WIN_SCORE - 100);
    EXPECT_EQ(p.value, WIN_SCORE - 50 - 1 + 30);  // the lower bound cuts: a forced win
    p = probe(sameBucket(0), 30, WIN_SCORE + 100, WIN_SCORE + 200);
    EXPECT_EQ(p.value, WIN_SCORE + 1 - 1 + 30);   // the upper bound cuts
    p = probe(sameBucket(0), 30, WIN_SCORE, WIN_SCORE + 1);
    EXPECT_EQ(p.value, NO_SCORE);
    EXPECT_EQ(p.moves[0], 9);
    EXPECT_EQ(p.moves[1], -1);

    EXPECT_EQ(probe(sameBucket(3), 1, 0, 1).value, NO_SCORE);  // never stored
}

TEST_F(HashTable, WinIsStoredRelativeToTheNode) {
    store(KEY, 7, WIN_SCORE + 5, BOUND_EXACT);
    ASSERT_NE(entryOf(FIRST, KEY), nullptr);
    EXPECT_EQ(entryOf(FIRST, KEY)->upper, WIN_SCORE - 2);
    EXPECT_EQ(entryOf(FIRST, KEY)->lower, WIN_SCORE - 2);
    EXPECT_EQ(probe(KEY, 9, 0, 1).value, WIN_SCORE + 7);

    store(sameBucket(0), 7, -(WIN_SCORE + 5), BOUND_EXACT);
    EXPECT_EQ(entryOf(FIRST, sameBucket(0))->upper, -(WIN_SCORE - 2));
    EXPECT_EQ(probe(sameBucket(0), 9, 0, 1).value, -(WIN_SCORE + 7));

    // The threat tables keep the length of the line from the node: a win 4 plies ahead
    // stored at ply 3 reads back as a win 4 plies ahead at ply 5.
    threatStore(0, SECOND, KEY, THREAT_WIN - 7, 3);
    EXPECT_EQ(threatProbe(0, SECOND, KEY, 5), THREAT_WIN - 9);
    threatStore(1, SECOND, KEY, 3 - 10000482, 3);
    EXPECT_EQ(threatProbe(1, SECOND, KEY, 5), 5 - 10000482);
    threatStore(1, FIRST, KEY, 0, 3);
    EXPECT_EQ(threatProbe(1, FIRST, KEY, 9), 0);
    EXPECT_EQ(threatProbe(0, FIRST, KEY, 9), NO_SCORE);  // each role and side has its own table
}

// ---- what a store keeps ---------------------------------------------------------------------

TEST_F(HashTable, ShallowerStoreOnlyRefreshesTheAge) {
    store(KEY, 8, 50, BOUND_EXACT, 1, 2, 3);
    TTEntry before;
    std::memcpy(&before, entryOf(FIRST, KEY), sizeof before);  // padding included
    TTEntry* e = entryOf(FIRST, KEY);
    ASSERT_NE(e, nullptr);
    for (int depth : {7, 5, -3}) {
        recordCount++;
        store(KEY, depth, -30, depth == 7 ? BOUND_EXACT : BOUND_LOWER, 9, 10, 11);
        EXPECT_EQ(e->age, recordCount);
        e->age = before.age;
        EXPECT_EQ(std::memcmp(e, &before, sizeof before), 0) << "depth " << depth;
    }
}

TEST_F(HashTable, UpperBoundOverExactOfSameDepthOnlyMergesMovesAndAge) {
    store(KEY, 6, 40, BOUND_EXACT, 11, 12);
    recordCount = 21;
    store(KEY, 6, 10, BOUND_UPPER, 13);
    TTEntry* e = entryOf(FIRST, KEY);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->bound, BOUND_EXACT);
    EXPECT_EQ(e->upper, 40);
    EXPECT_EQ(e->lower, 40);
    EXPECT_EQ(e->depth, 6);
    EXPECT_EQ(e->age, 21);
    EXPECT_EQ(e->moves[0], 13);
    EXPECT_EQ(e->moves[1], 11);
    EXPECT_EQ(e->moves[2], 12);
    EXPECT_EQ(e->validMoves, 3);
    EXPECT_EQ(probe(KEY, 6, -100, 100).value, 40);
}

TEST_F(HashTable, BoundsOfEqualDepthNarrowAndDeeperResultsReplace) {
    store(KEY, 4, 100, BOUND_UPPER);
    store(KEY, 4, 150, BOUND_UPPER);  // a looser upper bound changes nothing
    store(KEY, 4, 80, BOUND_UPPER);
    store(KEY, 4, -20, BOUND_LOWER);
    store(KEY, 4, -50, BOUND_LOWER);
    TTEntry* e = entryOf(FIRST, KEY);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->bound, BOUND_EXACT);
    EXPECT_EQ(e->upper, 80);
    EXPECT_EQ(e->lower, -20);
    EXPECT_EQ(probe(KEY, 4, 80, 81).value, 80);
    EXPECT_EQ(probe(KEY, 4, -30, -20).value, -20);
    EXPECT_EQ(probe(KEY, 4, 0, 1).value, NO_SCORE);  // both bounds, window between them

    // Exact at equal depth overwrites both bounds; a deeper result of any kind replaces.
    store(KEY, 4, 33, BOUND_EXACT);
    EXPECT_EQ(e->upper, 33);
    EXPECT_EQ(e->lower, 33);
    store(KEY, 9, 70, BOUND_LOWER);
    EXPECT_EQ(e->bound, BOUND_LOWER);
    EXPECT_EQ(e->depth, 9);
    EXPECT_EQ(e->upper, 70);
    EXPECT_EQ(e->lower, 70);
    EXPECT_EQ(probe(KEY, 9, 0, 1).value, 70);
    EXPECT_EQ(probe(KEY, 9, 100, 101).value, NO_SCORE);  // an upper bound is not known
}

TEST_F(HashTable, MovesMergeNewestFirst) {
    auto moves = [](uint64_t key) {
        TTEntry* e = entryOf(FIRST, key);
        return std::vector<int>{e->moves[0], e->moves[1], e->moves[2], e->validMoves};
    };
    store(KEY, 3, 0, BOUND_UPPER, 1, 2, 3);
    store(KEY, 3, 0, BOUND_UPPER, 4);  // one new move goes in front
    EXPECT_EQ(moves(KEY), (std::vector<int>{4, 1, 2, 3}));
    store(KEY, 3, 0, BOUND_UPPER, 4);  // already first: nothing moves
    EXPECT_EQ(moves(KEY), (std::vector<int>{4, 1, 2, 3}));
    store(KEY, 3, 0, BOUND_UPPER, 1);  // an old second move comes forward, no duplicate
    EXPECT_EQ(moves(KEY), (std::vector<int>{1, 4, 2, 3}));
    store(KEY, 3, 0, BOUND_UPPER, 2, 4);  // two moves keep the first old one not among them
    EXPECT_EQ(moves(KEY), (std::vector<int>{2, 4, 1, 3}));
    store(KEY, 3, 0, BOUND_UPPER, 5, 6, 7);  // three moves replace the list
    EXPECT_EQ(moves(KEY), (std::vector<int>{5, 6, 7, 3}));
    store(KEY, 3, 0, BOUND_UPPER);  // no moves: the list stays
    EXPECT_EQ(moves(KEY), (std::vector<int>{5, 6, 7, 3}));

    store(sameBucket(0), 3, 0, BOUND_UPPER, 8);
    EXPECT_EQ(moves(sameBucket(0)), (std::vector<int>{8, -1, -1, 1}));
    store(sameBucket(0), 3, 0, BOUND_UPPER, 9, 8);
    EXPECT_EQ(moves(sameBucket(0)), (std::vector<int>{9, 8, -1, 2}));
    store(sameBucket(0), 4, 0, BOUND_LOWER, 10);  // a deeper store merges too
    EXPECT_EQ(moves(sameBucket(0)), (std::vector<int>{10, 9, 8, 3}));

    Probe p = probe(sameBucket(0), 4, -1, 0);
    EXPECT_EQ(p.moves[0], 10);
    EXPECT_EQ(p.moves[2], 8);
    int one[1] = {-7};
    ttProbe(4, -1, 0, FIRST, sameBucket(0), one, 1);  // writes only what was asked for
    EXPECT_EQ(one[0], 10);
}

TEST_F(HashTable, RootReplaceOverwritesWhateverIsStored) {
    store(KEY, 12, 300, BOUND_EXACT, 1, 2, 3);
    g_board.hashKey = KEY;
    ttReplace(2, -5, BOUND_LOWER, FIRST, 4, -1, -1);
    TTEntry* e = entryOf(FIRST, KEY);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->depth, 2);
    EXPECT_EQ(e->bound, BOUND_LOWER);
    EXPECT_EQ(e->lower, -5);
    EXPECT_EQ(e->moves[0], 4);
    EXPECT_EQ(e->moves[1], -1);
    EXPECT_EQ(e->validMoves, 1);
    int found = 0;
    for (int i = 0; i < 4; i++) found += bucketOf(FIRST, KEY)[i].bound != 0;
    EXPECT_EQ(found, 1);  // the same slot, not a second copy
}

TEST_F(HashTable, SidesHaveSeparateTables) {
    store(KEY, 3, 11, BOUND_EXACT, -1, -1, -1, FIRST);
    store(KEY, 3, 22, BOUND_EXACT, -1, -1, -1, SECOND);
    EXPECT_EQ(probe(KEY, 3, -100, 100, FIRST).value, 11);
    EXPECT_EQ(probe(KEY, 3, -100, 100, SECOND).value, 22);
}

// ---- which slot a full bucket gives up --------------------------------------------------------

// Fills the bucket of KEY with four positions of the given ages, depths and bounds.
void fillBucket(const int ages[4], const int depths[4], const int bounds[4]) {
    for (int i = 0; i < 4; i++) {
        recordCount = ages[i];
        store(sameBucket(i), depths[i], i, bounds[i]);
    }
}

// Which of the four positions a fifth one pushed out (-1: none, 9: several).
int pushedOut(int now) {
    recordCount = now;
    store(KEY, 1, 0, BOUND_UPPER);
    EXPECT_NE(entryOf(FIRST, KEY), nullptr);
    int lost = -1;
    for (int i = 0; i < 4; i++) {
        if (entryOf(FIRST, sameBucket(i)) == nullptr) lost = lost == -1 ? i : 9;
    }
    return lost;
}

TEST_F(HashTable, FullBucketGivesUpAnOldEntryFirst) {
    const int deep[4] = {20, 20, 20, 20};
    const int exact[4] = {3, 3, 3, 3};
    const int ages1[4] = {30, 26, 30, 30};  // entry 1 is two moves old
    fillBucket(ages1, deep, exact);
    EXPECT_EQ(pushedOut(30), 1);

    clearTables();
    const int ages2[4] = {10, 30, 12, 30};  // two old entries: the later one goes
    fillBucket(ages2, deep, exact);
    EXPECT_EQ(pushedOut(30), 2);

    clearTables();
    const int ages3[4] = {30, 29, 31, 30};  // one move either way is still recent
    const int mixed[4] = {3, 1, 1, 3};
    fillBucket(ages3, deep, mixed);
    EXPECT_EQ(pushedOut(30), 1);
}

TEST_F(HashTable, AllRecentBucketGivesUpNonExactEntryOfEarlierMove) {
    const int ages[4] = {30, 30, 29, 30};
    const int depths[4] = {5, 1, 9, 1};
    const int bounds[4] = {1, 1, 2, 1};
    fillBucket(ages, depths, bounds);
    EXPECT_EQ(pushedOut(30), 2);  // though it is the deepest

    clearTables();
    const int ages2[4] = {30, 29, 29, 30};
    const int depths2[4] = {1, 5, 9, 1};
    const int exactOld[4] = {1, 3, 1, 1};  // the earlier move's exact entry is kept
    fillBucket(ages2, depths2, exactOld);
    EXPECT_EQ(pushedOut(30), 2);

    clearTables();
    const int allNow[4] = {30, 30, 30, 30};
    const int depthsNow[4] = {5, 3, 9, 4};
    const int upper[4] = {1, 1, 1, 1};
    fillBucket(allNow, depthsNow, upper);
    EXPECT_EQ(pushedOut(30), 1);  // all of this move: the first one shallower than entry 0

    clearTables();
    const int oldFirst[4] = {29, 29, 29, 29};
    const int depthsOld[4] = {5, 3, 9, 3};
    fillBucket(oldFirst, depthsOld, upper);
    EXPECT_EQ(pushedOut(30), 1);  // all of an earlier move: the first shallower one
}

TEST_F(HashTable, ThreatBucketKeepsDeepestRecentResultInFirstEntry) {
    threatStore(0, FIRST, sameBucket(0), 0, 2);  // budget 482 in entry 0
    threatStore(0, FIRST, sameBucket(1), 0, 5);  // smaller budget: entry 1
    EXPECT_EQ(threatProbe(0, FIRST, sameBucket(0), 2), 0);
    EXPECT_EQ(threatProbe(0, FIRST, sameBucket(1), 5), 0);
    threatStore(0, FIRST, sameBucket(2), 0, 7);  // entry 1 again
    EXPECT_EQ(threatProbe(0, FIRST, sameBucket(0), 2), 0);
    EXPECT_EQ(threatProbe(0, FIRST, sameBucket(1), 5), NO_SCORE);
    threatStore(0, FIRST, sameBucket(3), 0, 2);  // an equal budget takes entry 0
    EXPECT_EQ(threatProbe(0, FIRST, sameBucket(0), 2), NO_SCORE);
    threatStore(0, FIRST, sameBucket(0), 0, 2);
    threatStore(0, FIRST, sameBucket(3), 0, 1);  // so does a larger one
    EXPECT_EQ(threatProbe(0, FIRST, sameBucket(0), 2), NO_SCORE);
    EXPECT_EQ(threatProbe(0, FIRST, sameBucket(2), 7), 0);
    recordCount += 2;  // entry 0 is no longer recent
    threatStore(0, FIRST, sameBucket(0), 0, 9);
    EXPECT_EQ(threatProbe(0, FIRST, sameBucket(3), 1), NO_SCORE);
    EXPECT_EQ(threatProbe(0, FIRST, sameBucket(0), 9), 0);
    // The same position always goes back to its own entry 0.
    threatStore(0, FIRST, sameBucket(0), THREAT_WIN - 12, 9);
    EXPECT_EQ(threatProbe(0, FIRST, sameBucket(0), 9), THREAT_WIN - 12);
    EXPECT_EQ(threatProbe(0, FIRST, sameBucket(2), 7), 0);
}

// ---- damaged entries never match --------------------------------------------------------------

TEST_F(HashTable, MainEntryWithAnyFieldAlteredNeverMatches) {
    store(KEY, 6, WIN_SCORE + 8, BOUND_LOWER, 3, 4);
    store(KEY, 6, -700, BOUND_UPPER);
    TTEntry* e = entryOf(FIRST, KEY);
    ASSERT_NE(e, nullptr);
    const TTEntry good = *e;
    ASSERT_NE(probe(KEY, 6, -1000, -999).value, NO_SCORE);

    auto expectNoMatch = [&](const char* what, int bit) {
        Probe p = probe(KEY, 1, -1000, -999);
        EXPECT_EQ(p.value, NO_SCORE) << what << " bit " << bit;
        EXPECT_EQ(p.moves[0], -7) << what << " bit " << bit;
        *e = good;
    };
    for (int bit = 0; bit < 64; bit++) {
        e->check ^= uint64_t{1} << bit;
        expectNoMatch("check", bit);
    }
    // The upper bound enters the check from bit 36 on, so its low 28 bits are covered:
    // every score (|v| < 2^27) differs from any other score there.
    for (int bit = 0; bit < 28; bit++) {
        e->upper ^= int32_t{1} << bit;
        expectNoMatch("upper", bit);
    }
    for (int bit = 0; bit < 32; bit++) {
        e->lower = static_cast<int32_t>(static_cast<uint32_t>(e->lower) ^ (1u << bit));
        expectNoMatch("lower", bit);
    }
    for (int bit = 0; bit < 16; bit++) {
        e->depth = static_cast<int16_t>(e->depth ^ (1 << bit));
        expectNoMatch("depth", bit);
    }
    for (int bit = 0; bit < 8; bit++) {
        e->bound = static_cast<uint8_t>(e->bound ^ (1 << bit));
        expectNoMatch("bound", bit);
    }
    // Fields of another store's entry mixed in: a half-written replacement.
    store(sameBucket(0), 6, 55, BOUND_EXACT);
    const TTEntry other = *entryOf(FIRST, sameBucket(0));
    e->upper = other.upper;
    expectNoMatch("upper from another entry", 0);
    e->check = other.check;
    expectNoMatch("check from another entry", 0);
    EXPECT_NE(probe(KEY, 6, -1000, -999).value, NO_SCORE);  // intact again
}

TEST_F(HashTable, ThreatEntryWithAnyFieldAlteredNeverMatches) {
    threatStore(1, SECOND, KEY, THREAT_WIN - 9, 4);
    ThreatEntry* e = threatBucket(1, SECOND, KEY);
    ASSERT_EQ(threatProbe(1, SECOND, KEY, 4), THREAT_WIN - 9);
    const ThreatEntry good = *e;
    for (int bit = 0; bit < 64; bit++) {
        e->check ^= uint64_t{1} << bit;
        EXPECT_EQ(threatProbe(1, SECOND, KEY, 4), NO_SCORE) << "check bit " << bit;
        *e = good;
    }
    for (int bit = 0; bit < 32; bit++) {
        e->value = static_cast<int32_t>(static_cast<uint32_t>(e->value) ^ (1u << bit));
        EXPECT_EQ(threatProbe(1, SECOND, KEY, 4), NO_SCORE) << "value bit " << bit;
        *e = good;
    }
    e->value = 0;  // the value of a "no win" store under the old check
    EXPECT_EQ(threatProbe(1, SECOND, KEY, 4), NO_SCORE);
    *e = good;
    EXPECT_EQ(threatProbe(1, SECOND, KEY, 4), THREAT_WIN - 9);
}

// ---- lifetime --------------------------------------------------------------------------------

TEST_F(HashTable, ClearedOnRuleChangeButNotOnNewGameOfSameRule) {
    TTEntry* tables = hashTable[0];
    store(KEY, 4, 77, BOUND_EXACT);
    threatStore(0, SECOND, KEY, 0, 0);

    buildBoard(15, RULE_STANDARD);  // a new game, same rule
    buildBoard(20, RULE_STANDARD);  // a new size, same rule
    EXPECT_EQ(probe(KEY, 4, -100, 100).value, 77);
    EXPECT_EQ(threatProbe(0, SECOND, KEY, 0), 0);
    EXPECT_EQ(hashTable[0], tables);  // allocated once

    buildBoard(15, RULE_RENJU);
    EXPECT_EQ(probe(KEY, 4, -100, 100).value, NO_SCORE);
    EXPECT_EQ(threatProbe(0, SECOND, KEY, 0), NO_SCORE);
    EXPECT_EQ(hashTable[0], tables);

    store(KEY, 4, 78, BOUND_EXACT);
    buildBoard(15, RULE_STANDARD);
    EXPECT_EQ(probe(KEY, 4, -100, 100).value, NO_SCORE);
}

std::vector<std::string> captured;
void capture(const char* line) { captured.emplace_back(line); }

TEST_F(HashTable, ShortMemoryFallsBackToSmallerTables) {
    EXPECT_EQ(hashBuckets, WANTED_HASH_BUCKETS);
    captured.clear();
    outputHook = capture;

    hashMemoryLimit = 5 << 20;  // room for 8192 buckets (3 MiB), not 16384 (6 MiB)
    hashBuckets = WANTED_HASH_BUCKETS * 2;
    buildBoard(15, RULE_FREESTYLE);
    EXPECT_EQ(hashBuckets, 8192);
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_EQ(captured[0].rfind("MESSAGE ", 0), 0u);
    EXPECT_NE(captured[0].find("8192"), std::string::npos);
    store(KEY, 3, 9, BOUND_EXACT);
    EXPECT_EQ(probe(KEY, 3, -100, 100).value, 9);
    buildBoard(15, RULE_FREESTYLE);  // no new allocation, no second message
    EXPECT_EQ(captured.size(), 1u);

    hashMemoryLimit = 1;  // nothing at all: the static tables
    hashBuckets = WANTED_HASH_BUCKETS;
    buildBoard(15, RULE_FREESTYLE);
    EXPECT_EQ(hashBuckets, MIN_HASH_BUCKETS);
    EXPECT_EQ(captured.size(), 2u);
    EXPECT_EQ(probe(KEY, 3, -100, 100).value, NO_SCORE);  // new tables start empty
    for (int i = 0; i < 6; i++) store(sameBucket(i), 3, i, BOUND_EXACT);
    EXPECT_EQ(probe(sameBucket(5), 3, -100, 100).value, 5);
    threatStore(1, FIRST, KEY, -5, 0);
    EXPECT_EQ(threatProbe(1, FIRST, KEY, 0), -5);
    hashBuckets = 2048;  // away from the static tables and back: they must come back empty
    hashMemoryLimit = 0;
    buildBoard(15, RULE_FREESTYLE);
    hashMemoryLimit = 1;
    hashBuckets = WANTED_HASH_BUCKETS;
    buildBoard(15, RULE_FREESTYLE);
    EXPECT_EQ(hashBuckets, MIN_HASH_BUCKETS);
    EXPECT_EQ(threatProbe(1, FIRST, KEY, 0), NO_SCORE);
    EXPECT_EQ(probe(sameBucket(5), 3, -100, 100).value, NO_SCORE);

    hashMemoryLimit = 0;
    hashBuckets = WANTED_HASH_BUCKETS;
    buildBoard(15, RULE_FREESTYLE);
    EXPECT_EQ(hashBuckets, WANTED_HASH_BUCKETS);
    EXPECT_EQ(captured.size(), 3u);
    outputHook = nullptr;
}

}  // namespace
