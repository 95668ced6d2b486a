#include "board/consistency.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "board/board.h"

namespace {

// Steps along each direction's line towards growing positions (direction 2 runs with y).
constexpr int DX[4] = {0, 1, -1, 1};
constexpr int DY[4] = {1, 0, 1, 1};
constexpr int LINE_COUNT[4] = {MAX_BOARD, MAX_BOARD, 2 * MAX_BOARD - 1, 2 * MAX_BOARD + 1};
constexpr int CLASS_OF[16] = {-1, -1, -1, -1, -1, -1, -1, T_THREE, T_THREE,
                              T_FOUR, T_FOUR, T_OPEN_FOUR, T_FIVE, -1, -1, -1};
const char* const CLASS_NAME[THREAT_CLASSES] = {"T_FIVE", "T_OPEN_FOUR", "T_FOUR", "T_THREE",
                                                "T_DOUBLE"};

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
bool fail(std::string* failure, const char* format, ...) {
    if (failure != nullptr) {
        char text[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        *failure = text;
    }
    return false;
}

bool inGrid(int x, int y) { return x >= 0 && y >= 0 && x < boardSize && y < boardSize; }

int nibble(uint32_t word, int d) { return (word >> (4 * d)) & 15; }

const uint64_t* lineWords(const BoardBase& b, int d) {
    switch (d) {
        case 0: return b.line0;
        case 1: return b.line1;
        case 2: return b.line2;
        default: return b.line3;
    }
}

// Which line of direction d holds (x, y), and where on it, worked out from the grid alone.
int lineIndex(int d, int x, int y) {
    switch (d) {
        case 0: return x;
        case 1: return y;
        case 2: return x + y;
        default: return x - y + boardSize;
    }
}

int lineStartY(int d, int index) {
    switch (d) {
        case 0: return 0;
        case 1: return index;
        case 2: return std::max(0, index - (boardSize - 1));
        default: return std::max(0, boardSize - index);
    }
}

int lineStartX(int d, int index) {
    switch (d) {
        case 0: return index;
        case 1: return 0;
        case 2: return index - lineStartY(2, index);
        default: return std::max(0, index - boardSize);
    }
}

int positionOnLine(int d, int x, int y) {
    int index = lineIndex(d, x, y);
    return d == 1 ? x - lineStartX(d, index) : y - lineStartY(d, index);
}

bool lineInUse(int d, int index) {
    switch (d) {
        case 0:
        case 1: return index < boardSize;
        case 2: return index <= 2 * boardSize - 2;
        default: return index >= 1 && index <= 2 * boardSize - 1;
    }
}

int lineLength(int d, int index) {
    int length = 0;
    for (int x = lineStartX(d, index), y = lineStartY(d, index); inGrid(x, y);
         x += DX[d], y += DY[d]) {
        length++;
    }
    return length;
}

std::string windowText(uint32_t window) {
    std::string text;
    for (int k = 0; k < 11; k++) text += ".xo#"[(window >> (2 * k)) & 3];
    return text;
}

bool checkCells(const BoardBase& b, std::string* failure) {
    for (int x = 0; x < MAX_BOARD; x++) {
        for (int y = 0; y < 32; y++) {
            int v = b.cell[x * 32 + y];
            if (!inGrid(x, y)) {
                if (v != EMPTY) return fail(failure, "(%d,%d) outside the grid holds %d", x, y, v);
            } else if (x >= boardWidth || y >= boardHeight) {
                if (v != BLOCKED) {
                    return fail(failure, "(%d,%d) outside the %dx%d board holds %d, not a block", x,
                                y, boardWidth, boardHeight, v);
                }
            } else if (v < EMPTY || v > BLOCKED) {
                return fail(failure, "cell (%d,%d) holds %d", x, y, v);
            }
        }
    }
    return true;
}

bool checkLines(const BoardBase& b, std::string* failure) {
    for (int d = 0; d < 4; d++) {
        for (int index = 0; index < LINE_COUNT[d]; index++) {
            uint64_t expected = 0;
            if (lineInUse(d, index)) {
                int length = lineLength(d, index);
                expected = (uint64_t{BLOCKED} << 8) | (uint64_t{BLOCKED} << (2 * length + 10));
                int x = lineStartX(d, index), y = lineStartY(d, index);
                for (int pos = 0; pos < length; pos++, x += DX[d], y += DY[d]) {
                    expected |= static_cast<uint64_t>(b.cell[x * 32 + y]) << (2 * pos + 10);
                }
            }
            uint64_t actual = lineWords(b, d)[index];
            if (actual != expected) {
                return fail(failure, "line%d[%d] is %#llx, the cells give %#llx", d, index,
                            static_cast<unsigned long long>(actual),
                            static_cast<unsigned long long>(expected));
            }
        }
    }
    return true;
}

bool checkHashAndStones(const BoardBase& b, std::string* failure) {
    uint64_t key = 0;
    int stoneSquares = 0;
    for (int x = 0; x < boardSize; x++) {
        for (int y = 0; y < boardSize; y++) {
            int v = b.cell[x * 32 + y];
            if (v != EMPTY) key ^= zobrist[x * 32 + y][v - 1];
            if (v == FIRST || v == SECOND) stoneSquares++;
        }
    }
    if (b.hashKey != key) {
        return fail(failure, "hashKey is %#llx, the cells give %#llx",
                    static_cast<unsigned long long>(b.hashKey),
                    static_cast<unsigned long long>(key));
    }
    int count = b.stoneCount;
    if (count != stoneSquares) {
        return fail(failure, "stoneCount is %d, the board holds %d stones", count, stoneSquares);
    }
    bool listed[SQUARE_SLOTS] = {};
    for (int i = 0; i < count; i++) {
        uint32_t s = b.stones[i];
        if (s >= SQUARE_SLOTS || !inGrid(s >> 5, s & 31)) {
            return fail(failure, "stones[%d] = %u is no square of the grid", i, s);
        }
        int v = b.cell[s];
        if (v != FIRST && v != SECOND) {
            return fail(failure, "stones[%d] = (%u,%u) holds %d", i, s >> 5, s & 31, v);
        }
        if (listed[s]) return fail(failure, "stones lists (%u,%u) twice", s >> 5, s & 31);
        listed[s] = true;
    }
    return true;
}

// Whether a refresh of (x, y)'s direction-d line must have reached it: some cell within
// updateReach of it on that line holds a stone or a block.
bool mustBeRefreshed(const BoardBase& b, int d, int x, int y) {
    for (int k = -updateReach; k <= updateReach; k++) {
        int tx = x + k * DX[d], ty = y + k * DY[d];
        if (inGrid(tx, ty) && b.cell[tx * 32 + ty] != EMPTY) return true;
    }
    return false;
}

// One square's nibbles in one direction against the lineTable entry of its window, or the
// reset's values where no refresh needs to have come yet. Rooms only when full.
bool checkDirection(const BoardBase& b, std::string* failure, int x, int y, int d, bool full) {
    int s = x * 32 + y;
    const SquareInfo& q = b.squares[s];
    int shape[2], room[2];
    for (int p = 0; p < 2; p++) {
        shape[p] = nibble(q.shape[p], d);
        room[p] = nibble(q.room[p], d);
    }
    if (b.cell[s] != EMPTY) {
        for (int p = 0; p < 2; p++) {
            if (shape[p] != 0 || (full && room[p] != 0)) {
                return fail(failure, "occupied (%d,%d) direction %d player %d: shape %d room %d",
                            x, y, d, p, shape[p], room[p]);
            }
        }
        return true;
    }
    uint32_t window = readWindow(lineWords(b, d)[lineIndex(d, x, y)], positionOnLine(d, x, y));
    const LineEntry& e = lineTable[window];
    bool asTable = true, asReset = true;
    for (int p = 0; p < 2; p++) {
        asTable = asTable && shape[p] == e.shape[p] && (!full || room[p] == e.room[p]);
    }
    if (asTable) return true;
    int resetShape, resetRoom;
    resetPattern(s, d, &resetShape, &resetRoom);
    for (int p = 0; p < 2; p++) {
        asReset = asReset && shape[p] == resetShape && (!full || room[p] == resetRoom);
    }
    if (asReset && !mustBeRefreshed(b, d, x, y)) return true;
    return fail(failure,
                "(%d,%d) direction %d window %s: shapes %d,%d rooms %d,%d; table gives shapes "
                "%d,%d rooms %d,%d%s",
                x, y, d, windowText(window).c_str(), shape[0], shape[1], room[0], room[1],
                e.shape[0], e.shape[1], e.room[0], e.room[1],
                asReset ? " (still the reset's values although a stone is within reach)" : "");
}

bool checkSquares(const BoardBase& b, std::string* failure, bool full) {
    int64_t evalSum[2] = {0, 0};
    for (int x = 0; x < MAX_BOARD; x++) {
        for (int y = 0; y < 32; y++) {
            const SquareInfo& q = b.squares[x * 32 + y];
            if (!inGrid(x, y)) {
                for (int p = 0; p < 2; p++) {
                    if (q.shape[p] != 0 || q.room[p] != 0 || q.roomSum[p] != 0 || q.score[p] != 0) {
                        return fail(failure, "record of (%d,%d) outside the grid not zero", x, y);
                    }
                }
                continue;
            }
            for (int p = 0; p < 2; p++) {
                if ((q.shape[p] >> 16) != 0 || (q.room[p] >> 16) != 0) {
                    return fail(failure, "(%d,%d) player %d: shape %#x or room %#x above 16 bits",
                                x, y, p, q.shape[p], q.room[p]);
                }
            }
            for (int d = 0; d < 4; d++) {
                if (!checkDirection(b, failure, x, y, d, full)) return false;
            }
            if (!full) continue;
            for (int p = 0; p < 2; p++) {
                int roomSum = 0;
                for (int d = 0; d < 4; d++) roomSum += nibble(q.room[p], d);
                if (q.roomSum[p] != roomSum) {
                    return fail(failure, "(%d,%d) player %d: roomSum %d, rooms add up to %d", x,
                                y, p, q.roomSum[p], roomSum);
                }
                int score = shapeScore[p][q.shape[p]] * roomSum / 32;
                if (q.score[p] != score) {
                    return fail(failure, "(%d,%d) player %d: score %d, shape %#x, roomSum %d: %d",
                                x, y, p, q.score[p], q.shape[p], roomSum, score);
                }
                evalSum[p] += score;
            }
        }
    }
    for (int p = 0; full && p < 2; p++) {
        if (b.evalSum[p] != evalSum[p]) {
            return fail(failure, "evalSum[%d] is %d, the scores add up to %lld", p,
                        b.evalSum[p], static_cast<long long>(evalSum[p]));
        }
    }
    return true;
}

// The three levels of every class against the shape nibbles (already checked against the
// cells): direction sets, row words and row masks.
bool checkThreats(const BoardBase& b, std::string* failure, bool full) {
    uint32_t rows[THREAT_CLASSES][2][MAX_BOARD] = {};
    for (int x = 0; x < MAX_BOARD; x++) {
        for (int y = 0; y < 32; y++) {
            int s = x * 32 + y;
            for (int p = 0; p < 2; p++) {
                uint32_t dirs[4] = {0, 0, 0, 0};
                if (inGrid(x, y)) {
                    uint32_t shape = b.squares[s].shape[p];
                    for (int d = 0; d < 4; d++) {
                        int c = CLASS_OF[nibble(shape, d)];
                        if (c >= 0) dirs[c] |= 1u << d;
                    }
                }
                for (int c = 0; c < 4; c++) {
                    if (b.threatDirs[c][p][s] != dirs[c]) {
                        return fail(failure, "threatDirs[%s][%d] of (%d,%d): %#x, shapes: %#x",
                                    CLASS_NAME[c], p, x, y, b.threatDirs[c][p][s], dirs[c]);
                    }
                    if (dirs[c] != 0) rows[c][p][x] |= 1u << y;
                }
                uint32_t fourOrThree = dirs[T_FOUR] | dirs[T_THREE];
                if ((fourOrThree & (fourOrThree - 1)) != 0) rows[T_DOUBLE][p][x] |= 1u << y;
            }
        }
    }
    for (int c = 0; c < (full ? THREAT_CLASSES : T_DOUBLE); c++) {
        for (int p = 0; p < 2; p++) {
            uint32_t mask = 0;
            for (int x = 0; x < MAX_BOARD; x++) {
                if (b.threatRows[c][p][x] != rows[c][p][x]) {
                    return fail(failure, "threatRows[%s][%d][%d] is %#x, the shapes give %#x",
                                CLASS_NAME[c], p, x, b.threatRows[c][p][x], rows[c][p][x]);
                }
                if (rows[c][p][x] != 0) mask |= 1u << x;
            }
            if (b.threatRowMask[c][p] != mask) {
                return fail(failure, "threatRowMask[%s][%d] is %#x, the rows give %#x",
                            CLASS_NAME[c], p, b.threatRowMask[c][p], mask);
            }
        }
    }
    return true;
}

bool checkBoard(const BoardBase& b, std::string* failure, bool full) {
    if (boardSize < 1 || boardSize > MAX_BOARD) return fail(failure, "boardSize %d", boardSize);
    return checkCells(b, failure) && checkLines(b, failure) && checkHashAndStones(b, failure) &&
           checkSquares(b, failure, full) && checkThreats(b, failure, full);
}

}  // namespace

bool checkBoardConsistency(const BoardBase& b, std::string* failure) { return checkBoard(b, failure, true); }

bool checkBoardShapes(const BoardBase& b, std::string* failure) { return checkBoard(b, failure, false); }
