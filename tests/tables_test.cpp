// The line-pattern tables against worked windows and against a slow classifier that only
// counts stones along the eleven cells; the shape-word tables, the bit tables and the keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <set>
#include <string>

#include "board/tables.h"

namespace {

constexpr int RULES[] = {RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU};

void useRule(int forRule) {
    boardWidth = boardHeight = boardSize = 15;
    updateReach = forRule == RULE_FREESTYLE ? 4 : 5;
    buildTables(forRule);
}

// Eleven cells c_0..c_10 written with . x o # (empty, first player, second player, blocked).
uint32_t window(const std::string& cells) {
    uint32_t w = 0;
    for (int k = 0; k < 11; k++) {
        w |= static_cast<uint32_t>(std::string(".xo#").find(cells[k])) << (2 * k);
    }
    return w;
}

std::string cellsOf(uint32_t w) {
    std::string text;
    for (int k = 0; k < 11; k++) text += ".xo#"[(w >> (2 * k)) & 3];
    return text;
}

// Whether player v (1 or 2) needs exactly five under the rule.
bool exactFive(int forRule, int v) {
    return forRule == RULE_STANDARD || (forRule == RULE_RENJU && v == FIRST);
}

TEST(LineTable, WorkedWindows) {
    struct Case {
        const char* cells;
        int expected[3][4];  // per rule: shape[0], shape[1], room[0], room[1]; -1 = not given
    };
    const Case cases[] = {
        {"...........", {{0, 0, 8, 8}, {0, 0, 8, 8}, {0, 0, 8, 8}}},
        {"..xxx.x....", {{12, 0, 8, 0}, {12, 0, 8, 0}, {12, 0, 8, 0}}},
        {".xxxx.x....", {{12, 0, 8, 0}, {13, 0, 8, 0}, {13, 0, 8, 0}}},
        {".oooo.o....", {{0, 12, 0, 8}, {0, 13, 0, 8}, {0, 12, 0, 8}}},
        {"..xxx..x...", {{11, -1, -1, -1}, {9, -1, -1, -1}, {9, -1, -1, -1}}},
        {"x.xxx..x...", {{11, -1, -1, -1}, {0, -1, -1, -1}, {0, -1, -1, -1}}},
        {"..ooo..o...", {{-1, 11, -1, -1}, {-1, 9, -1, -1}, {-1, 11, -1, -1}}},
        {".xxx..x....", {{9, -1, -1, -1}, {5, -1, -1, -1}, {5, -1, -1, -1}}},
        {".oxxx......", {{9, 0, 7, 4}, {9, 0, 7, 4}, {9, 0, 7, 4}}},
    };
    for (int forRule : RULES) {
        useRule(forRule);
        for (const Case& c : cases) {
            const LineEntry& e = lineTable[window(c.cells)];
            const int got[4] = {e.shape[0], e.shape[1], e.room[0], e.room[1]};
            for (int i = 0; i < 4; i++) {
                if (c.expected[forRule][i] >= 0) {
                    EXPECT_EQ(got[i], c.expected[forRule][i])
                        << c.cells << " rule " << forRule << " field " << i;
                }
            }
            EXPECT_EQ(computeLineEntry(window(c.cells), forRule).shape[0], e.shape[0]) << c.cells;
        }
    }
}

TEST(LineTable, OccupiedSquareHasNothing) {
    for (int forRule : RULES) {
        useRule(forRule);
        int wrong = 0;
        for (uint32_t w = 0; w < WINDOW_COUNT; w++) {
            if (((w >> 10) & 3) == EMPTY) continue;
            const LineEntry& e = lineTable[w];
            if ((e.shape[0] | e.shape[1] | e.room[0] | e.room[1]) != 0) wrong++;
        }
        EXPECT_EQ(wrong, 0) << "rule " << forRule;
    }
}

// What player v gets by playing c_5, found by counting stones along the cells only.
class SlowLine {
public:
    SlowLine(uint32_t w, int v, bool exact) : v_(v), exact_(exact) {
        for (int k = 0; k < 11; k++) c_[k] = (w >> (2 * k)) & 3;
        c_[5] = v;
    }

    // Length of v's run through c_5 once v has played there.
    int run() const { return runThrough(5); }
    bool five() const { return exact_ ? run() == 5 : run() >= 5; }

    // Empty cells that, played as well, give v a five through c_5.
    int completions() {
        int n = 0;
        for (int e = 1; e <= 9; e++) n += completes(e) ? 1 : 0;
        return n;
    }

    // Four in a row through c_5 with a completing cell at each end.
    bool straightOpenFour() {
        int left = 5, right = 5;
        while (left > 0 && c_[left - 1] == v_) left--;
        while (right < 10 && c_[right + 1] == v_) right++;
        return right - left + 1 == 4 && completes(left - 1) && completes(right + 1);
    }

    // One more stone of v on the line can give a straight open four through c_5.
    bool threatensOpenFour() {
        for (int e = 1; e <= 9; e++) {
            if (e == 5 || c_[e] != EMPTY) continue;
            c_[e] = v_;
            bool openFour = straightOpenFour();
            c_[e] = EMPTY;
            if (openFour) return true;
        }
        return false;
    }

    // Cells among the four nearest on each side that v can reach without crossing an
    // opponent's stone or a block.
    int room() const {
        int n = 0;
        for (int k = 4; k >= 1 && (c_[k] == EMPTY || c_[k] == v_); k--) n++;
        for (int k = 6; k <= 9 && (c_[k] == EMPTY || c_[k] == v_); k++) n++;
        return n;
    }

private:
    int runThrough(int at) const {
        int n = 1;
        for (int k = at - 1; k >= 0 && c_[k] == v_; k--) n++;
        for (int k = at + 1; k <= 10 && c_[k] == v_; k++) n++;
        return n;
    }

    // Playing e makes a five that contains c_5 (exactly five where the rule says so).
    bool completes(int e) {
        if (e < 1 || e > 9 || e == 5 || c_[e] != EMPTY) return false;
        for (int k = std::min(e, 5) + 1; k < std::max(e, 5); k++) {
            if (c_[k] != v_) return false;
        }
        c_[e] = v_;
        int n = runThrough(e);
        c_[e] = EMPTY;
        return exact_ ? n == 5 : n >= 5;
    }

    int c_[11];
    int v_;
    bool exact_;
};

// Counts the windows that break one property and keeps the first of them.
struct Breaches {
    explicit Breaches(const char* what) : property(what) {}

    void check(bool holds, uint32_t w, int v, int shape) {
        if (holds || count++ > 0) return;
        first = cellsOf(w) + " player " + std::to_string(v) + " shape " + std::to_string(shape);
    }

    const char* property;
    long count = 0;
    std::string first;
};

// Swaps the two players' stones of a window, or mirrors it end for end.
uint32_t swapColours(uint32_t w) {
    uint32_t swapped = 0;
    for (int k = 0; k < 11; k++) {
        uint32_t c = (w >> (2 * k)) & 3;
        swapped |= (c == FIRST || c == SECOND ? 3 - c : c) << (2 * k);
    }
    return swapped;
}

uint32_t mirrored(uint32_t w) {
    uint32_t m = 0;
    for (int k = 0; k < 11; k++) m |= ((w >> (2 * k)) & 3) << (2 * (10 - k));
    return m;
}

TEST(LineTable, AgreesWithSlowClassifierOnEveryWindow) {
    for (int forRule : RULES) {
        useRule(forRule);
        Breaches fiveIs12{"12 exactly when the move makes five"};
        Breaches overlineIs13{"13 exactly when an exact-five player makes six or more"};
        Breaches fourIs9to11{"9..11 exactly when one more move makes five"};
        Breaches openFourIs11{"11 exactly for a straight four with a completion at each end"};
        Breaches threeIs7or8{"7 and 8 where no move makes five but one more gives an open four"};
        Breaches roomCount{"room counts the reachable cells"};
        Breaches edgeCells{"c_0 and c_10 matter only to exact-five players"};
        Breaches symmetric{"a window read backwards gives the same entry"};
        Breaches sameForBoth{"the players are treated alike where the rule does"};
        for (uint32_t high = 0; high < 1024; high++) {
            for (uint32_t low = 0; low < 1024; low++) {
                uint32_t w = low | (high << 12);
                const LineEntry& e = lineTable[w];
                const LineEntry& backwards = lineTable[mirrored(w)];
                const LineEntry& swapped = lineTable[swapColours(w)];
                for (int v = 1; v <= 2; v++) {
                    int p = v - 1;
                    bool exact = exactFive(forRule, v);
                    int shape = e.shape[p];
                    symmetric.check(backwards.shape[p] == shape && backwards.room[p] == e.room[p],
                                    w, v, shape);
                    if (forRule != RULE_RENJU) {
                        sameForBoth.check(
                            swapped.shape[1 - p] == shape && swapped.room[1 - p] == e.room[p], w,
                            v, shape);
                    }
                    SlowLine line(w, v, exact);
                    fiveIs12.check((shape == SHAPE_FIVE) == line.five(), w, v, shape);
                    bool overline = exact && line.run() >= 6;
                    overlineIs13.check((shape == SHAPE_OVERLINE) == overline, w, v, shape);
                    roomCount.check(e.room[p] == line.room(), w, v, shape);
                    if (!exact) {
                        const LineEntry& inner = lineTable[w & ~(3u | (3u << 20))];
                        edgeCells.check(inner.shape[p] == shape && inner.room[p] == e.room[p], w, v,
                                        shape);
                    }
                    if (shape >= SHAPE_FIVE) continue;
                    bool four = line.completions() >= 1;
                    fourIs9to11.check((shape >= SHAPE_CLOSED_FOUR) == four, w, v, shape);
                    bool openFour = line.straightOpenFour();
                    openFourIs11.check((shape == SHAPE_OPEN_FOUR) == openFour, w, v, shape);
                    // A three of an exact-five player is judged by its own five-cell window: the
                    // open four it aims at may have an end where filling it makes six.
                    bool three = shape == SHAPE_SPLIT_THREE || shape == SHAPE_THREE;
                    if (three) {
                        threeIs7or8.check(SlowLine(w, v, false).threatensOpenFour(), w, v, shape);
                    }
                    if (!four && !three) threeIs7or8.check(!line.threatensOpenFour(), w, v, shape);
                }
            }
        }
        for (const Breaches* b : {&fiveIs12, &overlineIs13, &fourIs9to11, &openFourIs11,
                                  &threeIs7or8, &roomCount, &edgeCells, &symmetric, &sameForBoth}) {
            EXPECT_EQ(b->count, 0) << "rule " << forRule << ": " << b->property << ", e.g. "
                                   << b->first;
        }
    }
}

// The word with its four codes in ascending order: one representative of all their orders.
int sortedWord(int word) {
    int n[4] = {word & 15, (word >> 4) & 15, (word >> 8) & 15, word >> 12};
    std::sort(n, n + 4);
    return n[0] | (n[1] << 4) | (n[2] << 8) | (n[3] << 12);
}

bool codesInRange(int word) {
    for (int d = 0; d < 4; d++) {
        if (((word >> (4 * d)) & 15) > SHAPE_OVERLINE) return false;
    }
    return true;
}

TEST(ShapeWords, ScoresDependOnTheCodesNotOnTheirDirections) {
    for (int forRule : RULES) {
        useRule(forRule);
        int wrong = 0, outOfRange = 0, playersDiffer = 0;
        for (int word = 0; word < 65536; word++) {
            int sorted = sortedWord(word);
            for (int p = 0; p < 2; p++) {
                if (shapeScore[p][word] != shapeScore[p][sorted]) wrong++;
                int score = shapeScore[p][word];
                if (codesInRange(word) && (score < -2 || score > 6253)) outOfRange++;
            }
            if (shapeSum[word] != shapeSum[sorted]) wrong++;
            if (shapeFlags[word] != shapeFlags[sorted]) wrong++;
            if (shapeScore[0][word] != shapeScore[1][word]) playersDiffer++;
        }
        EXPECT_EQ(wrong, 0) << "rule " << forRule;
        EXPECT_EQ(outOfRange, 0) << "rule " << forRule;
        // Only Renju treats the first player differently.
        if (forRule == RULE_RENJU) EXPECT_GT(playersDiffer, 0);
        else EXPECT_EQ(playersDiffer, 0) << "rule " << forRule;

        EXPECT_EQ(shapeScore[0][0], 0);
        EXPECT_EQ(shapeScore[1][0], 0);
        for (int d = 0; d < 4; d++) EXPECT_EQ(shapeScore[1][SHAPE_FIVE << (4 * d)], 103) << d;
    }
}

TEST(ShapeWords, RenjuGivesNothingForTheFirstPlayersForbiddenShapes) {
    useRule(RULE_RENJU);
    // Double fours, three threes, a four with two threes: the second player keeps its value.
    for (int word : {0x0099, 0x0A90, 0x9B00, 0x0888, 0x0778, 0x7879}) {
        EXPECT_EQ(shapeScore[0][word], 0) << word;
        EXPECT_GT(shapeScore[1][word], 0) << word;
    }
    // An overline without a five: only an exact-five player ever has code 13.
    EXPECT_EQ(shapeScore[0][0x000D], 0);
    EXPECT_EQ(shapeScore[0][0x05D5], 0);
    // A five wins even beside an overline or a double four.
    EXPECT_GT(shapeScore[0][0x00DC], 0);
    EXPECT_GT(shapeScore[0][0x09C9], 0);
    // A four with a three is no foul.
    EXPECT_EQ(shapeScore[0][0x0097], shapeScore[1][0x0097]);
}

TEST(BitTables, CountsAndLowestBits) {
    useRule(RULE_FREESTYLE);
    EXPECT_EQ(bitCount[32768], 1);
    EXPECT_EQ(bitCount[32767], 15);
    EXPECT_EQ(lowBitIndex[32768], 15);
    for (int n = 0; n <= 32768; n++) {
        unsigned u = static_cast<unsigned>(n);
        ASSERT_EQ(bitCount[n], std::popcount(u)) << n;
        ASSERT_EQ(lowBitIndex[n], std::has_single_bit(u) ? std::countr_zero(u) : 0) << n;
    }
    std::mt19937 rng(3);
    for (int i = 0; i < 10000; i++) {
        uint32_t w = rng() >> (i % 31);
        if (w == 0) continue;
        ASSERT_EQ(lowestBit(w), std::countr_zero(w)) << w;
    }
    for (int b = 0; b <= 31; b++) EXPECT_EQ(lowestBit(1u << b), b);
}

TEST(Zobrist, KeysAreNonZeroDistinctSpreadAndFixed) {
    useRule(RULE_FREESTYLE);
    std::set<uint64_t> keys;
    int bitSet[64] = {};
    for (int x = 0; x < MAX_BOARD; x++) {
        for (int y = 0; y < MAX_BOARD; y++) {
            for (int k = 0; k < 3; k++) {
                uint64_t key = zobrist[x * 32 + y][k];
                EXPECT_NE(key, 0u);
                keys.insert(key);
                for (int b = 0; b < 64; b++) bitSet[b] += (key >> b) & 1;
            }
        }
    }
    const int total = MAX_BOARD * MAX_BOARD * 3;
    EXPECT_EQ(static_cast<int>(keys.size()), total);
    for (int b = 0; b < 64; b++) {
        EXPECT_GT(bitSet[b], total * 4 / 10) << "bit " << b;
        EXPECT_LT(bitSet[b], total * 6 / 10) << "bit " << b;
    }
    uint64_t before = zobrist[7 * 32 + 7][0];
    useRule(RULE_RENJU);
    useRule(RULE_STANDARD);
    EXPECT_EQ(zobrist[7 * 32 + 7][0], before);
}

}  // namespace
