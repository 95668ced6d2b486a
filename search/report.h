// What the main search thread tells a listener about its root: a GUI that asks for it shows
// the search's progress. The listener lives above the search; the search only calls it.
#pragma once
#include <cstdint>

#include "search/search.h"

// Plain function pointers, called by the main thread (worker index 0) alone.
struct SearchReporter {
    void (*iterationStart)(const SearchWorker& w);
    void (*moveStart)(const SearchWorker& w, int move);
    void (*moveDone)(const SearchWorker& w, int move, int32_t value);  // value: bound or exact
    void (*bestChange)(const SearchWorker& w, int move);
    void (*iterationDone)(const SearchWorker& w, int32_t value);
};

// Null when nobody listens: the search then pays one test per root move.
extern const SearchReporter* g_searchReporter;

inline const SearchReporter* reporterFor(const SearchWorker& w) {
    return w.index == 0 ? g_searchReporter : nullptr;
}
