#include "board/forbidden.h"

#include <initializer_list>

#include "board/board.h"

namespace {

// First board square past the first player's run from s along step, or -1 when the run
// reaches the edge of the board.
int runEnd(const BoardBase& b, int s, int step) {
    int t = s + step;
    while (onBoard(t) && b.cell[t] == FIRST) t += step;
    return onBoard(t) ? t : -1;
}

// A four on direction d counts twice only when the line holds a second four: both ends of
// the run through s must complete a four of their own.
bool lineMayHoldTwoFours(const BoardBase& b, int s, int d) {
    int plus = runEnd(b, s, DIRECTION_STEP[d]);
    int minus = runEnd(b, s, -DIRECTION_STEP[d]);
    return plus >= 0 && minus >= 0 && shapeCode(b, plus, 0, d) >= SHAPE_CLOSED_FOUR &&
           shapeCode(b, minus, 0, d) >= SHAPE_CLOSED_FOUR;
}

// A three is real when one end of its run turns it into an open four on a square that is
// neither a five square nor itself forbidden.
bool realThree(BoardBase& b, int s, int d) {
    for (int step : {DIRECTION_STEP[d], -DIRECTION_STEP[d]}) {
        int e = runEnd(b, s, step);
        if (e >= 0 && shapeCode(b, e, 0, d) == SHAPE_OPEN_FOUR && !inThreat(b, T_FIVE, 0, e) &&
            !isForbidden(b, e)) {
            return true;
        }
    }
    return false;
}

// Number of squares completing a five on direction d (one for an open four: it counts once).
int completedFours(BoardBase& b, int s, int d, int firstCode) {
    int count = 0;
    for (int step : {DIRECTION_STEP[d], -DIRECTION_STEP[d]}) {
        int e = runEnd(b, s, step);
        if (e >= 0 && shapeCode(b, e, 0, d) == SHAPE_FIVE && !isForbidden(b, e)) {
            count++;
            if (firstCode == SHAPE_OPEN_FOUR) break;
        }
    }
    return count;
}

}  // namespace

int isForbidden(BoardBase& b, int s) {
    int code[4];
    int threats = 0, firstDir = -1, lastDir = -1;
    bool overline = false;
    for (int d = 0; d < 4; d++) {
        code[d] = shapeCode(b, s, 0, d);
        if (code[d] == SHAPE_FIVE) return 0;
        if (code[d] == SHAPE_OVERLINE) overline = true;
        if (code[d] >= SHAPE_SPLIT_THREE && code[d] <= SHAPE_OPEN_FOUR) {
            threats++;
            if (firstDir < 0) firstDir = d;
            lastDir = d;
        }
    }
    if (overline) return 1;
    if (threats == 0) return 0;
    if (threats == 1) {
        int c = code[firstDir];
        if (c <= SHAPE_THREE || c == SHAPE_OPEN_FOUR) return 0;
        if (!lineMayHoldTwoFours(b, s, firstDir)) return 0;
    } else if (threats == 2) {
        bool firstFour = code[firstDir] >= SHAPE_CLOSED_FOUR;
        bool lastFour = code[lastDir] >= SHAPE_CLOSED_FOUR;
        if (firstFour != lastFour && !lineMayHoldTwoFours(b, s, firstFour ? firstDir : lastDir)) {
            return 0;
        }
    }

    makeMoveLight(b, s, FIRST);
    int threes = 0, fours = 0;
    for (int d = firstDir; d <= lastDir; d++) {
        if (code[d] == SHAPE_SPLIT_THREE || code[d] == SHAPE_THREE) {
            if (realThree(b, s, d)) threes++;
        } else if (code[d] >= SHAPE_CLOSED_FOUR && code[d] <= SHAPE_OPEN_FOUR) {
            fours += completedFours(b, s, d, code[d]);
        }
    }
    unmakeMoveLight(b, s, FIRST);
    return (threes >= 2 || fours >= 2) ? 1 : 0;
}
