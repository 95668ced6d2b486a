// Line-pattern tables: every 11-cell line window classified once per rule, so that the
// incremental bookkeeping and the searches never scan a line stone by stone.
#pragma once
#include <cstdint>

constexpr int MAX_BOARD = 22;
constexpr int SQUARE_SLOTS = 704;  // 22 columns of 32 slots: s = x * 32 + y
constexpr int MAX_STONES = MAX_BOARD * MAX_BOARD;
constexpr int WINDOW_COUNT = 1 << 22;

// Cell values; per-player arrays use the index value - 1.
constexpr int EMPTY = 0;
constexpr int FIRST = 1;    // the player who moved first (the one Renju restricts)
constexpr int SECOND = 2;
constexpr int BLOCKED = 3;  // block stone, square outside a rectangular board, or edge mark

constexpr int RULE_FREESTYLE = 0;
constexpr int RULE_STANDARD = 1;
constexpr int RULE_RENJU = 2;

// Shape code: what a player gets on one line by playing the square (x = own stone).
constexpr int SHAPE_NONE = 0;           // no live five-cell window through the square
constexpr int SHAPE_ONE = 1;            // lone stone at a window's far end, or a shut window
constexpr int SHAPE_CLOSED_TWO = 2;     // xx in a window closed on one side
constexpr int SHAPE_WIDE_TWO = 3;       // x..x
constexpr int SHAPE_SPLIT_TWO = 4;      // x.x
constexpr int SHAPE_TWO = 5;            // xx with room
constexpr int SHAPE_CLOSED_THREE = 6;   // three that can reach a four but never an open four
constexpr int SHAPE_SPLIT_THREE = 7;    // x.xx with room to become an open four
constexpr int SHAPE_THREE = 8;          // .xxx. with room to become an open four
constexpr int SHAPE_CLOSED_FOUR = 9;    // four with one completing square
constexpr int SHAPE_FOUR = 10;          // four with one completing square and open space
constexpr int SHAPE_OPEN_FOUR = 11;     // .xxxx. : two completing squares
constexpr int SHAPE_FIVE = 12;          // five (exactly five under the exact-five rule)
constexpr int SHAPE_OVERLINE = 13;      // six or more, only where exactly five is required

// What one player gets on one line by playing an empty square: shape code and room (0..8).
// Four bytes, so that the table (a line window's 22 bits index it) takes 16 MiB: the refresh
// reads it at random, and a smaller table misses the caches less often.
struct LineEntry {
    uint8_t shape[2];
    uint8_t room[2];
};
static_assert(sizeof(LineEntry) == 4, "the line table must stay compact");

// Run of square indices a change on a square refreshes along one direction; posOffset
// turns a diagonal square index into its position on the line ((posOffset + t) & 31).
struct LineSpan {
    int32_t first;
    int32_t last;
    int32_t posOffset;
};

constexpr int DIRECTION_STEP[4] = {1, 32, 31, 33};

extern LineEntry lineTable[WINDOW_COUNT];
extern const uint8_t windowShape[640];
extern int16_t shapeScore[2][65536];
extern int16_t shapeSum[65536];
extern uint16_t shapeFlags[65536];
extern uint64_t zobrist[SQUARE_SLOTS][3];
extern uint8_t lowBitIndex[32769];
extern uint8_t bitCount[32769];
extern int32_t diagPos[SQUARE_SLOTS];
extern int32_t antiPos[SQUARE_SLOTS];
extern LineSpan lineSpan[4][SQUARE_SLOTS];  // span0 .. span3

// Geometry in force for the tables and the board (set by the game record's commands).
extern int32_t boardWidth;   // bounds x; second number of START/RECTSTART
extern int32_t boardHeight;  // bounds y; first number
extern int32_t boardSize;    // max(boardWidth, boardHeight)
extern int32_t updateReach;  // 4 under free-style, 5 under the exact-five rules
extern int32_t tablesRule;   // rule the tables and the board were last built for; -1 = not built

// The evaluation's weight of each shape code in a square's score (summed over its four
// directions, less the discount of its top code), by rule. The ranks that order and extend
// moves keep weights of their own.
extern const int EVAL_SHAPE_WEIGHT[3][16];
extern const int EVAL_TOP_DISCOUNT[3][16];

// Builds every table for the given rule and the current geometry.
void buildTables(int forRule);
// Draws the Zobrist keys from a fixed seed, so that hash tables fill (and searches run) the
// same way in every process; the board must be rebuilt afterwards. The program itself keeps
// the keys drawn at its first build from its own seeding.
void drawZobristKeys(unsigned seed);
// One lineTable entry under the given rule.
LineEntry computeLineEntry(uint32_t window, int forRule);
// Value of a square for a player with the four shape codes a >= b >= c >= d.
int shapeValue(int a, int b, int c, int d, int forRule, bool renjuFirst);

inline bool onBoard(int s) {
    return s >= 0 && (s >> 5) < boardWidth && (s & 31) < boardHeight;
}

// Index of the lowest set bit of a nonzero 32-bit word, through the 15-bit tables.
inline int lowestBit(uint32_t w) {
    uint32_t low = w & (0u - w);
    return low <= 32768 ? lowBitIndex[low] : lowBitIndex[low >> 16] + 16;
}
