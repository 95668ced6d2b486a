#include "search/candidates.h"

#include <algorithm>

#include "board/board.h"
#include "board/forbidden.h"

namespace {

// A neighbourhood template row: the cells of board row x - (rows - 1) / 2 + i that count,
// two mask bits a cell (11 any stone or block, 01 a FIRST stone or a block, 10 a SECOND
// stone or a block); mask bit number shift falls on the square's own cell.
struct TemplateRow {
    int shift;
    uint32_t mask;
};

struct NeighbourTemplate {
    int rows;
    TemplateRow row[7];
};

// The 5 x 5 square around the square.
constexpr NeighbourTemplate SQUARE5 = {5, {{4, 0x3FF}, {4, 0x3FF}, {4, 0x3FF}, {4, 0x3FF}, {4, 0x3FF}}};
// The 5 x 5 square and the points three steps away on the four lines.
constexpr NeighbourTemplate SQUARE5_LINES3 = {
    7, {{6, 0x30C3}, {4, 0x3FF}, {4, 0x3FF}, {6, 0x3FFF}, {4, 0x3FF}, {4, 0x3FF}, {6, 0x30C3}}};
// As SQUARE5_LINES3, but the knight-move cells count only the mover's stones (by side).
constexpr NeighbourTemplate SQUARE5_LINES3_OWN[2] = {
    {7, {{6, 0x30C3}, {4, 0x377}, {4, 0x1FD}, {6, 0x3FFF}, {4, 0x1FD}, {4, 0x377}, {6, 0x30C3}}},
    {7, {{6, 0x30C3}, {4, 0x3BB}, {4, 0x2FE}, {6, 0x3FFF}, {4, 0x2FE}, {4, 0x3BB}, {6, 0x30C3}}}};
// The sixteen points one or two steps away on the four lines.
constexpr NeighbourTemplate STAR2 = {5, {{4, 0x333}, {2, 0x3F}, {4, 0x3FF}, {2, 0x3F}, {4, 0x333}}};
// The 5 x 5 square, the knight-move cells counting only the mover's stones (by side).
constexpr NeighbourTemplate SQUARE5_OWN[2] = {
    {5, {{4, 0x377}, {4, 0x1FD}, {4, 0x3FF}, {4, 0x1FD}, {4, 0x377}}},
    {5, {{4, 0x3BB}, {4, 0x2FE}, {4, 0x3FF}, {4, 0x2FE}, {4, 0x3BB}}}};

bool hits(const BoardBase& b, const NeighbourTemplate& t, int x, int y) {
    int top = x - (t.rows - 1) / 2;
    for (int i = 0; i < t.rows; i++) {
        int row = top + i;
        if (row >= 0 && row < boardWidth && templateHit(b, row, y, t.row[i].shift, t.row[i].mask)) return true;
    }
    return false;
}

const NeighbourTemplate& neighbourTemplate(const NodeState& node, int earlier) {
    bool freeStyle = tablesRule == RULE_FREESTYLE;
    if (earlier <= 18) return freeStyle ? SQUARE5_LINES3_OWN[node.side - 1] : SQUARE5_LINES3;
    if (!freeStyle) return SQUARE5;
    bool narrow = node.eff <= 4 && node.nullWindow && node.best > -5000000 && node.ply > 1;
    return narrow ? STAR2 : SQUARE5_OWN[node.side - 1];
}

inline int wide(const BoardBase& b, int p, int s) { return shapeFlags[b.squares[s].shape[p]] & 7; }

inline bool freeSquare(const BoardBase& b, int s) { return onBoard(s) && b.cell[s] == EMPTY; }

inline int append(MoveEntry* list, int pos, int s) {
    if (pos >= MAX_STONES) return 0;
    list[pos] = {0, s};
    return 1;
}

int listRows(MoveEntry* list, int pos, uint32_t rows, const uint32_t* words, const uint32_t* without) {
    int n = 0;
    for (; rows != 0; rows &= rows - 1) {
        int x = lowestBit(rows);
        for (uint32_t ys = words[x] & ~(without ? without[x] : 0); ys != 0; ys &= ys - 1) {
            n += append(list, pos + n, x * 32 + lowestBit(ys));
        }
    }
    return n;
}

int listKillers(SearchWorker& w, const NodeState& node, MoveEntry* list) {
    const BoardBase& b = w.board;
    int n = 0;
    const KillerSlot* slots = killersAt(w, node.depth);
    for (int k = 0; k < 2; k++) {
        int m = slots[k].move;
        if (slots[k].shape != 0 && freeSquare(b, m) && slots[k].shape == b.squares[m].shape[node.side - 1]) {
            list[n++] = {0, m};
        }
    }
    return n;
}

// Side's answers to the opponent's threat of an open four; sets defenceOnly unless the
// threat is not real (under Renju every open-four square of FIRST forbidden).
int listDefence(BoardBase& b, NodeState& node, MoveEntry* list) {
    int side = node.side, opp = 3 - side;
    int n = listThreatSquares(b, list, 0, opp, T_OPEN_FOUR);
    int reference = list[0].move;
    bool real = true;
    if (tablesRule == RULE_RENJU && opp == FIRST) {
        real = false;
        for (int k = 0; k < n && !real; k++) {
            if (!isForbidden(b, list[k].move)) {
                reference = list[k].move;
                real = true;
            }
        }
    }
    n += extraDefence(b, list, n, opp, reference);
    n += listThreatSquares(b, list, n, side, T_FOUR);
    node.defenceOnly = real;
    return n;
}

}  // namespace

int listThreatSquares(const BoardBase& b, MoveEntry* list, int pos, int side, int c) {
    return listRows(list, pos, b.threatRowMask[c][side - 1], b.threatRows[c][side - 1], nullptr);
}

int listFourOrThreeSquares(const BoardBase& b, MoveEntry* list, int pos, int side) {
    int p = side - 1;
    uint32_t rows = b.threatRowMask[T_FOUR][p] | b.threatRowMask[T_THREE][p];
    uint32_t words[MAX_BOARD];
    for (int x = 0; x < boardWidth; x++) words[x] = b.threatRows[T_FOUR][p][x] | b.threatRows[T_THREE][p][x];
    return listRows(list, pos, rows, words, b.threatRows[T_DOUBLE][p]);
}

bool hasPlayableOpenFour(BoardBase& b, int side) {
    int p = side - 1;
    if (!hasThreat(b, T_OPEN_FOUR, p)) return false;
    if (!(tablesRule == RULE_RENJU && side == FIRST)) return true;
    int squares[MAX_STONES];
    int n = listThreats(b, T_OPEN_FOUR, p, squares);
    for (int i = 0; i < n; i++) {
        if (!isForbidden(b, squares[i])) return true;
    }
    return false;
}

int extraDefence(BoardBase& b, MoveEntry* list, int pos, int side, int s) {
    int p = side - 1;
    int d = 0;
    while (d < 4 && shapeCode(b, s, p, d) != SHAPE_OPEN_FOUR) d++;
    if (d == 4) return 0;
    int t = DIRECTION_STEP[d];
    auto own = [&](int q) { return onBoard(q) && b.cell[q] == side; };
    int n = 0;
    if (own(s + t) && own(s - t)) {
        // s is the gap of a split three: the first empty squares beyond the stones.
        for (int step : {t, -t}) {
            int q = s + step;
            while (onBoard(q) && b.cell[q] != EMPTY) q += step;
            if (freeSquare(b, q)) n += append(list, pos + n, q);
        }
        return n;
    }
    if (!own(s + t) && own(s - t)) t = -t;
    int far = s + 4 * t, near = s - t;
    // Both ends of a straight three are open-four squares already in the list.
    if (onBoard(far) && shapeCode(b, far, p, d) == SHAPE_OPEN_FOUR &&
        !(tablesRule == RULE_RENJU && side == FIRST && isForbidden(b, far))) {
        return 0;
    }
    for (int q : {far, near}) {
        if (freeSquare(b, q)) n += append(list, pos + n, q);
    }
    return n;
}

bool templateHit(const BoardBase& b, int x, int y, int shift, uint32_t mask) {
    uint64_t inside = ((uint64_t{1} << (2 * boardHeight)) - 1) << 10;
    return (b.line0[x] & inside & (static_cast<uint64_t>(mask) << (2 * y + 10 - shift))) != 0;
}

int generalCandidates(SearchWorker& w, const NodeState& node, MoveEntry* list) {
    const BoardBase& b = w.board;
    const int ply = node.ply, ps = node.side - 1, po = 2 - node.side;
    bool strict = (node.nullWindow || node.best > -5000000) && (tablesRule == RULE_FREESTYLE || ply > 1);
    const int sideMin = strict ? 8 : 6, oppMin = strict ? 9 : 6;
    int n = 0;
    bool notableSquare = false;
    auto open = [&](int s) { return b.cell[s] == EMPTY && !searchedAt(w, ply, s); };
    auto take = [&](int s) {
        markSearched(w, ply, s);
        n += append(list, n, s);
    };
    auto notable = [&](int s) {
        const SquareInfo& q = b.squares[s];
        return shapeSum[q.shape[ps]] >= sideMin || shapeSum[q.shape[po]] >= oppMin;
    };

    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            int s = x * 32 + y;
            if (!open(s)) continue;
            if (notable(s)) notableSquare = true;
            if (wide(b, 0, s) >= 2 || wide(b, 1, s) >= 2) take(s);
        }
    }
    if (ply > 1 && node.nullWindow && node.best > -5000000 && (n > 0 || (node.earlier > 0 && node.eff <= 4))) {
        return n;
    }
    if (notableSquare) {
        for (int x = 0; x < boardWidth; x++) {
            for (int y = 0; y < boardHeight; y++) {
                int s = x * 32 + y;
                if (open(s) && notable(s)) take(s);
            }
        }
        if (n > 0 && ply > 1) return n;
    }
    const NeighbourTemplate& near = neighbourTemplate(node, node.earlier);
    for (int x = 0; x < boardWidth; x++) {
        for (int y = 0; y < boardHeight; y++) {
            int s = x * 32 + y;
            if (open(s) && hits(b, near, x, y)) take(s);
        }
    }
    if (node.earlier + n == 0) {
        for (int x = 0; x < boardWidth; x++) {
            for (int y = 0; y < boardHeight; y++) {
                if (open(x * 32 + y)) take(x * 32 + y);
            }
        }
    }
    return n;
}

int filterAndOrder(SearchWorker& w, NodeState& node, MoveEntry* list, int n, int stage) {
    BoardBase& b = w.board;
    const int ply = node.ply, ps = node.side - 1, po = 2 - node.side;
    const bool renjuFirst = tablesRule == RULE_RENJU && node.side == FIRST;
    for (int k = 0; k < n;) {
        int m = list[k].move;
        if ((stage != STAGE_GENERAL && searchedAt(w, ply, m)) || (renjuFirst && isForbidden(b, m))) {
            // The hash moves keep the table's order; elsewhere the last entry takes the place.
            if (stage == STAGE_HASH) std::copy(list + k + 1, list + n, list + k);
            else list[k] = list[n - 1];
            n--;
            continue;
        }
        markSearched(w, ply, m);
        node.earlier++;
        const SquareInfo& q = b.squares[m];
        list[k].key = -(shapeSum[q.shape[ps]] + shapeSum[q.shape[po]] / 2 + q.score[ps] / 4 + q.score[po] / 8);
        k++;
    }
    if (stage != STAGE_HASH && n >= 2) {
        std::sort(list, list + n, [](const MoveEntry& l, const MoveEntry& r) { return l.key < r.key; });
    }
    return n;
}

int nextStage(SearchWorker& w, NodeState& node, MoveEntry* list) {
    BoardBase& b = w.board;
    const int side = node.side, opp = 3 - side;
    while (node.stage < STAGE_DONE) {
        if (node.defenceOnly) break;
        int stage = ++node.stage, n = 0;
        switch (stage) {
            case STAGE_OWN_DOUBLE: n = listThreatSquares(b, list, 0, side, T_DOUBLE); break;
            case STAGE_DEFENCE:
                if (hasThreat(b, T_OPEN_FOUR, opp - 1)) n = listDefence(b, node, list);
                break;
            case STAGE_OPP_DOUBLE: n = listThreatSquares(b, list, 0, opp, T_DOUBLE); break;
            case STAGE_OWN_THREAT: n = listFourOrThreeSquares(b, list, 0, side); break;
            case STAGE_OPP_THREAT: n = listFourOrThreeSquares(b, list, 0, opp); break;
            case STAGE_KILLERS: n = listKillers(w, node, list); break;
            case STAGE_GENERAL: n = generalCandidates(w, node, list); break;
            default: break;
        }
        n = filterAndOrder(w, node, list, n, stage);
        if (n > 0) return n;
    }
    node.stage = STAGE_DONE;
    return 0;
}
