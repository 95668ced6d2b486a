#include "protocol/settings.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstring>

#include "board/tables.h"
#include "protocol/commands.h"
#include "protocol/game.h"

Setting maxMemory{0};
Setting timeoutMatch{100000000};
Setting timeoutTurn{30000};
Setting timeLeft{100000000};
Setting gameType{1};
Setting rule{0};
char dataFolder[1024] = "";

std::atomic<int32_t> stopRequested{0};

int32_t timeLimit = 10000;
int32_t searchStartTime = 0;
int32_t g_abort = 0;
int64_t g_nodeCount = 0;
int32_t largeValue = 0;
int32_t scoreDropped = 0;
int32_t extensionFlag = 0;
bool plentyOfTime = false;

namespace {
const auto processStart = std::chrono::steady_clock::now();
}

int32_t clockMs() {
    auto elapsed = std::chrono::steady_clock::now() - processStart;
    return static_cast<int32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

int32_t parseInt(const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (std::isspace(*p)) p++;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') p++;
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        value = std::min<int64_t>(value * 10 + (*p - '0'), int64_t{INT32_MAX} + 1);
    }
    if (negative) value = -value;
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

void handleInfo(const char* text) {
    struct Key {
        const char* word;
        Setting* target;
    };
    static const Key KEYS[] = {{"max_memory", &maxMemory}, {"timeout_match", &timeoutMatch},
                               {"timeout_turn", &timeoutTurn}, {"time_left", &timeLeft},
                               {"game_type", &gameType}, {"rule", &rule}};
    for (const Key& key : KEYS) {
        const char* value = matchCommand(key.word, text);
        if (value == nullptr) continue;
        int32_t v = parseInt(value);
        if (key.target == &rule) v = ((v & 4) != 0 || v == 2) ? RULE_RENJU : (v & 1);
        key.target->store(v);
    }
    if (const char* value = matchCommand("folder", text)) {
        std::strncpy(dataFolder, value, sizeof dataFolder - 1);
        dataFolder[sizeof dataFolder - 1] = '\0';
    }
}

void computeTimeLimit() {
    int64_t k = 1 + largeValue + scoreDropped + extensionFlag;
    int64_t left = timeLeft.load();
    timeLimit = static_cast<int32_t>(std::min<int64_t>(left * k / 24, timeoutTurn.load()));
    int64_t freeSquares = int64_t{boardWidth} * boardHeight - recordCount + 1;
    if (freeSquares < 1) freeSquares = 1;
    if (left / freeSquares >= timeLimit) plentyOfTime = true;
}

bool stopCheck() {
    bool goOn = (g_nodeCount >> 10) <= nodeLimit &&
                int64_t{clockMs()} - searchStartTime + 30 < timeLimit && stopRequested.load() < 1;
    if (!goOn) g_abort = 1;
    return !goOn;
}
