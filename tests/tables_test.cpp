// The line-pattern tables against a slow classifier that counts stones along the eleven cells,
// and a few codes it cannot tell apart; the bit tables against the standard library.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <ranges>
#include <set>
#include <string>

#include "board/tables.h"

namespace {

constexpr int RULES[] = {RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU};
const std::string CELLS = ".xo#";  // a cell: empty, first player, second player, blocked

void useRule(int forRule) {
    boardWidth = boardHeight = boardSize = 15;
    updateReach = forRule == RULE_FREESTYLE ? 4 : 5;
    buildTables(forRule);
}

// Codes the classifier below does not separate (9 from 10, 7 from 8, the lower ones): the first
// player's under free-style and under the exact-five rules; the second player's are 0.
TEST(LineTable, PinnedCodes) {
    const struct { const char* cells; int free, exact; } cases[] = {
        {"..xxx..x...", 11, 9}, {".xxx..x....", 9, 5}, {".oxxx......", 9, 9}, {"...xx......", 8, 8},
        {"..#xx......", 6, 6}, {"...x..x....", 7, 7}, {"...x.......", 4, 4}};
    for (int forRule : RULES) {
        useRule(forRule);
        for (const auto& c : cases) {
            uint32_t w = 0;
            for (int k = 0; k < 11; k++) w |= uint32_t(CELLS.find(c.cells[k])) << 2 * k;
            int want = forRule == RULE_FREESTYLE ? c.free : c.exact;
            EXPECT_EQ(lineTable[w].shape[0] | lineTable[w].shape[1] << 4, want) << c.cells;
        }
    }
}

// What player v gets by playing c_5, found by counting stones along the cells only.
struct SlowLine {
    int c[11], v, l = 0, r = 0;  // l, r: the ends of the run last measured
    bool exact;                  // only exactly five stones make a five

    SlowLine(uint32_t w, int player, bool exactFive) : v(player), exact(exactFive) {
        for (int k = 0; k < 11; k++) c[k] = k == 5 ? v : (w >> (2 * k)) & 3;
    }
    // The length of v's run through cell at.
    int run(int at = 5) {
        for (l = at; l > 0 && c[l - 1] == v;) l--;
        for (r = at; r < 10 && c[r + 1] == v;) r++;
        return r - l + 1;
    }
    bool five(int n) const { return exact ? n == 5 : n >= 5; }

    // Whether f holds once v has played the empty cell e as well; whether f(e) holds for some e.
    bool with(int e, auto f) {
        if (e < 1 || e > 9 || e == 5 || c[e] != EMPTY) return false;
        c[e] = v;
        bool holds = f();
        return c[e] = EMPTY, holds;
    }
    bool anyCell(auto f) { return std::ranges::any_of(std::views::iota(1, 10), f); }

    // Playing e as well makes a five that contains c_5.
    bool completes(int e) { return with(e, [&] { return five(run(e)) && five(run()); }); }
    bool four() { return anyCell([&](int e) { return completes(e); }); }
    // Four in a row through c_5 with a completing cell at each end.
    bool straightOpenFour() {
        if (run() != 4) return false;
        int a = l - 1, b = r + 1;
        return completes(a) && completes(b);
    }
    bool threatensOpenFour() {
        return anyCell([&](int e) { return with(e, [&] { return straightOpenFour(); }); });
    }

    // Cells among the four nearest on each side that v reaches past no opponent or block.
    int room() const {
        int n = 0;
        for (int k = 4; k >= 1 && (c[k] == EMPTY || c[k] == v); k--) n++;
        for (int k = 6; k <= 9 && (c[k] == EMPTY || c[k] == v); k++) n++;
        return n;
    }
};

// The first property that the table's entry for window w breaks for player v, or nullptr: an
// occupied c_5 gives nothing, an empty one what the slow classifier finds, and the table is
// symmetric end for end and (but for Renju) in colour.
const char* breach(uint32_t w, int v, int forRule) {
    const LineEntry& e = lineTable[w];
    bool nothing = (e.shape[0] | e.shape[1] | e.room[0] | e.room[1]) == 0;
    if (((w >> 10) & 3) != EMPTY) return nothing ? nullptr : "an occupied c_5 gives nothing";
    uint32_t mirrored = 0, swapped = 0;
    for (int k = 0; k < 11; k++) {
        uint32_t c = (w >> (2 * k)) & 3;
        mirrored |= c << (2 * (10 - k));
        swapped |= (c == FIRST || c == SECOND ? 3 - c : c) << (2 * k);
    }
    const LineEntry &back = lineTable[mirrored], &other = lineTable[swapped];
    const LineEntry& inner = lineTable[w & ~0x300003u];  // c_0 and c_10 empty
    int p = v - 1, shape = e.shape[p], room = e.room[p];
    bool exact = forRule == RULE_STANDARD || (forRule == RULE_RENJU && v == FIRST);
    SlowLine line(w, v, exact);
    if (back.shape[p] != shape || back.room[p] != room) return "a window read backwards is alike";
    bool alike = other.shape[1 - p] == shape && other.room[1 - p] == room;
    if (forRule != RULE_RENJU && !alike) return "the colours are treated alike";
    if ((shape == SHAPE_FIVE) != line.five(line.run())) return "12 exactly for a five";
    if ((shape == SHAPE_OVERLINE) != (exact && line.run() > 5)) return "13 for an exact-five six";
    if (room != line.room()) return "room counts the reachable cells";
    bool outerCells = inner.shape[p] != shape || inner.room[p] != room;
    if (!exact && outerCells) return "c_0, c_10 only count for exact fives";
    if (shape >= SHAPE_FIVE) return nullptr;
    bool four = line.four(), three = shape == SHAPE_SPLIT_THREE || shape == SHAPE_THREE;
    if ((shape >= SHAPE_CLOSED_FOUR) != four) return "9..11 exactly when one more move makes five";
    if ((shape == SHAPE_OPEN_FOUR) != line.straightOpenFour()) return "11 for a straight open four";
    // An exact-five player's three is judged by its own five-cell window: the open four it
    // aims at may have an end where filling it makes six.
    if (three && !SlowLine(w, v, false).threatensOpenFour()) return "7, 8 can become an open four";
    if (!four && !three && line.threatensOpenFour()) return "no three is missed";
    return nullptr;
}

TEST(LineTable, AgreesWithSlowClassifierOnEveryWindow) {
    for (int forRule : RULES) {
        useRule(forRule);
        std::set<std::string> reported;  // each property once, with its first window
        for (uint32_t w = 0; w < 2 * WINDOW_COUNT; w++) {
            const char* property = breach(w / 2, 1 + w % 2, forRule);
            if (property == nullptr || !reported.insert(property).second) continue;
            std::string cells;
            for (int k = 0; k < 11; k++) cells += CELLS[(w >> (2 * k + 1)) & 3];
            ADD_FAILURE() << "rule " << forRule << ", player " << 1 + w % 2 << ": " << property
                          << ", e.g. " << cells;
        }
    }
}

TEST(BitTables, CountsAndLowestBits) {
    useRule(RULE_FREESTYLE);
    for (unsigned n = 0; n <= 32768; n++) {
        ASSERT_EQ(bitCount[n], std::popcount(n)) << n;
        ASSERT_EQ(lowBitIndex[n], std::has_single_bit(n) ? std::countr_zero(n) : 0) << n;
    }
    std::mt19937 rng(3);
    for (uint32_t i = 0, w = 1; i < 10000; i++, w = (rng() >> (i % 32)) | (1u << (i % 32))) {
        ASSERT_EQ(lowestBit(w), std::countr_zero(w)) << w;
    }
}

}  // namespace
