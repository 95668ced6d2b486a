#include "board/tables.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "board/hugepages.h"

alignas(HUGE_PAGE_ALIGN) LineEntry lineTable[WINDOW_COUNT];
int16_t shapeScore[2][65536];
int16_t shapeSum[65536];
uint16_t shapeFlags[65536];
uint64_t zobrist[SQUARE_SLOTS][3];
uint8_t lowBitIndex[32769];
uint8_t bitCount[32769];
int32_t diagPos[SQUARE_SLOTS];
int32_t antiPos[SQUARE_SLOTS];
LineSpan lineSpan[4][SQUARE_SLOTS];

int32_t tablesRule = -1;
int32_t boardWidth = 0;
int32_t boardHeight = 0;
int32_t boardSize = 0;
int32_t updateReach = 4;

// windowShape[m' * 5 + j]: m' = stone mask (bit k = window cell k, cell 0 nearest the
// window's start) + 32 when closed before + 64 when closed after; column j = w - 1 puts
// the square on window cell 4 - j.
const uint8_t windowShape[640] = {
    // open both sides
     1,  1,  1,  1,  1,  // .....
     1,  3,  4,  5,  0,  // x....
     3,  4,  5,  0,  5,  // .x...
     6,  7,  8,  0,  0,  // xx...
     4,  5,  0,  5,  4,  // ..x..
     6,  7,  0,  8,  0,  // x.x..
     7,  8,  0,  0,  8,  // .xx..
    10, 11,  0,  0,  0,  // xxx..
     5,  0,  5,  4,  3,  // ...x.
     6,  0,  7,  7,  0,  // x..x.
     7,  0,  8,  0,  7,  // .x.x.
     9,  0, 11,  0,  0,  // xx.x.
     8,  0,  0,  8,  7,  // ..xx.
    10,  0,  0, 11,  0,  // x.xx.
    11,  0,  0,  0, 11,  // .xxx.
    12,  0,  0,  0,  0,  // xxxx.
     0,  5,  4,  3,  1,  // ....x
     0,  6,  6,  6,  0,  // x...x
     0,  7,  7,  0,  6,  // .x..x
     0,  9, 10,  0,  0,  // xx..x
     0,  8,  0,  7,  6,  // ..x.x
     0, 10,  0, 10,  0,  // x.x.x
     0, 11,  0,  0, 10,  // .xx.x
     0, 12,  0,  0,  0,  // xxx.x
     0,  0,  8,  7,  6,  // ...xx
     0,  0, 10,  9,  0,  // x..xx
     0,  0, 11,  0,  9,  // .x.xx
     0,  0, 12,  0,  0,  // xx.xx
     0,  0,  0, 11, 10,  // ..xxx
     0,  0,  0, 12,  0,  // x.xxx
     0,  0,  0,  0, 12,  // .xxxx
     0,  0,  0,  0,  0,  // xxxxx
    // closed before
     1,  1,  1,  1,  0,  // .....
     1,  2,  2,  2,  0,  // x....
     3,  4,  5,  0,  2,  // .x...
     6,  6,  6,  0,  0,  // xx...
     4,  5,  0,  5,  2,  // ..x..
     6,  6,  0,  6,  0,  // x.x..
     7,  8,  0,  0,  6,  // .xx..
     9,  9,  0,  0,  0,  // xxx..
     5,  0,  5,  4,  2,  // ...x.
     6,  0,  6,  6,  0,  // x..x.
     7,  0,  8,  0,  6,  // .x.x.
     9,  0,  9,  0,  0,  // xx.x.
     8,  0,  0,  8,  6,  // ..xx.
    10,  0,  0,  9,  0,  // x.xx.
    11,  0,  0,  0,  9,  // .xxx.
    12,  0,  0,  0,  0,  // xxxx.
     0,  5,  4,  3,  1,  // ....x
     0,  6,  6,  6,  0,  // x...x
     0,  7,  7,  0,  6,  // .x..x
     0,  9,  9,  0,  0,  // xx..x
     0,  8,  0,  7,  6,  // ..x.x
     0, 10,  0,  9,  0,  // x.x.x
     0, 11,  0,  0,  9,  // .xx.x
     0, 12,  0,  0,  0,  // xxx.x
     0,  0,  8,  7,  6,  // ...xx
     0,  0, 10,  9,  0,  // x..xx
     0,  0, 11,  0,  9,  // .x.xx
     0,  0, 12,  0,  0,  // xx.xx
     0,  0,  0, 11, 10,  // ..xxx
     0,  0,  0, 12,  0,  // x.xxx
     0,  0,  0,  0, 12,  // .xxxx
     0,  0,  0,  0,  0,  // xxxxx
    // closed after
     0,  1,  1,  1,  1,  // .....
     1,  3,  4,  5,  0,  // x....
     2,  4,  5,  0,  5,  // .x...
     6,  7,  8,  0,  0,  // xx...
     2,  5,  0,  5,  4,  // ..x..
     6,  7,  0,  8,  0,  // x.x..
     6,  8,  0,  0,  8,  // .xx..
    10, 11,  0,  0,  0,  // xxx..
     2,  0,  5,  4,  3,  // ...x.
     6,  0,  7,  7,  0,  // x..x.
     6,  0,  8,  0,  7,  // .x.x.
     9,  0, 11,  0,  0,  // xx.x.
     6,  0,  0,  8,  7,  // ..xx.
     9,  0,  0, 11,  0,  // x.xx.
     9,  0,  0,  0, 11,  // .xxx.
    12,  0,  0,  0,  0,  // xxxx.
     0,  2,  2,  2,  1,  // ....x
     0,  6,  6,  6,  0,  // x...x
     0,  6,  6,  0,  6,  // .x..x
     0,  9, 10,  0,  0,  // xx..x
     0,  6,  0,  6,  6,  // ..x.x
     0,  9,  0, 10,  0,  // x.x.x
     0,  9,  0,  0, 10,  // .xx.x
     0, 12,  0,  0,  0,  // xxx.x
     0,  0,  6,  6,  6,  // ...xx
     0,  0,  9,  9,  0,  // x..xx
     0,  0,  9,  0,  9,  // .x.xx
     0,  0, 12,  0,  0,  // xx.xx
     0,  0,  0,  9,  9,  // ..xxx
     0,  0,  0, 12,  0,  // x.xxx
     0,  0,  0,  0, 12,  // .xxxx
     0,  0,  0,  0,  0,  // xxxxx
    // closed both sides
     0,  0,  0,  0,  0,  // .....
     1,  1,  1,  1,  0,  // x....
     1,  1,  1,  0,  1,  // .x...
     6,  6,  6,  0,  0,  // xx...
     1,  1,  0,  1,  1,  // ..x..
     6,  6,  0,  6,  0,  // x.x..
     6,  6,  0,  0,  6,  // .xx..
     9,  9,  0,  0,  0,  // xxx..
     1,  0,  1,  1,  1,  // ...x.
     6,  0,  6,  6,  0,  // x..x.
     6,  0,  6,  0,  6,  // .x.x.
     9,  0,  9,  0,  0,  // xx.x.
     6,  0,  0,  6,  6,  // ..xx.
     9,  0,  0,  9,  0,  // x.xx.
     9,  0,  0,  0,  9,  // .xxx.
    12,  0,  0,  0,  0,  // xxxx.
     0,  1,  1,  1,  1,  // ....x
     0,  6,  6,  6,  0,  // x...x
     0,  6,  6,  0,  6,  // .x..x
     0,  9,  9,  0,  0,  // xx..x
     0,  6,  0,  6,  6,  // ..x.x
     0,  9,  0,  9,  0,  // x.x.x
     0,  9,  0,  0,  9,  // .xx.x
     0, 12,  0,  0,  0,  // xxx.x
     0,  0,  6,  6,  6,  // ...xx
     0,  0,  9,  9,  0,  // x..xx
     0,  0,  9,  0,  9,  // .x.xx
     0,  0, 12,  0,  0,  // xx.xx
     0,  0,  0,  9,  9,  // ..xxx
     0,  0,  0, 12,  0,  // x.xxx
     0,  0,  0,  0, 12,  // .xxxx
     0,  0,  0,  0,  0,  // xxxxx
};

namespace {

// A shape code's rank in a square's sum that orders and extends moves.
constexpr int SHAPE_WEIGHT[16] = {0, 1, 2, 6, 7, 10, 23, 158, 175, 256, 256, 511, 2047, 0, 0, 0};

}  // namespace

// By rule (free-style, standard, Renju); tools/tune_eval fits the rows of the quiet shapes.
const int EVAL_SHAPE_WEIGHT[3][16] = {
    {0, 1, 2, 6, 7, 10, 23, 158, 175, 256, 256, 511, 2047, 0, 0, 0},
    {0, 1, 2, 6, 7, 10, 23, 158, 175, 256, 256, 511, 2047, 0, 0, 0},
    {0, 1, 2, 6, 7, 10, 23, 158, 175, 256, 256, 511, 2047, 0, 0, 0}};
const int EVAL_TOP_DISCOUNT[3][16] = {
    {0, 2, 4, 4, 5, 8, 21, 148, 165, 216, 216, 411, 1947, 0, 0, 0},
    {0, 2, 4, 4, 5, 8, 21, 148, 165, 216, 216, 411, 1947, 0, 0, 0},
    {0, 2, 4, 4, 5, 8, 21, 148, 165, 216, 216, 411, 1947, 0, 0, 0}};

namespace {

constexpr int PAIR_FACTOR[16] = {3, 5, 4, 16, 16, 16, 16, 36, 36, 36, 40, 128, 256, 0, 0, 0};

// Colour (0 none, 1 or 2 one owner, 3 mixed or blocked) and owner mask of every
// five-cell window, indexed by its ten bits.
uint8_t fiveColour[1024];
uint8_t fiveMask[1024];
bool stillToBuildShapeWords = true;
bool stillToDrawKeys = true;

void buildFiveWindows() {
    for (int bits = 0; bits < 1024; bits++) {
        int colour = 0, mask = 0;
        for (int k = 0; k < 5; k++) {
            int c = (bits >> (2 * k)) & 3;
            if (c == 1 || c == 2) {
                colour |= c;
                mask |= 1 << k;
            } else if (c == 3) {
                colour = 3;
            }
        }
        fiveColour[bits] = static_cast<uint8_t>(colour);
        fiveMask[bits] = static_cast<uint8_t>(mask);
    }
}

// Both sides of the completing squares of an open four under the exact-five rule: a
// stone of v just beyond a completing square makes that completion an overline.
bool ownStoneBeyondRun(const int* c, int v, int from, int step) {
    int k = from, run = 0;
    while (run < 4 && c[k] == v) {
        k += step;
        run++;
    }
    return run == 4 ? c[k] == v : c[k + step] == v;
}

struct ExactFive {
    bool of[3];  // indexed by player value
};

ExactFive exactFiveFor(int forRule) {
    return {{false, forRule == RULE_STANDARD || forRule == RULE_RENJU, forRule == RULE_STANDARD}};
}

LineEntry lineEntryOf(uint32_t i, const ExactFive& exact) {
    LineEntry e{};
    int c[11];
    for (int k = 0; k < 11; k++) c[k] = (i >> (2 * k)) & 3;
    if (c[5] != EMPTY) return e;  // an occupied square has no shape and no room
    int best[3] = {0, 0, 0};
    bool overline[3] = {false, false, false};
    for (int w = 1; w <= 5; w++) {
        uint32_t bits = (i >> (2 * w)) & 0x3FF;
        int v = fiveColour[bits];
        if (v == 0 || v == 3) continue;
        int opp = 3 - v;
        bool before = w == 1 || c[w - 1] == opp || c[w - 1] == BLOCKED;
        bool after = w == 5 || c[w + 5] == opp || c[w + 5] == BLOCKED;
        int code = windowShape[(fiveMask[bits] + 32 * before + 64 * after) * 5 + w - 1];
        if (code <= best[v]) continue;
        if (exact.of[v] && (c[w - 1] == v || c[w + 5] == v)) {
            if (code == SHAPE_FIVE) overline[v] = true;
            continue;
        }
        best[v] = code;
    }
    for (int v = 1; v <= 2; v++) {
        int shape = overline[v] ? SHAPE_OVERLINE : best[v];
        if (exact.of[v] && shape == SHAPE_OPEN_FOUR) {
            bool leftFlag = ownStoneBeyondRun(c, v, 4, -1);
            bool rightFlag = ownStoneBeyondRun(c, v, 6, 1);
            if (leftFlag && rightFlag) shape = SHAPE_NONE;
            else if (leftFlag || rightFlag) shape = SHAPE_CLOSED_FOUR;
        }
        int room = 0;
        for (int k = 4; k >= 1 && (c[k] == EMPTY || c[k] == v); k--) room++;
        for (int k = 6; k <= 9 && (c[k] == EMPTY || c[k] == v); k++) room++;
        e.shape[v - 1] = static_cast<uint8_t>(shape);
        e.room[v - 1] = static_cast<uint8_t>(room);
    }
    return e;
}

void fillLineTable(int forRule) {
    ExactFive exact = exactFiveFor(forRule);
    // Before the first write, which places the pages; later fills find them in place.
    adviseHugePages(lineTable, sizeof lineTable);
    std::memset(lineTable, 0, sizeof lineTable);
    // Only windows whose middle cell (bits 10..11) is empty have anything to say.
    for (uint32_t high = 0; high < 1024; high++) {
        for (uint32_t low = 0; low < 1024; low++) {
            uint32_t i = low | (high << 12);
            lineTable[i] = lineEntryOf(i, exact);
        }
    }
}

void fillShapeScores(int forRule) {
    for (int word = 0; word < 65536; word++) {
        int n[4] = {word & 15, (word >> 4) & 15, (word >> 8) & 15, word >> 12};
        std::sort(n, n + 4, [](int l, int r) { return l > r; });
        shapeScore[1][word] = static_cast<int16_t>(shapeValue(n[0], n[1], n[2], n[3], forRule, false));
        shapeScore[0][word] = static_cast<int16_t>(
            shapeValue(n[0], n[1], n[2], n[3], forRule, forRule == RULE_RENJU));
    }
}

void fillShapeWords() {
    for (int word = 0; word < 65536; word++) {
        int sum = 0, atLeastTwo = 0, flags = 0;
        for (int d = 0; d < 4; d++) {
            int code = (word >> (4 * d)) & 15;
            sum += SHAPE_WEIGHT[code];
            if (code >= 3) atLeastTwo++;
            if (code >= 7) flags |= 16;
            if (code >= 9) flags |= 32;
            if (code == 10) flags |= 64;
        }
        shapeSum[word] = static_cast<int16_t>(sum);
        shapeFlags[word] = static_cast<uint16_t>(atLeastTwo + flags);
    }
}

// Fifteen random bits, the same on every platform whatever RAND_MAX is.
uint64_t randomBits() { return static_cast<uint64_t>(std::rand() & 0x7FFF); }

void drawKeys() {
    for (int x = 0; x < MAX_BOARD; x++) {
        for (int y = 0; y < MAX_BOARD; y++) {
            for (int k = 0; k < 3; k++) {
                uint64_t key = 0;
                while (key == 0) {
                    key = randomBits() ^ (randomBits() << 15) ^ (randomBits() << 30) ^
                          (randomBits() << 45) ^ (randomBits() << 60);
                }
                zobrist[x * 32 + y][k] = key;
            }
        }
    }
}

}  // namespace

void drawZobristKeys(unsigned seed) {
    std::srand(seed);
    drawKeys();
    stillToDrawKeys = false;
}

namespace {

void fillBitTables() {
    std::memset(lowBitIndex, 0, sizeof lowBitIndex);
    for (int k = 0; k <= 15; k++) lowBitIndex[1 << k] = static_cast<uint8_t>(k);
    bitCount[0] = 0;
    for (int n = 1; n <= 32768; n++) bitCount[n] = static_cast<uint8_t>(bitCount[n - (n & -n)] + 1);
}

// Run along direction d through (x, y) clipped to the given rectangle, as the smallest and
// largest square index; the square itself always belongs to it.
LineSpan clippedSpan(int x, int y, int d, int width, int height) {
    static constexpr int DX[4] = {0, 1, 1, 1};
    static constexpr int DY[4] = {1, 0, -1, 1};
    int lo = 0, hi = 0;
    auto inside = [&](int k) {
        int tx = x + k * DX[d], ty = y + k * DY[d];
        return tx >= 0 && ty >= 0 && tx < width && ty < height;
    };
    while (lo > -updateReach && inside(lo - 1)) lo--;
    while (hi < updateReach && inside(hi + 1)) hi++;
    int s = x * 32 + y;
    return {s + lo * DIRECTION_STEP[d], s + hi * DIRECTION_STEP[d], 0};
}

void fillGeometry() {
    for (int x = 0; x < MAX_BOARD; x++) {
        for (int y = 0; y < MAX_BOARD; y++) {
            int s = x * 32 + y;
            diagPos[s] = std::min(boardSize - 1 - x, y);
            antiPos[s] = std::min(x, y);
            for (int d = 0; d < 4; d++) lineSpan[d][s] = {0, -1, 0};
        }
    }
    for (int x = 0; x < boardSize; x++) {
        for (int y = 0; y < boardSize; y++) {
            int s = x * 32 + y;
            // Squares outside a rectangular board are only ever blocked: their refresh
            // covers the whole grid around them, which reaches the real board's squares.
            bool inside = x < boardWidth && y < boardHeight;
            int width = inside ? boardWidth : boardSize;
            int height = inside ? boardHeight : boardSize;
            for (int d = 0; d < 4; d++) lineSpan[d][s] = clippedSpan(x, y, d, width, height);
            lineSpan[2][s].posOffset = diagPos[s] - y;
            lineSpan[3][s].posOffset = antiPos[s] - y;
        }
    }
}

}  // namespace

int shapeValue(int a, int b, int c, int d, int forRule, bool renjuFirst) {
    const int* w = EVAL_SHAPE_WEIGHT[forRule];
    const int* discount = EVAL_TOP_DISCOUNT[forRule];
    int weights = w[a] + w[b] + w[c] + w[d];
    if (renjuFirst) {
        auto isFour = [](int code) { return code >= 9 && code <= 11; };
        auto isThree = [](int code) { return code == 7 || code == 8; };
        int fours = isFour(a) + isFour(b) + isFour(c) + isFour(d);
        int threes = isThree(a) + isThree(b) + isThree(c) + isThree(d);
        bool five = a == 12 || b == 12 || c == 12 || d == 12;
        if (a == SHAPE_OVERLINE) return (b == 12 || c == 12 || d == 12) ? weights - 1947 : 0;
        if (fours >= 2 && !five) return 0;
        if (threes >= 2) {
            if (fours >= 1 || threes >= 3) return 0;
            return weights - discount[a] - 158;
        }
    }
    int pair = 0;
    if (c == 0 && d == 0) {
        int q = b >= 1 ? 3 : (a >= 1 ? 9 : 18);
        pair = static_cast<int>(PAIR_FACTOR[a] * 0.03515625 * PAIR_FACTOR[b] / q);
    }
    return weights - discount[a] + pair + (c >= 3 ? 4 : 0) + (d >= 3 ? 8 : 0);
}

LineEntry computeLineEntry(uint32_t window, int forRule) {
    buildFiveWindows();
    return lineEntryOf(window, exactFiveFor(forRule));
}

void buildTables(int forRule) {
    // The rule's tables are the same for every game under it: a new game or a new size
    // only needs the geometry again.
    static int rulePatternsBuilt = -1;
    if (forRule != rulePatternsBuilt) {
        buildFiveWindows();
        fillLineTable(forRule);
        fillShapeScores(forRule);
        rulePatternsBuilt = forRule;
    }
    fillGeometry();
    if (stillToBuildShapeWords) {
        fillShapeWords();
        stillToBuildShapeWords = false;
    }
    if (stillToDrawKeys) {
        drawKeys();
        stillToDrawKeys = false;
    }
    fillBitTables();
}
