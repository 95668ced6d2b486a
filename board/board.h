// The one board of the engine: cells, line bitboards, per-square pattern records and the
// per-player threat sets, all kept current by every make and unmake.
#pragma once
#include <cstdint>

#include "board/tables.h"

// Threat classes of a square for a player, by the best shape it gets in some direction.
constexpr int T_FIVE = 0;       // makes five
constexpr int T_OPEN_FOUR = 1;  // makes an open four
constexpr int T_FOUR = 2;       // makes a four
constexpr int T_THREE = 3;      // makes a three that can become an open four
constexpr int T_DOUBLE = 4;     // fours and threes in two or more directions
constexpr int THREAT_CLASSES = 5;

// Per-square pattern record, both players side by side (index = player value - 1).
struct SquareInfo {
    uint16_t roomSum[2];  // sum of the four room counts
    int16_t score[2];     // shapeScore[p][shape[p]] * roomSum[p] / 32
    uint32_t shape[2];    // direction d's shape code in bits 4d..4d+3
    uint32_t room[2];     // direction d's room count (0..8) in bits 4d..4d+3
};

// The board record; plain and copyable as a whole. The game's position is g_board; every
// search thread works on a copy of its own.
struct BoardBase {
    SquareInfo squares[SQUARE_SLOTS];
    uint32_t threatRowMask[THREAT_CLASSES][2];          // bit x: row word x is not zero
    uint32_t threatRows[THREAT_CLASSES][2][MAX_BOARD];  // bit y of word x: (x, y) in class
    uint32_t threatDirs[4][2][SQUARE_SLOTS];            // directions giving the class
    int32_t evalSum[2];
    uint64_t hashKey;
    int32_t cell[SQUARE_SLOTS];
    uint64_t line0[MAX_BOARD];          // by x; position y
    uint64_t line1[MAX_BOARD];          // by y; position x
    uint64_t line2[2 * MAX_BOARD - 1];  // by x + y; position diagPos
    uint64_t line3[2 * MAX_BOARD + 1];  // by x - y + boardSize; position antiPos
    uint32_t stones[MAX_STONES];        // stones in the order they were put on (no blocks)
    int32_t stoneCount;
};

extern BoardBase g_board;

void makeMove(BoardBase& b, int s, int v);
void unmakeMove(BoardBase& b, int s, int v);
// Shape codes, threat classes T_FIVE..T_THREE and the scores of squares whose shape
// changes; rooms and T_DOUBLE keep their values until the light move is unmade.
void makeMoveLight(BoardBase& b, int s, int v);
void unmakeMoveLight(BoardBase& b, int s, int v);
// The empty position for the current geometry and the tables' rule.
void resetBoardState(BoardBase& b);

void updateDirection(BoardBase& b, int d, int s);
void updateDirectionLight(BoardBase& b, int d, int s);

// Shape code that the reset gives a square in direction d before any refresh reaches it,
// with the matching room count.
void resetPattern(int s, int d, int* shape, int* room);

inline uint32_t readWindow(uint64_t line, int position) {
    return static_cast<uint32_t>(line >> (2 * position)) & 0x3FFFFF;
}

inline uint64_t& lineOf(BoardBase& b, int d, int s) {
    int x = s >> 5, y = s & 31;
    switch (d) {
        case 0: return b.line0[x];
        case 1: return b.line1[y];
        case 2: return b.line2[x + y];
        default: return b.line3[x - y + boardSize];
    }
}

inline int linePosition(int d, int s) {
    switch (d) {
        case 0: return s & 31;
        case 1: return s >> 5;
        case 2: return diagPos[s];
        default: return antiPos[s];
    }
}

inline int shapeCode(const BoardBase& b, int s, int p, int d) { return (b.squares[s].shape[p] >> (4 * d)) & 15; }

inline bool hasThreat(const BoardBase& b, int c, int p) { return b.threatRowMask[c][p] != 0; }

inline bool inThreat(const BoardBase& b, int c, int p, int s) {
    return (b.threatRows[c][p][s >> 5] >> (s & 31)) & 1;
}

// First square of a class (lowest x, then lowest y), or -1.
inline int firstThreat(const BoardBase& b, int c, int p) {
    uint32_t rows = b.threatRowMask[c][p];
    if (rows == 0) return -1;
    int x = lowestBit(rows);
    return x * 32 + lowestBit(b.threatRows[c][p][x]);
}

// Lists the squares of a class in row order into out; returns how many.
inline int listThreats(const BoardBase& b, int c, int p, int* out) {
    int n = 0;
    for (uint32_t rows = b.threatRowMask[c][p]; rows != 0; rows &= rows - 1) {
        int x = lowestBit(rows);
        for (uint32_t ys = b.threatRows[c][p][x]; ys != 0; ys &= ys - 1) {
            out[n++] = x * 32 + lowestBit(ys);
        }
    }
    return n;
}
