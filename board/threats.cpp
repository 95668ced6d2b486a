// Line refresh after a cell changed: only the squares within updateReach on that line can
// see a different window, so only they are looked up again.
#include <bit>

#include "board/board.h"

namespace {

// Threat class of a shape code, or -1.
constexpr int CLASS_OF[16] = {-1, -1, -1, -1, -1, -1, -1, T_THREE, T_THREE,
                              T_FOUR, T_FOUR, T_OPEN_FOUR, T_FIVE, -1, -1, -1};

inline void setRowBit(BoardBase& b, int c, int p, int t) {
    b.threatRows[c][p][t >> 5] |= 1u << (t & 31);
    b.threatRowMask[c][p] |= 1u << (t >> 5);
}

inline void clearRowBit(BoardBase& b, int c, int p, int t) {
    uint32_t& row = b.threatRows[c][p][t >> 5];
    row &= ~(1u << (t & 31));
    if (row == 0) b.threatRowMask[c][p] &= ~(1u << (t >> 5));
}

// Fours and threes in two directions or more make a T_DOUBLE square.
inline bool fourOrThreeTwice(const BoardBase& b, int p, int t) {
    uint32_t dirs = b.threatDirs[T_FOUR][p][t] | b.threatDirs[T_THREE][p][t];
    return (dirs & (dirs - 1)) != 0;
}

template <bool FULL>
inline void removeThreat(BoardBase& b, int c, int p, int t, int d) {
    uint32_t& dirs = b.threatDirs[c][p][t];
    dirs &= ~(1u << d);
    if (dirs == 0) clearRowBit(b, c, p, t);
    if (FULL && c >= T_FOUR && !fourOrThreeTwice(b, p, t)) clearRowBit(b, T_DOUBLE, p, t);
}

template <bool FULL>
inline void addThreat(BoardBase& b, int c, int p, int t, int d) {
    b.threatDirs[c][p][t] |= 1u << d;
    setRowBit(b, c, p, t);
    if (FULL && c >= T_FOUR && fourOrThreeTwice(b, p, t)) setRowBit(b, T_DOUBLE, p, t);
}

// The full refresh keeps everything; the light one shapes, classes 0..3 and the score of a
// square whose shape changes. The score has to follow the shape even there: a square that
// still holds the reset's code 1 leaves a light pair with the table's 0, and a later full
// refresh, seeing no change, would otherwise keep its stale score for good.
template <bool FULL, int d>
void refreshLine(BoardBase& b, int s) {
    const LineSpan& span = lineSpan[d][s];
    const uint64_t line = lineOf(b, d, s);
    const int step = DIRECTION_STEP[d];
    const int shift = 4 * d;
    for (int t = span.first; t <= span.last; t += step) {
        // An occupied square has no shape and no room before and after: only the changed
        // square itself needs its window, the other stones and blocks no table lookup.
        if (b.cell[t] != EMPTY && t != s) continue;
        int position = d == 0 ? (t & 31) : d == 1 ? (t >> 5) : ((span.posOffset + t) & 31);
        const LineEntry e = lineTable[readWindow(line, position)];  // a copy: stores to the board cannot touch it
        SquareInfo& q = b.squares[t];
        for (int p = 0; p < 2; p++) {
            int newShape = e.shape[p];
            int oldShape = (q.shape[p] >> shift) & 15;
            if (!FULL) {
                if (newShape == oldShape) continue;
                if (CLASS_OF[oldShape] >= 0) removeThreat<false>(b, CLASS_OF[oldShape], p, t, d);
                q.shape[p] ^= static_cast<uint32_t>(oldShape ^ newShape) << shift;
                if (CLASS_OF[newShape] >= 0) addThreat<false>(b, CLASS_OF[newShape], p, t, d);
                b.evalSum[p] -= q.score[p];
                q.score[p] = static_cast<int16_t>(shapeScore[p][q.shape[p]] * q.roomSum[p] / 32);
                b.evalSum[p] += q.score[p];
                continue;
            }
            int newRoom = e.room[p];
            int oldRoom = (q.room[p] >> shift) & 15;
            if (newShape == oldShape && newRoom == oldRoom) continue;
            b.evalSum[p] -= q.score[p];
            if (newShape != oldShape && CLASS_OF[oldShape] >= 0) {
                removeThreat<true>(b, CLASS_OF[oldShape], p, t, d);
            }
            q.roomSum[p] = static_cast<uint16_t>(q.roomSum[p] + newRoom - oldRoom);
            q.shape[p] ^= static_cast<uint32_t>(oldShape ^ newShape) << shift;
            q.room[p] ^= static_cast<uint32_t>(oldRoom ^ newRoom) << shift;
            q.score[p] = static_cast<int16_t>(shapeScore[p][q.shape[p]] * q.roomSum[p] / 32);
            b.evalSum[p] += q.score[p];
            if (newShape != oldShape && CLASS_OF[newShape] >= 0) {
                addThreat<true>(b, CLASS_OF[newShape], p, t, d);
            }
        }
    }
}

template <bool FULL>
void refresh(BoardBase& b, int d, int s) {
    switch (d) {
        case 0: refreshLine<FULL, 0>(b, s); break;
        case 1: refreshLine<FULL, 1>(b, s); break;
        case 2: refreshLine<FULL, 2>(b, s); break;
        default: refreshLine<FULL, 3>(b, s); break;
    }
}

}  // namespace

void updateDirection(BoardBase& b, int d, int s) { refresh<true>(b, d, s); }
void updateDirectionLight(BoardBase& b, int d, int s) { refresh<false>(b, d, s); }
