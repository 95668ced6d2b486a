#include "protocol/settings.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

#include "board/tables.h"
#include "protocol/commands.h"

WideSetting maxMemory{0};
WideSetting hashSize{0};
Setting threadNum{1};
Setting timeoutMatch{100000000};
Setting gameType{1};
Setting rule{0};
Setting showDetail{0};
Setting maxDepth{0};
Setting maxNode{0};
char dataFolder[1024] = "";

int64_t parseInt64(const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (std::isspace(*p)) p++;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') p++;
    constexpr uint64_t CAP = uint64_t{INT64_MAX} + 1;  // the magnitude of INT64_MIN
    uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        unsigned digit = *p - '0';
        value = value > (CAP - digit) / 10 ? CAP : value * 10 + digit;
    }
    if (negative) return value >= CAP ? INT64_MIN : -static_cast<int64_t>(value);
    return value >= CAP ? INT64_MAX : static_cast<int64_t>(value);
}

int32_t parseInt(const char* text) {
    return static_cast<int32_t>(std::clamp<int64_t>(parseInt64(text), INT32_MIN, INT32_MAX));
}

bool handleInfo(const char* text) {
    struct Key {
        const char* word;
        Setting* target;
    };
    bool tables = false;
    static const Key KEYS[] = {{"timeout_match", &timeoutMatch}, {"timeout_turn", &timeoutTurn},
                               {"time_left", &timeLeft},         {"game_type", &gameType},
                               {"rule", &rule},                  {"thread_num", &threadNum},
                               {"show_detail", &showDetail},     {"max_depth", &maxDepth},
                               {"max_node", &maxNode}};
    for (const Key& key : KEYS) {
        const char* value = matchCommand(key.word, text);
        if (value == nullptr) continue;
        int32_t v = parseInt(value);
        if (key.target == &rule) v = ((v & 4) != 0 || v == 2) ? RULE_RENJU : (v & 1);
        key.target->store(v);
        tables = tables || key.target == &rule || key.target == &threadNum;
    }
    struct WideKey {
        const char* word;
        WideSetting* target;
    };
    static const WideKey WIDE_KEYS[] = {{"max_memory", &maxMemory}, {"hash_size", &hashSize}};
    for (const WideKey& key : WIDE_KEYS) {
        if (const char* value = matchCommand(key.word, text)) {
            key.target->store(parseInt64(value));
            tables = true;
        }
    }
    if (const char* value = matchCommand("folder", text)) {
        std::strncpy(dataFolder, value, sizeof dataFolder - 1);
        dataFolder[sizeof dataFolder - 1] = '\0';
    }
    return tables;
}
