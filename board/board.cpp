#include "board/board.h"

#include <algorithm>
#include <cstring>


BoardBase g_board;

namespace {

template <bool FULL>
void putOn(BoardBase& b, int s, int v) {
    b.cell[s] = v;
    for (int d = 0; d < 4; d++) {
        lineOf(b, d, s) |= static_cast<uint64_t>(v) << (2 * linePosition(d, s) + 10);
        if (FULL) updateDirection(b, d, s);
        else updateDirectionLight(b, d, s);
    }
    b.hashKey ^= zobrist[s][v - 1];
    if (v != BLOCKED) b.stones[b.stoneCount++] = static_cast<uint32_t>(s);
}

template <bool FULL>
void takeOff(BoardBase& b, int s, int v) {
    b.cell[s] = EMPTY;
    for (int d = 0; d < 4; d++) {
        lineOf(b, d, s) &= ~(static_cast<uint64_t>(3) << (2 * linePosition(d, s) + 10));
        if (FULL) updateDirection(b, d, s);
        else updateDirectionLight(b, d, s);
    }
    b.hashKey ^= zobrist[s][v - 1];
    if (v != BLOCKED) b.stoneCount--;
}

int lineLength(int d, int index) {
    switch (d) {
        case 0:
        case 1: return boardSize;
        case 2: return std::min(index, 2 * boardSize - 2 - index) + 1;
        default: return boardSize - std::abs(index - boardSize);
    }
}

void putEdgeMarks(uint64_t* lines, int d, int from, int to) {
    for (int index = from; index <= to; index++) {
        int length = lineLength(d, index);
        lines[index] = (static_cast<uint64_t>(BLOCKED) << 8) |
                       (static_cast<uint64_t>(BLOCKED) << (2 * length + 10));
    }
}

}  // namespace

void makeMove(BoardBase& b, int s, int v) { putOn<true>(b, s, v); }
void unmakeMove(BoardBase& b, int s, int v) { takeOff<true>(b, s, v); }
void makeMoveLight(BoardBase& b, int s, int v) { putOn<false>(b, s, v); }
void unmakeMoveLight(BoardBase& b, int s, int v) { takeOff<false>(b, s, v); }

void resetPattern(int s, int d, int* shape, int* room) {
    int x = s >> 5, y = s & 31, last = boardSize - 1;
    if (d <= 1) {
        int t = d == 0 ? y : x;
        *shape = (t == 0 || t == last) ? 0 : 1;
        *room = t < 4 ? t + 4 : (t >= boardSize - 4 ? boardSize + 3 - t : 8);
        return;
    }
    int ahead, behind;  // grid squares within four steps on each side of the diagonal
    if (d == 2) {
        ahead = std::min({4, last - x, y});
        behind = std::min({4, x, last - y});
    } else {
        ahead = std::min({4, last - x, last - y});
        behind = std::min({4, x, y});
    }
    *room = ahead + behind;
    bool atEnd = x == 0 || y == 0 || x == last || y == last;
    *shape = (atEnd || *room < 5) ? 0 : 1;
}

void resetBoardState(BoardBase& b) {
    std::memset(b.cell, 0, sizeof b.cell);
    std::memset(b.line0, 0, sizeof b.line0);
    std::memset(b.line1, 0, sizeof b.line1);
    std::memset(b.line2, 0, sizeof b.line2);
    std::memset(b.line3, 0, sizeof b.line3);
    putEdgeMarks(b.line0, 0, 0, boardSize - 1);
    putEdgeMarks(b.line1, 1, 0, boardSize - 1);
    putEdgeMarks(b.line2, 2, 0, 2 * boardSize - 2);
    putEdgeMarks(b.line3, 3, 1, 2 * boardSize - 1);

    std::memset(b.squares, 0, sizeof b.squares);
    b.evalSum[0] = b.evalSum[1] = 0;
    for (int x = 0; x < boardSize; x++) {
        for (int y = 0; y < boardSize; y++) {
            int s = x * 32 + y;
            uint32_t shapeWord = 0, roomWord = 0;
            int roomSum = 0;
            for (int d = 0; d < 4; d++) {
                int shape, room;
                resetPattern(s, d, &shape, &room);
                shapeWord |= static_cast<uint32_t>(shape) << (4 * d);
                roomWord |= static_cast<uint32_t>(room) << (4 * d);
                roomSum += room;
            }
            SquareInfo& q = b.squares[s];
            for (int p = 0; p < 2; p++) {
                q.shape[p] = shapeWord;
                q.room[p] = roomWord;
                q.roomSum[p] = static_cast<uint16_t>(roomSum);
                q.score[p] = static_cast<int16_t>(shapeScore[p][shapeWord] * roomSum / 32);
                b.evalSum[p] += q.score[p];
            }
        }
    }
    std::memset(b.threatRowMask, 0, sizeof b.threatRowMask);
    std::memset(b.threatRows, 0, sizeof b.threatRows);
    std::memset(b.threatDirs, 0, sizeof b.threatDirs);

    b.hashKey = 0;
    b.stoneCount = 0;
    if (boardWidth != boardHeight) {
        for (int x = 0; x < boardSize; x++) {
            for (int y = 0; y < boardSize; y++) {
                if (x >= boardWidth || y >= boardHeight) makeMove(b, x * 32 + y, BLOCKED);
            }
        }
    }
}
