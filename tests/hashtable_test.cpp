// The hash tables: stores, probes and damaged entries against a model; the threat tables.
#include <gtest/gtest.h>

#include <tuple>

#include "search/threads.h"
#include "search/threatsearch.h"
#include "tests/test_positions.h"

namespace {

constexpr uint64_t KEY = 0x5DEECE66D1234567ull;
constexpr int W = WIN_SCORE, TW = THREAT_WIN;

void flip(void* at, int bit) { static_cast<unsigned char*>(at)[bit / 8] ^= 1 << bit % 8; }

TTSlot* slotOf(uint64_t key, int side) {
    TTSlot* b = ttBucket(side, key);
    for (int i = 0; i < 4; i++) {
        TTEntry e = loadSlot<TTEntry>(b[i]);
        if (e.bound != 0 && (e.check ^ entryFields(e)) == key) return b + i;
    }
    return nullptr;
}

// What one position's entry should hold. Wins are kept relative to the node (a win k plies
// ahead with depth d left as k - d); the newest moves come first, the old ones behind them.
struct Model {
    int bound = 0, depth = 0, upper = 0, lower = 0, age = 0;
    std::vector<int> moves{-1, -1, -1};
};

template <class Entry> std::vector<int> fields(const Entry& e, int count) {
    return {e.bound, e.depth, e.upper, e.lower, e.age, e.moves[0], e.moves[1], e.moves[2], count};
}

bool forced(int32_t v) { return std::abs(v) >= MATE_BOUND; }
int32_t shifted(int32_t v, int by) { return forced(v) ? v + (v > 0 ? by : -by) : v; }

void modelStore(Model& e, bool replace, int depth, int value, int bound, std::vector<int> moves) {
    int s = shifted(value, -depth);
    std::erase(moves, -1);
    if (e.bound == 0 || replace) e = {bound, depth, s, s, 0, {-1, -1, -1}};
    e.age = hashAge;
    if (e.depth > depth) return;  // the deeper result stays, its moves too
    for (int m : e.moves) {
        if (std::ranges::find(moves, m) == moves.end()) moves.push_back(m);
    }
    moves.resize(3, -1);
    e.moves = moves;
    if (depth > e.depth || bound == BOUND_EXACT) {
        e.bound = bound, e.depth = depth, e.upper = e.lower = s;
    } else if (e.bound != BOUND_EXACT || e.upper != e.lower) {  // equal depth: bounds narrow
        if (bound == BOUND_UPPER) e.upper = e.bound & BOUND_UPPER ? std::min(e.upper, s) : s;
        if (bound == BOUND_LOWER) e.lower = e.bound & BOUND_LOWER ? std::max(e.lower, s) : s;
        e.bound |= bound;
    }
}

// A bound cuts when deep enough or a forced win; the moves come with a cut, from a deep enough
// entry, or from one whose bounds are both forced wins.
int32_t modelProbe(Model& e, int depth, int alpha, int beta, int n, int* moves) {
    if (e.bound == 0) return NO_SCORE;
    e.age = hashAge;
    int32_t up = shifted(e.upper, depth), low = shifted(e.lower, depth), v = NO_SCORE;
    bool deep = e.depth >= depth, give = deep;
    bool upCut = (e.bound & BOUND_UPPER) && up <= alpha;
    bool lowCut = (e.bound & BOUND_LOWER) && low >= beta;
    if (e.bound == BOUND_EXACT && e.upper == e.lower && (deep || forced(e.upper))) v = up;
    else if (upCut && (deep || forced(e.upper))) v = up;
    else if (lowCut && (deep || forced(e.lower))) v = low;
    else if (!upCut && !lowCut && forced(e.upper) && forced(e.lower)) give = true;
    if (give || v != NO_SCORE) std::copy_n(e.moves.begin(), n, moves);
    return v;
}

class HashTable : public ::testing::Test {
protected:
    void SetUp() override { testpos::emptyBoard(RULE_STANDARD), clearTables(), hashAge = 20; }
    void TearDown() override { hashAge = 0; }
};

// Six positions of each side in buckets of their own; few depths, so that equal depths meet.
TEST_F(HashTable, StoresAndProbesMatchTheModel) {
    std::mt19937 rng(5);
    auto roll = [&](int n) { return static_cast<int>(rng() % n); };
    Model model[3][6];
    for (int step = 0; step < 30000; step++) {
        int side = 1 + roll(2), key = roll(6), depth = roll(5), bound = 1 + step % 3;
        int v = roll(2) ? roll(601) - 300 : (roll(2) ? 1 : -1) * (W + roll(8));
        Model& e = model[side][key];
        hashAge = 20 + roll(3);
        SCOPED_TRACE(step);
        if (roll(2)) {
            std::vector<int> moves = {1, 2, 3, 4, 5};
            std::shuffle(moves.begin(), moves.end(), rng);
            std::fill(moves.begin() + roll(4), moves.end(), -1);
            bool replace = roll(16) == 0;  // the root's store overwrites its slot
            (replace ? ttReplace : ttStore)(KEY ^ key, depth, v, bound, side, moves[0], moves[1], moves[2]);
            modelStore(e, replace, depth, v, bound, moves);
            TTSlot* t = slotOf(KEY ^ key, side);
            ASSERT_NE(t, nullptr);
            TTEntry stored = loadSlot<TTEntry>(*t);
            ASSERT_EQ(fields(stored, stored.validMoves), fields(e, 3 - std::ranges::count(e.moves, -1)));
            // Any bit of the check, bounds, depth, bound code or moves altered (not the age), as
            // when a store of another thread tears the entry: no match.
            int bit = roll(224), out[3] = {-7, -7, -7};
            if (bit >= 144 && bit < 160) continue;
            flip(t, bit);
            int found = ttProbe(0, -W * 2, W * 2, side, KEY ^ key, out, 3);
            EXPECT_EQ(std::pair(found, out[0]), std::pair(NO_SCORE, -7)) << bit;
            flip(t, bit);
        } else {
            int alpha = v + roll(9) - 4, beta = alpha + (roll(2) ? 1 : 1 + roll(400));
            int n = 1 + roll(3), got[3] = {-7, -7, -7}, want[3] = {-7, -7, -7};
            ASSERT_EQ(ttProbe(depth, alpha, beta, side, KEY ^ key, got, n),
                      modelProbe(e, depth, alpha, beta, n, want));
            ASSERT_EQ(std::vector<int>(got, got + 3), std::vector<int>(want, want + 3));
        }
    }
}

// Win lengths count from the node (budget 484 - t), each role and side has a table, entries
// check themselves, and entry 0 of a bucket keeps the deepest recent result of another position.
TEST_F(HashTable, ThreatTablesKeepWinLengthsAndTheDeepestRecentResultFirst) {
    threatStore(0, SECOND, KEY, TW - 7, 3);
    threatStore(1, SECOND, KEY, 3 - 10000482, 3);
    EXPECT_EQ(std::tuple(threatProbe(0, SECOND, KEY, 5), threatProbe(1, SECOND, KEY, 5),
                         threatProbe(0, FIRST, KEY, 5)),
              std::tuple(TW - 9, 5 - 10000482, NO_SCORE));
    for (int bit = 0; bit < 112; bit++) {  // any bit of the check, value or budget altered: no match
        flip(threatBucket(0, SECOND, KEY), bit);
        EXPECT_EQ(threatProbe(0, SECOND, KEY, 5), NO_SCORE) << bit;
        flip(threatBucket(0, SECOND, KEY), bit);
    }
    // Keys that share a bucket (they differ above every bucket-index bit).
    auto put = [](int i, int t, int v) { threatStore(0, FIRST, KEY ^ uint64_t(i) << 40, v, t); };
    auto get = [](int i, int t) { return threatProbe(0, FIRST, KEY ^ uint64_t(i) << 40, t); };
    put(1, 2, 0), put(2, 5, 0), put(3, 7, 0);  // budget 482 in entry 0, smaller ones in entry 1
    EXPECT_EQ(std::tuple(get(1, 2), get(2, 5), get(3, 7)), std::tuple(0, NO_SCORE, 0));
    put(4, 2, 0);  // an equal budget takes entry 0
    EXPECT_EQ(std::pair(get(1, 2), get(3, 7)), std::pair(NO_SCORE, 0));
    hashAge += 2;  // entry 0 is no longer recent
    put(1, 9, TW - 12);
    EXPECT_EQ(std::tuple(get(4, 2), get(1, 9), get(3, 7)), std::tuple(NO_SCORE, TW - 12, 0));
}

// Entries of another rule or board size must never steer a search (the keys hold neither): a
// change of either empties both tables, a new game of the same rule and size keeps them.
TEST_F(HashTable, ClearedOnRuleOrSizeChangeButNotOnNewGame) {
    auto probes = [] {
        int moves[3], v = ttProbe(4, -100, 100, FIRST, KEY, moves, 0);
        return std::pair(v, threatProbe(0, SECOND, KEY, 0));
    };
    auto fill = [] { ttStore(KEY, 4, 77, BOUND_EXACT, FIRST, -1, -1, -1), threatStore(0, SECOND, KEY, 0, 0); };
    fill();
    testpos::emptyBoard(RULE_STANDARD);
    EXPECT_EQ(probes(), std::pair(77, 0));
    testpos::emptyBoard(RULE_STANDARD, 20, 20);
    EXPECT_EQ(probes(), std::pair(NO_SCORE, NO_SCORE));
    fill();
    testpos::emptyBoard(RULE_RENJU, 20, 20);
    EXPECT_EQ(probes(), std::pair(NO_SCORE, NO_SCORE));
}

// Sizes for a memory budget: the largest tables that fit, against every pair of sizes; the
// smallest when nothing fits. Each further thread's record comes out of the tables' share.
TEST(HashSizes, LargestThatFitAndEveryThreadCounted) {
    for (uint64_t bytes : {0ull, 300000ull, 393216ull, 1000000ull, 25ull << 20, 308000000ull, 1ull << 30, 5ull << 30}) {
        uint64_t best = hashBytes({MIN_HASH_BUCKETS, MIN_HASH_BUCKETS});
        for (int64_t main = MIN_HASH_BUCKETS; main <= 1 << 26; main *= 2) {
            for (int64_t threat = MIN_HASH_BUCKETS; threat <= main; threat *= 2) {
                uint64_t size = hashBytes({int32_t(main), int32_t(threat)});
                if (threat * 4 >= main && size <= std::min(bytes, maxHashBytes())) best = std::max(best, size);
            }
        }
        EXPECT_EQ(hashBytes(hashSizesFor(bytes)), best) << bytes;
    }
    for (uint64_t limit : {64ull << 20, 367001600ull, 4ull << 30}) {
        EXPECT_LE(hashTableAllowance(limit, 4) + 3 * WORKER_BYTES, hashTableAllowance(limit, 1)) << limit;
        EXPECT_LE(hashTableAllowance(limit, 1) + WORKER_BYTES + sizeof lineTable, limit) << limit;
    }
    EXPECT_EQ(hashTableAllowance(20 << 20, 2), 0u);
}

}  // namespace

// A full bucket gives up its last entry of an older move, else its cheapest recent one: not
// one of this move, not an exact one, the shallowest of the rest.
TEST_F(HashTable, FullBucketGivesUpTheLastOldEntryElseTheCheapestRecentOne) {
    auto kept = [](std::vector<std::tuple<int, int, int>> entries) {  // age, depth, bound
        clearTables();
        entries.emplace_back(20, 4, BOUND_LOWER);  // the new position, stored last
        std::vector<bool> found;
        for (size_t i = 0; i < entries.size(); i++) {
            auto [age, depth, bound] = entries[i];
            hashAge = age;
            ttStore(KEY ^ uint64_t(i) << 40, depth, 0, bound, FIRST, -1, -1, -1);  // one bucket for all
        }
        for (size_t i = 0; i < entries.size(); i++) {
            found.push_back(slotOf(KEY ^ uint64_t(i) << 40, FIRST) != nullptr);
        }
        return found;
    };
    constexpr int U = BOUND_UPPER, X = BOUND_EXACT;
    EXPECT_EQ(kept({{20, 1, U}, {10, 9, U}, {10, 9, U}, {19, 1, U}}),
              std::vector<bool>({true, true, false, true, true}));
    EXPECT_EQ(kept({{20, 1, U}, {19, 6, U}, {19, 3, U}, {19, 2, X}}),
              std::vector<bool>({true, true, false, true, true}));
}
