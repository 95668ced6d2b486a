// The lines a board GUI asks for with INFO show_detail: realtime lines (bit 0: which root
// move is searched, done, lost, best; throttled) and INFO blocks (bit 1: depth, nodes,
// value, principal variation after every iteration). With 0 nothing is written and the
// search has no listener.
#pragma once
#include <cstdint>

// Think thread, before a think's searches: reads show_detail, starts the throttle's and the
// block's clock and installs the search's listener when lines are wanted. pvCount: the
// number of moves the think reports (INFO NUMPV).
void beginDetail(int pvCount);
// Before each search of the think: the index of the move it looks for (INFO PV i).
void setDetailPv(int index);
// One move a think reports, with the value, depth and deepest ply of its search.
struct PvResult {
    int32_t move;
    int32_t value;
    int32_t depth;
    int32_t selDepth;
};
// After a search: its result from the main worker; the think's node counts go on from there.
PvResult finishDetailSearch(int move, int32_t value);
// The final blocks of the think's moves, best value first (stable): a later search may see
// deeper than an earlier one. Sorts results.
void writePvBlocks(PvResult* results, int count);
// After the think: removes the listener.
void endDetail();

// The value as INFO EVAL writes it: +Mk / -Mk for a forced win or loss whose winner's k-th move
// makes a five or a threat of five that cannot be stopped (an open four, two fours), else the
// number; rootDepth is the depth the value was found at.
void formatEval(int32_t value, int rootDepth, char* text, int size);
// 1 / (1 + exp(-value / 200)), 1 or 0 for a proven result.
double winRate(int32_t value);
