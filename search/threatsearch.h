// Search for wins by continuous fours: the attacker plays only moves that make a four, the
// defender only the squares that stop the five. No depth limit is needed: every attacker
// move adds a four and every reply is forced, so a line ends when the fours run out.
#pragma once
#include <cstdint>

#include "search/search.h"

// A node at threat ply t that wins for its side to move returns THREAT_WIN - t; the node
// search turns a result r > 0 into depth + r - 484 = WIN_SCORE + depth - t.
constexpr int32_t THREAT_WIN = 10000484;
// Lowest shape sum of a four worth trying: a four (256) with at least a closed three or a
// few twos beside it on other lines. Lone fours only give the opponent a free stone.
constexpr int THREAT_MIN_RANK = 279;

// Can side, to move, force a five by fours alone? > 0: a win (THREAT_WIN - length of the
// line); 0: none found. depth is the calling node's depth (it selects the per-ply move list:
// ply = w.rootDepth - depth); role and t are 0. Leaves the board, hashKey and stones as found.
int32_t threatSearch(SearchWorker& w, int depth, int side, int role, int t);

// One node of that search at threat ply t; role 0: side attacks, 1: side defends (it must
// stop the opponent's five). Values are for side: > 0 a forced win, 0 no win found / the
// attack broken, < 0 (defender only) a forced loss. 0 also on abort (w.abort set).
int32_t threatSearchNode(SearchWorker& w, int depth, int side, int role, int t);
