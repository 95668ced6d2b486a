// The game record and the board operations through which commands change the game. The
// board is built lazily from the record: under Renju at once, otherwise when a search starts.
#pragma once
#include <cstdint>

#include "board/tables.h"

// One move of the game; who is the stone's colour (1 moved first, 2 the other).
struct MoveRecord {
    int32_t x;
    int32_t y;
    int32_t who;
};

extern MoveRecord gameRecord[MAX_STONES];
extern int32_t recordCount;
// Blocks sent by the manager; kept apart from the record so colours still alternate.
extern MoveRecord blockRecord[MAX_STONES];
extern int32_t blockCount;

extern const char* const ENGINE_VERSION;

// Reset for the current boardWidth x boardHeight; writes its reply lines.
void resetBoard();
// New game at the same size; writes its reply lines unless quiet.
void newGame(bool quiet = false);
void playOpponentMove(int x, int y);
void playOwnMove(int x, int y);  // x = -1: pass
void placeBlock(int x, int y);
// 0 = done, 2 = refused.
int takeBack(int x, int y);
// Rebuilds the board when the rule changed since it was built, announcing the rule.
void announceRule();
void rebuildBoard(int forRule);
// Before a search or a rebuild: the search threads and the hash tables' sizes from the INFO
// settings (tables resized or cleared as needed, never during a search).
void prepareSearch();
// Before a turn is asked for (on START and RESTART before the reply, on the think thread
// after INFO): the rule's pattern tables when no board is built yet, the hash tables in their
// planned sizes, and with helper threads their pages up to the deadline (clockMs), so that
// the first turn finds them ready instead of paying for them on its clock.
void warmUp(int32_t touchDeadline = INT32_MAX);

// Whether (x, y) is on the board and holds nothing, by the board when it is built and by
// the records otherwise.
bool squareFree(int x, int y);
