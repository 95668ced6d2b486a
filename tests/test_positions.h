// Positions for the search tests: pictures, random clustered positions, a referee for fives.
#pragma once
#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "board/board.h"
#include "protocol/game.h"
#include "protocol/settings.h"
#include "search/hashtable.h"

namespace testpos {

// Rows y = 0, 1, ...; the character at index x is square (x, y): 'X' first player, 'O' second.
using Picture = std::vector<std::string>;

constexpr int RULES[] = {RULE_FREESTYLE, RULE_STANDARD, RULE_RENJU};
constexpr int DX[4] = {0, 1, 1, 1}, DY[4] = {1, 0, 1, -1};

inline int sq(int x, int y) { return x * 32 + y; }
inline bool inside(int x, int y) { return x >= 0 && y >= 0 && x < boardWidth && y < boardHeight; }
inline bool open(int s) { return inside(s >> 5, s & 31) && g_board.cell[s] == EMPTY; }

// The rows placed from row first on.
inline Picture from(int first, Picture rows) {
    rows.insert(rows.begin(), first, "");
    return rows;
}

inline void emptyBoard(int forRule, int width = 15, int height = 15) {
    boardWidth = width, boardHeight = height, boardSize = std::max(width, height);
    recordCount = blockCount = 0;
    rebuildBoard(rule = forRule);
}

// The board record as bytes, the unused tail of the stone list cleared first (unmake leaves it
// stale), for comparing a board before and after.
inline std::vector<char> boardBytes(BoardBase& b = g_board) {
    std::fill(b.stones + b.stoneCount, b.stones + MAX_STONES, 0u);
    auto* bytes = reinterpret_cast<const char*>(&b);
    return std::vector<char>(bytes, bytes + sizeof b);
}

// Every empty square refreshed once: make/unmake pairs then restore the board byte for byte.
inline void settle() {
    for (int s = 0; s < SQUARE_SLOTS; s++) {
        if (open(s)) makeMove(g_board, s, FIRST), unmakeMove(g_board, s, FIRST);
    }
}

// Builds the picture under the rule, settled, with empty tables; swap exchanges the colours.
inline void buildPosition(int forRule, const Picture& picture, bool swap = false) {
    emptyBoard(forRule);
    clearTables();
    for (int y = 0; y < static_cast<int>(picture.size()); y++) {
        for (int x = 0; x < static_cast<int>(picture[y].size()); x++) {
            int who = picture[y][x] == 'X' ? FIRST : picture[y][x] == 'O' ? SECOND : EMPTY;
            if (who != EMPTY) makeMove(g_board, sq(x, y), swap ? 3 - who : who);
        }
    }
    settle();
}

// The referee: c playing the empty (x, y) makes a winning five (any run >= 5 when anyLength).
inline bool makesFive(int x, int y, int c, bool anyLength = false) {
    bool exact = !anyLength && (tablesRule == RULE_STANDARD || (tablesRule == RULE_RENJU && c == FIRST));
    for (int d = 0; d < 4; d++) {
        int run = 1;
        for (int sign : {1, -1}) {
            for (int k = 1; inside(x + k * sign * DX[d], y + k * sign * DY[d]); k++, run++) {
                if (g_board.cell[sq(x + k * sign * DX[d], y + k * sign * DY[d])] != c) break;
            }
        }
        if (exact ? run == 5 : run >= 5) return true;
    }
    return false;
}

// Clusters of alternating stones, no five; mostly no five or open four to make either, so that
// wins need fours. Taking the last position's stones off is cheaper than a new board.
inline void randomPosition(std::mt19937& rng, int forRule, std::vector<int>& placed) {
    static const int SIZES[][2] = {{15, 15}, {15, 15}, {20, 20}, {11, 14}};
    const int* size = SIZES[rng() % 4];
    if (tablesRule == forRule && boardWidth == size[0] && boardHeight == size[1]) {
        for (size_t i = placed.size(); i-- > 0;) unmakeMove(g_board, placed[i], g_board.cell[placed[i]]);
    } else {
        emptyBoard(forRule, size[0], size[1]);
    }
    placed.clear();
    std::normal_distribution<double> spread(0.0, 1.8);
    int clusters = 1 + static_cast<int>(rng() % 3), cx[3], cy[3];
    for (int i = 0; i < clusters; i++) {
        cx[i] = 2 + static_cast<int>(rng() % (boardWidth - 4)), cy[i] = 2 + static_cast<int>(rng() % (boardHeight - 4));
    }
    bool quiet = rng() % 4 != 0;
    int stones = 8 + static_cast<int>(rng() % (quiet ? 50 : 34));
    for (int i = 0, tries = 0; i < stones && tries < 1000; tries++) {
        int k = static_cast<int>(rng() % clusters), who = i % 2 == 0 ? FIRST : SECOND;
        int x = cx[k] + static_cast<int>(std::lround(spread(rng)));
        int y = cy[k] + static_cast<int>(std::lround(spread(rng)));
        if (!inside(x, y) || !open(sq(x, y)) || makesFive(x, y, who, true)) continue;
        makeMove(g_board, sq(x, y), who);
        if (quiet && (hasThreat(g_board, T_FIVE, who - 1) || hasThreat(g_board, T_OPEN_FOUR, who - 1))) {
            unmakeMove(g_board, sq(x, y), who);
        } else {
            placed.push_back(sq(x, y)), i++;
        }
    }
    settle();
}

}  // namespace testpos
