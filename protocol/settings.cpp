#include "protocol/settings.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

#include "board/tables.h"
#include "protocol/commands.h"

Setting maxMemory{0};
Setting timeoutMatch{100000000};
Setting gameType{1};
Setting rule{0};
Setting showDetail{0};
Setting maxDepth{0};
Setting maxNode{0};
char dataFolder[1024] = "";

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
                               {"game_type", &gameType}, {"rule", &rule},
                               {"show_detail", &showDetail}, {"max_depth", &maxDepth},
                               {"max_node", &maxNode}};
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
