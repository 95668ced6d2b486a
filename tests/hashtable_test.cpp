// The hash tables: what a probe may cut off with, what a store keeps, which slot a full
// bucket gives up, that damaged entries never match, and when the tables are emptied.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
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
constexpr int W = WIN_SCORE;

void buildBoard(int forRule) {
    boardWidth = boardHeight = boardSize = 15;
    recordCount = blockCount = hashAge = 0;
    rule = forRule;
    rebuildBoard(forRule);
}

// Keys that share the bucket of KEY (they differ above every bucket-index bit).
uint64_t sameBucket(int i) { return KEY ^ (static_cast<uint64_t>(i + 1) << 40); }

// The entry holding key, or nullptr.
TTEntry* entryOf(uint64_t key, int side = FIRST) {
    TTEntry* bucket = hashTable[side - 1] + ((key & static_cast<uint32_t>(hashBuckets - 1)) << 2);
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

// An entry as {bound, depth, upper, lower, age, moves[0..2], validMoves}; its moves alone.
std::vector<int> fields(uint64_t key) {
    const TTEntry& e = *entryOf(key);
    return {e.bound, e.depth, e.upper, e.lower, e.age, e.moves[0], e.moves[1], e.moves[2], e.validMoves};
}

std::vector<int> moves(uint64_t key) {
    std::vector<int> all = fields(key);
    return std::vector<int>(all.begin() + 5, all.end());
}

class HashTable : public ::testing::Test {
protected:
    void SetUp() override {
        buildBoard(RULE_STANDARD);
        clearTables();
        hashAge = 20;
    }
    void TearDown() override {
        hashAge = 0;
        g_board.hashKey = 0;
        outputHook = nullptr;
        if (hashMemoryLimit != 0 || hashBuckets != WANTED_HASH_BUCKETS) {
            hashMemoryLimit = 0;
            hashBuckets = WANTED_HASH_BUCKETS;
            allocateTables();
        }
    }
};

// Rows in order, each key in a bucket of its own; a row with a bound stores first.
TEST_F(HashTable, ProbeCutsWithDeepEnoughOrForcedWinBounds) {
    const struct {
        int key, depth, value, bound, move;  // the store
        int probeDepth, alpha, beta, want, wantMove;
    } rows[] = {
        // A forced win from a shallower search still cuts, the win 3 - 2 = 1 ply from the node.
        {0, 2, W + 3, BOUND_LOWER, 100, 10, 0, 1, W + 3 - 2 + 10, 100},
        {1, 2, -(W + 4), BOUND_UPPER, 101, 10, 0, 1, -(W + 4 - 2 + 10), 101},
        // An ordinary bound of the same shallow search is not enough, and gives no moves;
        // deep enough it cuts, on the wrong side of the window only the moves come.
        {2, 2, 500, BOUND_LOWER, 102, 10, 0, 1, NO_SCORE, -7},
        {2, 0, 0, 0, 0, 2, 0, 1, 500, 102},
        {2, 0, 0, 0, 0, 2, 600, 601, NO_SCORE, 102},
        // An exact value needs the depth.
        {3, 5, 42, BOUND_EXACT, 7, 5, -1000, 1000, 42, 7},
        {3, 0, 0, 0, 0, 4, -1000, 1000, 42, 7},
        {3, 0, 0, 0, 0, 6, -1000, 1000, NO_SCORE, -7},
        // Both bounds forced wins: either cuts on its side; between them only the moves come.
        {4, 1, W + 1, BOUND_UPPER, 9, 30, W + 100, W + 200, W + 1 - 1 + 30, 9},
        {4, 1, W - 50, BOUND_LOWER, -1, 30, -100, W - 100, W - 50 - 1 + 30, 9},
        {4, 0, 0, 0, 0, 30, W, W + 1, NO_SCORE, 9},
        {5, 0, 0, 0, 0, 1, 0, 1, NO_SCORE, -7},  // never stored
    };
    for (const auto& r : rows) {
        if (r.bound != 0) store(KEY ^ r.key, r.depth, r.value, r.bound, r.move);
        Probe p = probe(KEY ^ r.key, r.probeDepth, r.alpha, r.beta);
        EXPECT_EQ(p.value, r.want) << "key " << r.key << " depth " << r.probeDepth;
        EXPECT_EQ(p.moves[0], r.wantMove) << "key " << r.key << " depth " << r.probeDepth;
    }
    int one[2] = {-7, -7};
    ttProbe(5, -1000, 1000, FIRST, KEY ^ 3, one, 1);  // writes only what was asked for
    EXPECT_EQ(one[0], 7);
    EXPECT_EQ(one[1], -7);
}

TEST_F(HashTable, WinsAreStoredRelativeToTheNode) {
    store(KEY, 7, W + 5, BOUND_EXACT);
    EXPECT_EQ(fields(KEY), (std::vector<int>{BOUND_EXACT, 7, W - 2, W - 2, 20, -1, -1, -1, 0}));
    EXPECT_EQ(probe(KEY, 9, 0, 1).value, W + 7);
    store(sameBucket(0), 7, -(W + 5), BOUND_EXACT);
    EXPECT_EQ(entryOf(sameBucket(0))->upper, -(W - 2));
    EXPECT_EQ(probe(sameBucket(0), 9, 0, 1).value, -(W + 7));
    // The threat tables keep the length of the line from the node: a win 4 plies ahead
    // stored at ply 3 reads back as a win 4 plies ahead at ply 5.
    threatStore(0, SECOND, KEY, THREAT_WIN - 7, 3);
    EXPECT_EQ(threatProbe(0, SECOND, KEY, 5), THREAT_WIN - 9);
    threatStore(1, SECOND, KEY, 3 - 10000482, 3);
    EXPECT_EQ(threatProbe(1, SECOND, KEY, 5), 5 - 10000482);
    threatStore(1, FIRST, KEY, 0, 3);
    EXPECT_EQ(threatProbe(1, FIRST, KEY, 9), 0);
    // Each role and side has its own table.
    EXPECT_EQ(threatProbe(0, FIRST, KEY, 9), NO_SCORE);
    store(KEY, 3, 22, BOUND_EXACT, -1, -1, -1, SECOND);
    EXPECT_EQ(probe(KEY, 3, -100, 100, SECOND).value, 22);
    EXPECT_EQ(probe(KEY, 3, -100, 100, FIRST).value, W + 5 - 7 + 3);
}

TEST_F(HashTable, StoreKeepsTheDeeperResultAndNarrowsBoundsOfEqualDepth) {
    store(KEY, 8, 50, BOUND_EXACT, 1, 2, 3);
    TTEntry* e = entryOf(KEY);
    TTEntry before;
    std::memcpy(&before, e, sizeof before);  // padding included
    for (int depth : {7, 5, -3}) {  // a shallower store only refreshes the age
        hashAge++;
        store(KEY, depth, -30, depth == 7 ? BOUND_EXACT : BOUND_LOWER, 9, 10, 11);
        EXPECT_EQ(e->age, hashAge);
        e->age = before.age;
        EXPECT_EQ(std::memcmp(e, &before, sizeof before), 0) << "depth " << depth;
    }
    // An upper bound over an exact value of the same depth: only the age and the moves.
    store(sameBucket(0), 6, 40, BOUND_EXACT, 11, 12);
    hashAge = 30;
    store(sameBucket(0), 6, 10, BOUND_UPPER, 13);
    EXPECT_EQ(fields(sameBucket(0)), (std::vector<int>{BOUND_EXACT, 6, 40, 40, 30, 13, 11, 12, 3}));
    // Bounds of equal depth narrow (a looser one changes nothing) and together make an exact
    // entry; an exact value overwrites both; a deeper result of any kind replaces.
    for (int value : {100, 150, 80}) store(sameBucket(1), 4, value, BOUND_UPPER);
    for (int value : {-20, -50}) store(sameBucket(1), 4, value, BOUND_LOWER);
    EXPECT_EQ(fields(sameBucket(1)), (std::vector<int>{BOUND_EXACT, 4, 80, -20, 30, -1, -1, -1, 0}));
    EXPECT_EQ(probe(sameBucket(1), 4, 80, 81).value, 80);
    EXPECT_EQ(probe(sameBucket(1), 4, -30, -20).value, -20);
    EXPECT_EQ(probe(sameBucket(1), 4, 0, 1).value, NO_SCORE);
    store(sameBucket(1), 4, 33, BOUND_EXACT);
    EXPECT_EQ(fields(sameBucket(1)), (std::vector<int>{BOUND_EXACT, 4, 33, 33, 30, -1, -1, -1, 0}));
    store(sameBucket(1), 9, 70, BOUND_LOWER);
    EXPECT_EQ(fields(sameBucket(1)), (std::vector<int>{BOUND_LOWER, 9, 70, 70, 30, -1, -1, -1, 0}));
    EXPECT_EQ(probe(sameBucket(1), 9, 100, 101).value, NO_SCORE);  // no upper bound known
    // The root's store overwrites whatever its slot holds, without a second copy.
    g_board.hashKey = KEY;
    ttReplace(2, -5, BOUND_LOWER, FIRST, 4, -1, -1);
    EXPECT_EQ(fields(KEY), (std::vector<int>{BOUND_LOWER, 2, -5, -5, 30, 4, -1, -1, 1}));
}

TEST_F(HashTable, MovesMergeNewestFirst) {
    const struct {
        int depth, m0, m1, m2;
        std::vector<int> want;  // the three moves, then their count
    } steps[] = {
        {3, 1, 2, 3, {1, 2, 3, 3}},
        {3, 4, -1, -1, {4, 1, 2, 3}},   // one new move goes in front
        {3, 4, -1, -1, {4, 1, 2, 3}},   // already first: nothing moves
        {3, 1, -1, -1, {1, 4, 2, 3}},   // an old second move comes forward, no duplicate
        {3, 2, 4, -1, {2, 4, 1, 3}},    // two moves keep the first old one not among them
        {3, 5, 6, 7, {5, 6, 7, 3}},     // three moves replace the list
        {3, -1, -1, -1, {5, 6, 7, 3}},  // no moves: the list stays
        {4, 8, -1, -1, {8, 5, 6, 3}},   // a deeper store merges too
    };
    for (const auto& s : steps) {
        store(KEY, s.depth, 0, BOUND_UPPER, s.m0, s.m1, s.m2);
        EXPECT_EQ(moves(KEY), s.want) << s.m0 << " " << s.m1 << " " << s.m2;
    }
    store(sameBucket(0), 3, 0, BOUND_UPPER, 8);
    EXPECT_EQ(moves(sameBucket(0)), (std::vector<int>{8, -1, -1, 1}));
    store(sameBucket(0), 3, 0, BOUND_UPPER, 9, 8);
    EXPECT_EQ(moves(sameBucket(0)), (std::vector<int>{9, 8, -1, 2}));
    Probe p = probe(KEY, 4, -1, 0);  // no cut, but deep enough for the moves, all three
    EXPECT_EQ(std::vector<int>(p.moves, p.moves + 3), (std::vector<int>{8, 5, 6}));
}

// Which of four entries a fifth position pushes out of a full bucket: the last one not of
// this move or the one before or after, else the first shallower entry not worth keeping
// (of this move, or exact).
TEST_F(HashTable, FullBucketGivesUpTheRightEntry) {
    const struct {
        int ages[4], depths[4], bounds[4], lost;
    } cases[] = {
        {{30, 26, 30, 30}, {20, 20, 20, 20}, {3, 3, 3, 3}, 1},  // entry 1 is four moves old
        {{10, 30, 12, 30}, {20, 20, 20, 20}, {3, 3, 3, 3}, 2},  // two old entries: the later goes
        {{30, 29, 31, 30}, {20, 20, 20, 20}, {3, 1, 1, 3}, 1},  // one move either way is recent
        {{30, 30, 29, 30}, {5, 1, 9, 1}, {1, 1, 2, 1}, 2},      // earlier move, though the deepest
        {{30, 29, 29, 30}, {1, 5, 9, 1}, {1, 3, 1, 1}, 2},      // the earlier move's exact one stays
        {{30, 30, 30, 30}, {5, 3, 9, 4}, {1, 1, 1, 1}, 1},      // all of this move: first shallower
        {{29, 29, 29, 29}, {5, 3, 9, 3}, {1, 1, 1, 1}, 1},      // all of an earlier move: likewise
    };
    for (const auto& c : cases) {
        clearTables();
        for (int i = 0; i < 4; i++) {
            hashAge = c.ages[i];
            store(sameBucket(i), c.depths[i], i, c.bounds[i]);
        }
        hashAge = 30;
        store(KEY, 1, 0, BOUND_UPPER);
        EXPECT_NE(entryOf(KEY), nullptr);
        std::vector<int> lost;
        for (int i = 0; i < 4; i++) {
            if (entryOf(sameBucket(i)) == nullptr) lost.push_back(i);
        }
        EXPECT_EQ(lost, std::vector<int>{c.lost}) << "case " << &c - cases;
    }
}

TEST_F(HashTable, ThreatBucketKeepsDeepestRecentResultInFirstEntry) {
    auto put = [](int i, int t, int32_t value = 0) { threatStore(0, FIRST, sameBucket(i), value, t); };
    auto get = [](int i, int t) { return threatProbe(0, FIRST, sameBucket(i), t); };
    put(0, 2);  // budget 482 in entry 0
    put(1, 5);  // smaller budget: entry 1
    EXPECT_EQ(std::pair(get(0, 2), get(1, 5)), std::pair(0, 0));
    put(2, 7);  // entry 1 again
    EXPECT_EQ(std::pair(get(0, 2), get(1, 5)), std::pair(0, NO_SCORE));
    put(3, 2);  // an equal budget takes entry 0
    EXPECT_EQ(get(0, 2), NO_SCORE);
    put(0, 2);
    put(3, 1);  // so does a larger one
    EXPECT_EQ(std::pair(get(0, 2), get(2, 7)), std::pair(NO_SCORE, 0));
    hashAge += 2;  // entry 0 is no longer recent
    put(0, 9);
    EXPECT_EQ(std::pair(get(3, 1), get(0, 9)), std::pair(NO_SCORE, 0));
    put(0, 9, THREAT_WIN - 12);  // back to its own entry 0
    EXPECT_EQ(std::pair(get(0, 9), get(2, 7)), std::pair(THREAT_WIN - 12, 0));
}

// Flips each bit of a field in turn; the entry must then match nothing.
template <typename Entry, typename Field>
void expectEveryFlipMisses(Entry* e, Field Entry::*field, int bits, bool (*misses)(), const char* what) {
    const Entry good = *e;
    using Bits = std::make_unsigned_t<Field>;
    for (int bit = 0; bit < bits; bit++) {
        e->*field = static_cast<Field>(static_cast<Bits>(e->*field) ^ static_cast<Bits>(Bits{1} << bit));
        EXPECT_TRUE(misses()) << what << " bit " << bit;
        *e = good;
    }
}

bool mainMisses() {
    Probe p = probe(KEY, 1, -1000, -999);
    return p.value == NO_SCORE && p.moves[0] == -7;
}

bool threatMisses() { return threatProbe(1, SECOND, KEY, 4) == NO_SCORE; }

TEST_F(HashTable, EntryWithAnyFieldAlteredNeverMatches) {
    store(KEY, 6, W + 8, BOUND_LOWER, 3, 4);
    store(KEY, 6, -700, BOUND_UPPER);
    TTEntry* e = entryOf(KEY);
    ASSERT_FALSE(mainMisses());
    expectEveryFlipMisses(e, &TTEntry::check, 64, mainMisses, "check");
    // The upper bound enters the check from bit 36 on: its low 28 bits tell any two scores
    // (|v| < 2^27) apart.
    expectEveryFlipMisses(e, &TTEntry::upper, 28, mainMisses, "upper");
    expectEveryFlipMisses(e, &TTEntry::lower, 32, mainMisses, "lower");
    expectEveryFlipMisses(e, &TTEntry::depth, 16, mainMisses, "depth");
    expectEveryFlipMisses(e, &TTEntry::bound, 8, mainMisses, "bound");
    // Fields of another store's entry mixed in: a half-written replacement.
    store(sameBucket(0), 6, 55, BOUND_EXACT);
    const TTEntry good = *e, other = *entryOf(sameBucket(0));
    e->upper = other.upper;
    EXPECT_TRUE(mainMisses());
    *e = good;
    e->check = other.check;
    EXPECT_TRUE(mainMisses());
    *e = good;
    EXPECT_FALSE(mainMisses());

    threatStore(1, SECOND, KEY, THREAT_WIN - 9, 4);
    ThreatEntry* t = threatBucket(1, SECOND, KEY);
    ASSERT_EQ(threatProbe(1, SECOND, KEY, 4), THREAT_WIN - 9);
    expectEveryFlipMisses(t, &ThreatEntry::check, 64, threatMisses, "threat check");
    expectEveryFlipMisses(t, &ThreatEntry::value, 32, threatMisses, "threat value");
    t->value = 0;  // the value of a "no win" store under the old check
    EXPECT_TRUE(threatMisses());
}

TEST_F(HashTable, ClearedOnRuleChangeButNotOnNewGameOfSameRule) {
    TTEntry* tables = hashTable[0];
    store(KEY, 4, 77, BOUND_EXACT);
    threatStore(0, SECOND, KEY, 0, 0);
    buildBoard(RULE_STANDARD);
    boardSize = boardWidth = boardHeight = 20;  // a new size, same rule
    rebuildBoard(RULE_STANDARD);
    EXPECT_EQ(hashTable[0], tables);  // kept as they are
    EXPECT_EQ(probe(KEY, 4, -100, 100).value, 77);
    EXPECT_EQ(threatProbe(0, SECOND, KEY, 0), 0);
    buildBoard(RULE_RENJU);
    EXPECT_EQ(probe(KEY, 4, -100, 100).value, NO_SCORE);
    EXPECT_EQ(threatProbe(0, SECOND, KEY, 0), NO_SCORE);
    store(KEY, 4, 78, BOUND_EXACT);
    buildBoard(RULE_STANDARD);
    EXPECT_EQ(probe(KEY, 4, -100, 100).value, NO_SCORE);
    EXPECT_EQ(hashBuckets, WANTED_HASH_BUCKETS);
}

std::vector<std::string> captured;

TEST_F(HashTable, ShortMemoryFallsBackToSmallerTables) {
    captured.clear();
    outputHook = [](const char* line) { captured.emplace_back(line); };
    hashMemoryLimit = 5 << 20;  // room for 8192 buckets (3 MiB), not 16384 (6 MiB)
    hashBuckets = WANTED_HASH_BUCKETS * 2;
    buildBoard(RULE_FREESTYLE);
    EXPECT_EQ(hashBuckets, 8192);
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_EQ(captured[0].rfind("MESSAGE ", 0), 0u);
    EXPECT_NE(captured[0].find("8192"), std::string::npos);
    store(KEY, 3, 9, BOUND_EXACT);
    EXPECT_EQ(probe(KEY, 3, -100, 100).value, 9);
    buildBoard(RULE_FREESTYLE);  // no new allocation, no second message
    EXPECT_EQ(captured.size(), 1u);

    // Nothing at all: the static tables, which must come back empty after other tables.
    for (int round = 0; round < 2; round++) {
        hashMemoryLimit = 1;
        hashBuckets = WANTED_HASH_BUCKETS;
        buildBoard(RULE_FREESTYLE);
        EXPECT_EQ(hashBuckets, MIN_HASH_BUCKETS);
        EXPECT_EQ(probe(sameBucket(5), 3, -100, 100).value, NO_SCORE);
        EXPECT_EQ(threatProbe(1, FIRST, KEY, 0), NO_SCORE);
        for (int i = 0; i < 6; i++) store(sameBucket(i), 3, i, BOUND_EXACT);
        EXPECT_EQ(probe(sameBucket(5), 3, -100, 100).value, 5);
        threatStore(1, FIRST, KEY, -5, 0);
        EXPECT_EQ(threatProbe(1, FIRST, KEY, 0), -5);
        hashBuckets = 2048;
        hashMemoryLimit = 0;
        buildBoard(RULE_FREESTYLE);
    }
    hashBuckets = WANTED_HASH_BUCKETS;
    buildBoard(RULE_FREESTYLE);
    EXPECT_EQ(hashBuckets, WANTED_HASH_BUCKETS);
    EXPECT_EQ(captured.size(), 3u);
}

}  // namespace
