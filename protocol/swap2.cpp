#include "protocol/swap2.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "board/board.h"
#include "board/forbidden.h"
#include "protocol/commands.h"
#include "protocol/game.h"
#include "protocol/output.h"
#include "protocol/think.h"
#include "search/hashtable.h"
#include "search/rootsearch.h"
#include "search/threads.h"
#include "search/timecontrol.h"

std::atomic<bool> swap2Pending{false};

namespace {

constexpr int MAX_OPENING_STONES = 5;
constexpr int PROPOSED_STONES = 3;
constexpr int NO_MOVE = -1;
// Values within this distance of 0: the search sees no side clearly ahead.
constexpr int32_t BALANCE_MARGIN = 100;
// A shorter search hardly looks past its preselection: a short budget tries fewer openings.
constexpr int32_t MIN_SEARCH_MS = 50;

// A stone of the block: who 0 when the line gave none (its place in the block decides).
struct OpeningStone {
    int x;
    int y;
    int who;
};

// Offsets from the centre of the three stones to propose (first, second, first). The
// second player's stone touches the first; the first player's second stone stands a knight's
// move or two squares away, which keeps the opening from being an early attack.
struct Offset {
    int dx;
    int dy;
};
constexpr Offset OPENINGS[][PROPOSED_STONES] = {
    {{0, 0}, {1, 1}, {2, 0}},  {{0, 0}, {1, 0}, {0, 2}},  {{0, 0}, {0, 1}, {2, 2}},
    {{0, 0}, {1, -1}, {-1, 2}}, {{0, 0}, {1, 0}, {-1, 2}}, {{0, 0}, {1, 1}, {-2, 1}},
};

int32_t budgetStart = 0;
int32_t budgetTotal = 0;

int32_t budgetLeft() { return budgetTotal - (clockMs() - budgetStart); }

bool onTheBoard(int x, int y) { return x >= 0 && y >= 0 && x < boardWidth && y < boardHeight; }

// Checks the stones and puts them in the order of play; false when they are no opening.
bool orderStones(const OpeningStone* given, int count, int* squares) {
    int mover = count % 2 == 0 ? FIRST : SECOND;  // who 1 is the side that moves next
    int next[2] = {0, 1};                         // next record index of FIRST, SECOND
    for (int i = 0; i < count; i++) {
        int colour = given[i].who == 0 ? i % 2 + 1 : (given[i].who == 1 ? mover : 3 - mover);
        int& index = next[colour - 1];
        if (index >= count) return false;
        squares[index] = given[i].x * 32 + given[i].y;
        index += 2;
    }
    for (int i = 0; i < count; i++) {
        if (std::count(squares, squares + count, squares[i]) != 1) return false;
    }
    return count != 0 || boardWidth * boardHeight >= PROPOSED_STONES;
}

bool allowed(int s, int who) {
    return s >= 0 && onBoard(s) && g_board.cell[s] == EMPTY &&
           !(who == FIRST && tablesRule == RULE_RENJU && isForbidden(g_board, s));
}

// What every swap search goes through, as a turn runs its search: side to move, the share of
// the budget it may take. Returns the value for side and the square found (or NO_MOVE).
int32_t searchSide(int side, int searchesLeft, int* move) {
    int32_t share = std::max(1, budgetLeft() / searchesLeft);
    // The share stands in for the turn time; an INFO timeout_turn arriving meanwhile wins.
    int32_t turnTime = timeoutTurn.exchange(share);
    SearchWorker& main = mainWorker();
    startSearchClock(main, g_board.stoneCount);
    hashAge = g_board.stoneCount;
    prepareSearch();
    main.bestMove = NO_MOVE;
    int32_t firstValue = preselectMove(side, &main.bestMove);
    int32_t value = parallelSearch(side, firstValue, settingLimits());
    timeoutTurn.compare_exchange_strong(share, turnTime);
    *move = main.bestMove;
    return value;
}

// Adds the stones to the record and writes them as one line.
void answerStones(const int* squares, int count) {
    char text[64] = "";
    for (int i = 0; i < count; i++) {
        int x = squares[i] >> 5, y = squares[i] & 31;
        playOwnMove(x, y);
        size_t length = std::strlen(text);
        std::snprintf(text + length, sizeof text - length, i == 0 ? "%d,%d" : " %d,%d", x, y);
    }
    writeLine("%s", text);
}

// Empty board: of the openings that fit, the one whose value for the second player is
// nearest 0, since the opponent then picks the side.
void proposeOpening() {
    int fitting[std::size(OPENINGS)][PROPOSED_STONES];
    int count = 0;
    for (const auto& opening : OPENINGS) {
        bool fits = true;
        for (int i = 0; i < PROPOSED_STONES; i++) {
            int x = boardWidth / 2 + opening[i].dx, y = boardHeight / 2 + opening[i].dy;
            fits = fits && onTheBoard(x, y);
            fitting[count][i] = x * 32 + y;
        }
        count += fits ? 1 : 0;
    }
    count = std::min(count, std::max(1, budgetTotal / MIN_SEARCH_MS));
    int best[PROPOSED_STONES];
    if (count == 0) {  // a board too small for them: the first free squares
        for (int s = 0, n = 0; n < PROPOSED_STONES; s++) {
            if (onBoard(s)) best[n++] = s;
        }
    }
    int32_t nearest = INT32_MAX;
    for (int c = 0; c < count && (c == 0 || budgetLeft() >= MIN_SEARCH_MS); c++) {
        for (int i = 0; i < PROPOSED_STONES; i++) makeMove(g_board, fitting[c][i], i % 2 + 1);
        int move;
        int32_t distance = std::abs(searchSide(SECOND, count - c, &move));
        for (int i = PROPOSED_STONES - 1; i >= 0; i--) unmakeMove(g_board, fitting[c][i], i % 2 + 1);
        if (distance < nearest) {
            nearest = distance;
            std::copy(fitting[c], fitting[c] + PROPOSED_STONES, best);
        }
    }
    answerStones(best, PROPOSED_STONES);
}

// Three or five stones, the second player to move: the engine takes the side the search
// favours (SWAP: the first player's), and with three stones on a balanced position adds the
// second player's move and the first player's answer, which leaves the choice balanced.
void chooseSide() {
    bool canAdd = recordCount == 3;
    int move, answer;
    int32_t value = searchSide(SECOND, canAdd ? 2 : 1, &move);  // for the second player
    if (move != NO_MOVE && canAdd && std::abs(value) <= BALANCE_MARGIN &&
        budgetLeft() >= MIN_SEARCH_MS) {
        makeMove(g_board, move, SECOND);
        int32_t firstValue = searchSide(FIRST, 1, &answer);
        unmakeMove(g_board, move, SECOND);
        if (std::abs(firstValue) <= BALANCE_MARGIN && answer != NO_MOVE) {
            makeMove(g_board, move, SECOND);
            bool legal = allowed(answer, FIRST);
            unmakeMove(g_board, move, SECOND);
            if (legal) {
                int squares[2] = {move, answer};
                return answerStones(squares, 2);
            }
        }
        value = -firstValue;  // the deeper look decides the side
    }
    if (move != NO_MOVE && value >= 0 && allowed(move, SECOND)) return answerStones(&move, 1);
    writeLine("SWAP");
}

}  // namespace

bool readSwap2Block() {
    OpeningStone given[MAX_OPENING_STONES];
    int count = 0;
    for (;;) {
        if (!readLine()) return false;
        int v[3];
        int n = scanNumbers(lineBuffer, "%d,%d,%d", v);
        if (n >= 2 && onTheBoard(v[0], v[1]) && (n == 2 || v[2] == 1 || v[2] == 2)) {
            if (count < MAX_OPENING_STONES) given[count] = {v[0], v[1], n == 3 ? v[2] : 0};
            count++;
            continue;
        }
        if (std::strlen(lineBuffer) == 4 && matchCommand("done", lineBuffer) != nullptr) break;
        writeLine("ERROR x,y or DONE expected after SWAP2BOARD");
        return true;
    }
    int squares[MAX_OPENING_STONES];
    if ((count != 0 && count != 3 && count != 5) || !orderStones(given, count, squares)) {
        writeLine("ERROR SWAP2BOARD takes 0, 3 or 5 stones of both players on distinct squares");
        return true;
    }
    newGame(true);
    for (int i = 0; i < count; i++) playOpponentMove(squares[i] >> 5, squares[i] & 31);
    swap2Pending.store(true);
    startThinking();
    return true;
}

void swap2Driver() {
    setTimeMode();
    startAskedClock(mainWorker());
    budgetTotal = timeLimit;
    budgetStart = searchStartTime;
    announceRule();
    if (recordCount == 0) proposeOpening();
    else chooseSide();
}
