// Fits the evaluation's shape weights to game results (a Texel-style fit): the static value of
// every quiet position of the games, through a logistic curve, should predict the result for
// the side to move. The square scores are linear in the per-code weights and in the discount
// of a square's top code, so each position reduces to a few sums once, and the fit itself is
// gradient descent (Adam) on the mean squared error, pulled towards the weights in force.
//
//     tune_eval RULE SIZE games.txt...   (RULE 0 free-style, 1 standard, 2 Renju; the files
//                                        as tools/match.py --verbose writes them)
//
// Prints the fitted scale, the error before and after on the games kept aside (every fifth),
// and the weights to put in the tables.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/board.h"
#include "eval/evaluate.h"

namespace {

constexpr int TUNED_CODES = 9;    // codes 1..8: the quiet shapes; fours and fives stay as they are
constexpr int PARAMS = 2 * (TUNED_CODES - 1) + 1;  // weights, top discounts, side to move
constexpr int SKIP_FIRST_PLIES = 4;  // the opening's stones are the match's, not a choice of play
constexpr int SKIP_LAST_PLIES = 6;  // the end of a game is its finishing tactics
constexpr double PULL = 2e-5;  // pull towards the weights in force, on the change relative to the weight
constexpr double PULL_FLOOR = 10;  // below this size a weight's change counts as if it were this size
constexpr int STEPS = 3000, REPORT_EVERY = 500;
// The logistic curve's scale is searched from MIN_SCALE up by SCALE_STEP.
constexpr double MIN_SCALE = 50, MAX_SCALE = 3000, SCALE_STEP = 1.05;

struct Position {
    double feature[PARAMS];
    double fixed;   // the rest of the static value: pairs, rounding, the evaluation's corrections
    double result;  // for the side to move: 1 won, 0.5 drawn, 0 lost
    bool held;      // kept aside to judge the fit
};

struct Game {
    std::vector<int> squares;
    int winner;  // FIRST, SECOND or EMPTY for a draw
};

// Games of a match.py --verbose output: the opening's offsets from the centre, then the moves.
std::vector<Game> readGames(const char* path, int size) {
    std::vector<Game> games;
    std::ifstream in(path);
    std::string line, opening;
    int winner = -1;
    while (std::getline(in, line)) {
        size_t open = line.find('['), close = line.find(']');
        if (line.rfind("game ", 0) == 0 && open != std::string::npos && close != std::string::npos) {
            opening = line.substr(open + 1, close - open - 1);
            bool engineFirst = line.find("engine FIRST") != std::string::npos;
            if (line.find("draw") != std::string::npos) winner = EMPTY;
            else if (line.find(": engine wins") != std::string::npos) winner = engineFirst ? FIRST : SECOND;
            else if (line.find(": baseline wins") != std::string::npos) winner = engineFirst ? SECOND : FIRST;
            else winner = -1;  // a forfeit says nothing of the position
            if (line.find("FORFEITS") != std::string::npos) winner = -1;
            continue;
        }
        if (line.rfind("  moves", 0) != 0 || winner < 0) continue;
        Game g{{}, winner};
        std::istringstream stones(opening);
        int dx, dy;
        char comma;
        while (stones >> dx >> comma >> dy) g.squares.push_back((size / 2 + dx) * 32 + size / 2 + dy);
        std::istringstream moves(line.substr(line.find(':') + 1));
        std::string move;
        while (moves >> move) {
            int x, y;
            if (std::sscanf(move.c_str(), "%d,%d", &x, &y) == 2) g.squares.push_back(x * 32 + y);
        }
        // Only games that fit the board, a stone a square, are replayed.
        std::vector<bool> taken(SQUARE_SLOTS, false);
        bool fits = true;
        for (int s : g.squares) {
            fits = fits && s >= 0 && s < SQUARE_SLOTS && (s >> 5) < size && (s & 31) < size && !taken[s];
            if (fits) taken[s] = true;
        }
        if (fits) games.push_back(g);
        winner = -1;
    }
    return games;
}

// The square scores' linear part for player p: per code, roomSum / 32 times the count of
// the code in the square's four directions, and minus that for the top code. Squares the
// Renju rule values otherwise for the first player (two fours, two threes, an overline) are
// left to the fixed part.
void addSquare(const SquareInfo& q, int p, double sign, double* feature) {
    int code[4];
    for (int d = 0; d < 4; d++) code[d] = (q.shape[p] >> (4 * d)) & 15;
    std::sort(code, code + 4, [](int l, int r) { return l > r; });
    if (tablesRule == RULE_RENJU && p == 0 &&
        shapeValue(code[0], code[1], code[2], code[3], tablesRule, true) !=
            shapeValue(code[0], code[1], code[2], code[3], tablesRule, false)) {
        return;
    }
    double room = q.roomSum[p] / 32.0;
    for (int c : code) {
        if (c >= 1 && c < TUNED_CODES) feature[c - 1] += sign * room;
    }
    if (code[0] >= 1 && code[0] < TUNED_CODES) feature[TUNED_CODES - 1 + code[0] - 1] -= sign * room;
}

double linearPart(const double* feature, const double* theta) {
    double v = 0;
    for (int i = 0; i < PARAMS; i++) v += feature[i] * theta[i];
    return v;
}

bool quiet(const BoardBase& b) {
    for (int p = 0; p < 2; p++) {
        if (hasThreat(b, T_FIVE, p) || hasThreat(b, T_OPEN_FOUR, p)) return false;
    }
    return true;
}

double sigmoid(double v, double scale) { return 1.0 / (1.0 + std::exp(-v / scale)); }

double meanError(const std::vector<Position>& positions, const double* theta, double scale, bool held) {
    double sum = 0;
    int n = 0;
    for (const Position& pos : positions) {
        if (pos.held != held) continue;
        double e = sigmoid(pos.fixed + linearPart(pos.feature, theta), scale) - pos.result;
        sum += e * e;
        n++;
    }
    return n > 0 ? sum / n : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: tune_eval RULE SIZE games.txt...\n");
        return 2;
    }
    const int forRule = std::atoi(argv[1]), size = std::atoi(argv[2]);
    if (forRule < RULE_FREESTYLE || forRule > RULE_RENJU || size < 7 || size > MAX_BOARD) {
        std::fprintf(stderr, "tune_eval: rule 0 to 2, size 7 to %d\n", MAX_BOARD);
        return 2;
    }
    boardWidth = boardHeight = boardSize = size;
    updateReach = forRule == RULE_FREESTYLE ? 4 : 5;
    buildTables(forRule);
    tablesRule = forRule;

    // The weights in force, in the parameters' order.
    double inForce[PARAMS];
    for (int c = 1; c < TUNED_CODES; c++) {
        inForce[c - 1] = EVAL_SHAPE_WEIGHT[forRule][c];
        inForce[TUNED_CODES - 1 + c - 1] = EVAL_TOP_DISCOUNT[forRule][c];
    }
    inForce[PARAMS - 1] = 0;  // the side to move's bonus, on top of the evaluation's own

    std::vector<Position> positions;
    int gameCount = 0;
    for (int f = 3; f < argc; f++) {
        for (const Game& g : readGames(argv[f], size)) {
            resetBoardState(g_board);
            const int n = static_cast<int>(g.squares.size());
            for (int i = 0; i < n - SKIP_LAST_PLIES; i++) {
                makeMove(g_board, g.squares[i], i % 2 + 1);
                const int side = (i + 1) % 2 + 1;
                if (i < SKIP_FIRST_PLIES || !quiet(g_board)) continue;
                Position pos{};
                for (int s = 0; s < SQUARE_SLOTS; s++) {
                    if (!onBoard(s) || g_board.cell[s] != EMPTY) continue;
                    addSquare(g_board.squares[s], side - 1, 1.0, pos.feature);
                    addSquare(g_board.squares[s], 2 - side, -1.0, pos.feature);
                }
                pos.feature[PARAMS - 1] = 1.0;
                pos.fixed = evaluate(g_board, side) - linearPart(pos.feature, inForce);
                pos.result = g.winner == EMPTY ? 0.5 : (g.winner == side ? 1.0 : 0.0);
                pos.held = gameCount % 5 == 4;
                positions.push_back(pos);
            }
            gameCount++;
        }
    }
    std::printf("%d games, %zu quiet positions\n", gameCount, positions.size());
    if (positions.empty()) return 1;

    // The scale that fits the weights in force best.
    double scale = MIN_SCALE, best = 1e9;
    for (double s = MIN_SCALE; s <= MAX_SCALE; s *= SCALE_STEP) {
        double e = meanError(positions, inForce, s, false);
        if (e < best) best = e, scale = s;
    }
    std::printf("scale %.0f; error before: fitted %.6f, kept aside %.6f\n", scale, best,
                meanError(positions, inForce, scale, true));

    double theta[PARAMS];
    std::copy(inForce, inForce + PARAMS, theta);
    // Adam: each weight moves by about RATE a step, whatever the size of its sums.
    constexpr double RATE = 0.5, DECAY1 = 0.9, DECAY2 = 0.999, EPSILON = 1e-12;
    double moment1[PARAMS] = {}, moment2[PARAMS] = {};
    for (int step = 0; step < STEPS; step++) {
        double gradient[PARAMS] = {};
        int n = 0;
        for (const Position& pos : positions) {
            if (pos.held) continue;
            double p = sigmoid(pos.fixed + linearPart(pos.feature, theta), scale);
            double g = 2 * (p - pos.result) * p * (1 - p) / scale;
            for (int i = 0; i < PARAMS; i++) gradient[i] += g * pos.feature[i];
            n++;
        }
        for (int i = 0; i < PARAMS; i++) {
            gradient[i] = gradient[i] / n + 2 * PULL * (theta[i] - inForce[i]) /
                                              (1 + inForce[i] * inForce[i] / (PULL_FLOOR * PULL_FLOOR));
            moment1[i] = DECAY1 * moment1[i] + (1 - DECAY1) * gradient[i];
            moment2[i] = DECAY2 * moment2[i] + (1 - DECAY2) * gradient[i] * gradient[i];
            double m = moment1[i] / (1 - std::pow(DECAY1, step + 1)), v = moment2[i] / (1 - std::pow(DECAY2, step + 1));
            theta[i] -= RATE * m / (std::sqrt(v) + EPSILON);
        }
        if ((step + 1) % REPORT_EVERY == 0) {
            std::printf("step %d: fitted %.6f, kept aside %.6f\n", step + 1, meanError(positions, theta, scale, false),
                        meanError(positions, theta, scale, true));
        }
    }
    std::printf("error after: fitted %.6f, kept aside %.6f\n", meanError(positions, theta, scale, false),
                meanError(positions, theta, scale, true));
    std::printf("code  weight (in force -> fitted)  top discount (in force -> fitted)\n");
    for (int c = 1; c < TUNED_CODES; c++) {
        std::printf("%4d  %6.0f -> %6.1f            %6.0f -> %6.1f\n", c, inForce[c - 1], theta[c - 1],
                    inForce[TUNED_CODES - 1 + c - 1], theta[TUNED_CODES - 1 + c - 1]);
    }
    std::printf("side to move: %+.1f\n", theta[PARAMS - 1]);
    return 0;
}
