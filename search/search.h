// What the root search, the node search and the four-threat search share: the score scale,
// the move lists and the record of one search thread.
#pragma once
#include <atomic>
#include <cstdint>

#include "board/board.h"

// Score scale: negamax values for the side to move; ordinary evaluations stay within a few
// thousand.
constexpr int32_t WIN_SCORE = 10000000;  // + remaining depth for a win found at once
// Values at least this far from 0 are forced wins (positive) or losses (negative):
// WIN_SCORE - 2 * 484, below every win the searches can report.
constexpr int32_t MATE_BOUND = 9999032;
constexpr int32_t DECIDED = 9000000;     // beyond it a value counts as decided in move loops
constexpr int32_t NO_SCORE = 20000000;   // a hash probe found nothing usable
constexpr int32_t MINUS_INF = -1000000000;

constexpr int MAX_PLY = MAX_STONES;  // every ply but internal deepening places a stone

// One entry of a move list: sort key and square.
struct MoveEntry {
    int32_t key;
    int32_t move;
};

// A quiet move that cut off at a remaining depth, with the shape word it had then for the
// side that played it (0 = empty slot): it is tried again only where it means the same.
struct KillerSlot {
    int32_t move;
    uint32_t shape;
};

// What one search thread writes: its copy of the board, the per-ply move lists and marks, the
// killers, its node count and stop flag, its depth loop's state and its result. Threads share
// only the read-only tables, the hash tables and the stop requests.
struct SearchWorker {
    BoardBase board;
    MoveEntry plyMoves[MAX_PLY][MAX_STONES];
    uint64_t searchedMark[MAX_PLY][SQUARE_SLOTS];
    uint64_t plyVisit[MAX_PLY];
    KillerSlot killerTable[MAX_PLY][2];  // by remaining depth; slot 1 is the newer
    int64_t nodeCount;
    int32_t abort;               // set by the first stop check that fires
    int32_t index;               // 0: the main thread, which alone keeps the clock and decides
    int32_t rootDepth;           // depth of the current iteration; ply = rootDepth - depth
    int32_t bestMove;            // the move the search would play; -1: none yet
    int32_t lastIterationValue;  // value of the last completed iteration
    int32_t singleCandidate;     // 1: only one root move was not lost in the last search
    int32_t stableCount;         // iterations in a row that kept the best move
    int32_t rootMovesCompleted;  // root moves fully searched by the last rootSearch call
    int32_t completedDepth;      // a helper's deepest finished iteration (0: none), its move
    int32_t completedMove;       // and value
    int32_t completedValue;
    int32_t selDepth;            // deepest ply the current iteration reached
    int64_t nodeStart;           // nodeCount at the start: a node budget starts it high
    std::atomic<int64_t> sharedNodes;  // a helper's nodeCount as of its last stop check
    int32_t excludedCount;       // root moves this search must not consider
    int32_t excluded[MAX_STONES];
};

// Killer entry of a remaining depth; depths below 0 (nodes kept alive by extensions) share
// entry 0.
inline KillerSlot* killersAt(SearchWorker& w, int depth) {
    return w.killerTable[depth < 0 ? 0 : (depth >= MAX_PLY ? MAX_PLY - 1 : depth)];
}

// A new node at ply: from now on a move whose mark equals the ply's counter has been
// searched at this node.
inline void enterPly(SearchWorker& w, int ply) {
    if (++w.plyVisit[ply] > (uint64_t{1} << 63)) {
        for (uint64_t& mark : w.searchedMark[ply]) mark = 0;
        w.plyVisit[ply] = 1;
    }
}
inline bool searchedAt(const SearchWorker& w, int ply, int s) { return w.searchedMark[ply][s] == w.plyVisit[ply]; }
inline void markSearched(SearchWorker& w, int ply, int s) { w.searchedMark[ply][s] = w.plyVisit[ply]; }

// Zeroes what a new board invalidates in a worker: the per-ply marks, the killers, the depth.
void resetSearchState(SearchWorker& w);
