// Line refresh after a cell changed: only the squares within updateReach on that line can
// see a different window, so only they are looked up again.
#include <bit>

#include "board/board.h"

namespace {

// Threat class of a shape code, or -1.
constexpr int CLASS_OF[16] = {-1, -1, -1, -1, -1, -1, -1, T_THREE, T_THREE,
                              T_FOUR, T_FOUR, T_OPEN_FOUR, T_FIVE, -1, -1, -1};

inline void setRowBit(int c, int p, int t) {
    g_board.threatRows[c][p][t >> 5] |= 1u << (t & 31);
    g_board.threatRowMask[c][p] |= 1u << (t >> 5);
}

inline void clearRowBit(int c, int p, int t) {
    uint32_t& row = g_board.threatRows[c][p][t >> 5];
    row &= ~(1u << (t & 31));
    if (row == 0) g_board.threatRowMask[c][p] &= ~(1u << (t >> 5));
}

// Fours and threes in two directions or more make a T_DOUBLE square.
inline bool fourOrThreeTwice(int p, int t) {
    uint32_t dirs = g_board.threatDirs[T_FOUR][p][t] | g_board.threatDirs[T_THREE][p][t];
    return (dirs & (dirs - 1)) != 0;
}

template <bool FULL>
inline void removeThreat(int c, int p, int t, int d) {
    uint32_t& dirs = g_board.threatDirs[c][p][t];
    dirs &= ~(1u << d);
    if (dirs == 0) clearRowBit(c, p, t);
    if (FULL && c >= T_FOUR && !fourOrThreeTwice(p, t)) clearRowBit(T_DOUBLE, p, t);
}

template <bool FULL>
inline void addThreat(int c, int p, int t, int d) {
    g_board.threatDirs[c][p][t] |= 1u << d;
    setRowBit(c, p, t);
    if (FULL && c >= T_FOUR && fourOrThreeTwice(p, t)) setRowBit(T_DOUBLE, p, t);
}

// The full refresh keeps everything; the light one shapes, classes 0..3 and the score of a
// square whose shape changes. The score has to follow the shape even there: a square that
// still holds the reset's code 1 leaves a light pair with the table's 0, and a later full
// refresh, seeing no change, would otherwise keep its stale score for good.
template <bool FULL, int d>
void refreshLine(int s) {
    const LineSpan& span = lineSpan[d][s];
    const uint64_t line = lineOf(d, s);
    const int step = DIRECTION_STEP[d];
    const int shift = 4 * d;
    for (int t = span.first; t <= span.last; t += step) {
        // An occupied square has no shape and no room before and after: only the changed
        // square itself needs its window, the other stones and blocks no table lookup.
        if (g_board.cell[t] != EMPTY && t != s) continue;
        int position = d == 0 ? (t & 31) : d == 1 ? (t >> 5) : ((span.posOffset + t) & 31);
        const LineEntry& e = lineTable[readWindow(line, position)];
        SquareInfo& q = g_board.squares[t];
        for (int p = 0; p < 2; p++) {
            int newShape = e.shape[p];
            int oldShape = (q.shape[p] >> shift) & 15;
            if (!FULL) {
                if (newShape == oldShape) continue;
                if (CLASS_OF[oldShape] >= 0) removeThreat<false>(CLASS_OF[oldShape], p, t, d);
                q.shape[p] ^= static_cast<uint32_t>(oldShape ^ newShape) << shift;
                if (CLASS_OF[newShape] >= 0) addThreat<false>(CLASS_OF[newShape], p, t, d);
                g_board.evalSum[p] -= q.score[p];
                q.score[p] = static_cast<int16_t>(shapeScore[p][q.shape[p]] * q.roomSum[p] / 32);
                g_board.evalSum[p] += q.score[p];
                continue;
            }
            int newRoom = e.room[p];
            int oldRoom = (q.room[p] >> shift) & 15;
            if (newShape == oldShape && newRoom == oldRoom) continue;
            g_board.evalSum[p] -= q.score[p];
            if (newShape != oldShape && CLASS_OF[oldShape] >= 0) {
                removeThreat<true>(CLASS_OF[oldShape], p, t, d);
            }
            q.roomSum[p] = static_cast<uint16_t>(q.roomSum[p] + newRoom - oldRoom);
            q.shape[p] ^= static_cast<uint32_t>(oldShape ^ newShape) << shift;
            q.room[p] ^= static_cast<uint32_t>(oldRoom ^ newRoom) << shift;
            q.score[p] = static_cast<int16_t>(shapeScore[p][q.shape[p]] * q.roomSum[p] / 32);
            g_board.evalSum[p] += q.score[p];
            if (newShape != oldShape && CLASS_OF[newShape] >= 0) {
                addThreat<true>(CLASS_OF[newShape], p, t, d);
            }
        }
    }
}

template <bool FULL>
void refresh(int d, int s) {
    switch (d) {
        case 0: refreshLine<FULL, 0>(s); break;
        case 1: refreshLine<FULL, 1>(s); break;
        case 2: refreshLine<FULL, 2>(s); break;
        default: refreshLine<FULL, 3>(s); break;
    }
}

}  // namespace

void updateDirection(int d, int s) { refresh<true>(d, s); }
void updateDirectionLight(int d, int s) { refresh<false>(d, s); }
