// The alpha-beta search below the root: principal-variation search over the staged move
// order, with a fractional extension credit for forcing moves, a small penalty on some of
// them, the four-threat search at every node, futility and late-move pruning near the
// leaves, and the hash table for values and move order.
#pragma once
#include <cstdint>

#include "search/candidates.h"

// Negamax value of the position on the board for side (1 or 2) to move, searched to depth
// with the extension credit ext (>= 0) within the window alpha < beta. 0 with w.abort set
// when the stop check fired. The board, hashKey and the stone list are unchanged on return.
int32_t nodeSearch(SearchWorker& w, int depth, int alpha, int beta, int side, int ext);

// The three best moves of a node with the values they were kept with, best first; a value
// equal to one in the list goes after it.
struct TopMoves {
    int32_t move[3] = {-1, -1, -1};
    int32_t value[3] = {MINUS_INF, MINUS_INF, MINUS_INF};
    void insert(int m, int32_t v);
};

// The value a searched move is kept with: decided values as they are, others no lower than
// alpha (below alpha they only say "no better").
inline int32_t keptValue(int32_t value, int32_t alpha) {
    return (value >= DECIDED || value <= -DECIDED || value > alpha) ? value : alpha;
}

// Extension increment and penalty of a move, from its shape for the side to move.
struct MoveCost {
    int32_t extension;
    int32_t penalty;
    int32_t rank;  // shape sum of the square for the side to move
};
// staticValue: the node's static value, NO_SCORE until some move needs it.
MoveCost moveCost(SearchWorker& w, const NodeState& node, int m, int32_t* staticValue);
// After side's move is made: a move that threatens a win by fours earns more extension.
// Returns the new increment; w.abort may be set.
int32_t threatExtension(SearchWorker& w, int depth, int side, int rank, int32_t extension);
// A node's first list: the block of the opponent's five when forced, else the hash moves,
// after internal deepening when there are none and the node is deep enough. *settled is a
// value the node returns at once, else NO_SCORE; w.abort may be set.
int firstStage(SearchWorker& w, NodeState& node, MoveEntry* list, bool forced, int alpha, int beta, int ext,
               int32_t* settled);
// Whether a board with no legal move left is full (a draw) rather than lost.
bool boardFull(const BoardBase& b);
