// Staged move generation: after the hash moves, every node lists its moves stage by stage,
// threats first (straight from the board's threat sets), then killers, then a general
// generator over the whole board. Each stage's list is filtered, marked and ordered before
// its moves are searched; a square no stage lists is never searched at that node.
#pragma once
#include <cstdint>

#include "board/board.h"
#include "search/search.h"

// Stage numbers, in the order a node walks them.
constexpr int STAGE_HASH = 0;          // moves stored with the position in the hash table
constexpr int STAGE_OWN_DOUBLE = 1;    // side's fours and threes in two directions
constexpr int STAGE_DEFENCE = 2;       // answers to the opponent's threat of an open four
constexpr int STAGE_OPP_DOUBLE = 3;
constexpr int STAGE_OWN_THREAT = 4;    // side's other fours and threes
constexpr int STAGE_OPP_THREAT = 5;
constexpr int STAGE_KILLERS = 6;
constexpr int STAGE_GENERAL = 7;
constexpr int STAGE_DONE = 8;

// What the generators need to know of the node they list moves for.
struct NodeState {
    int32_t depth;
    int32_t ply;
    int32_t side;       // player to move, 1 or 2
    int32_t eff;        // effective depth: depth + (ext >> 1)
    bool nullWindow;    // alpha + 1 == beta
    int32_t best;       // best value found at the node so far
    int32_t earlier;    // legal moves the node has counted so far
    int32_t stage;      // the stage last listed
    bool defenceOnly;   // only the defence against an open-four threat is searched
};

inline int rankOf(const BoardBase& b, int side, int s) { return shapeSum[b.squares[s].shape[side - 1]]; }

// Writes the squares of class c for side from list[pos] on (row order); returns how many.
int listThreatSquares(const BoardBase& b, MoveEntry* list, int pos, int side, int c);
// Side's T_FOUR or T_THREE squares that are not T_DOUBLE squares, likewise.
int listFourOrThreeSquares(const BoardBase& b, MoveEntry* list, int pos, int side);
// Whether side has an open-four square it may play (under Renju FIRST's forbidden ones
// do not count).
bool hasPlayableOpenFour(BoardBase& b, int side);
// Up to two more defence squares against side's three behind its open-four square s.
int extraDefence(BoardBase& b, MoveEntry* list, int pos, int side, int s);
// Whether board row x has a counted cell under a template row {shift, mask} placed at y.
bool templateHit(const BoardBase& b, int x, int y, int shift, uint32_t mask);
// The general generator: lists (and marks) unsearched empty squares by shape and
// neighbourhood; returns how many.
int generalCandidates(SearchWorker& w, const NodeState& node, MoveEntry* list);

// Drops what was searched already at this node and, under Renju, FIRST's forbidden squares;
// marks and counts the rest, gives each its sort key and, except for the hash moves, sorts
// best first. Returns the number left.
int filterAndOrder(SearchWorker& w, NodeState& node, MoveEntry* list, int n, int stage);

// Lists, filters and orders the next stage after node.stage (1 to 7) that has a move to
// search and returns its size; 0 when no stage is left (node.stage is then STAGE_DONE).
int nextStage(SearchWorker& w, NodeState& node, MoveEntry* list);
