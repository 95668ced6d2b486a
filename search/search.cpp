#include "search/search.h"

#include <cstring>

#include "search/report.h"

const SearchReporter* g_searchReporter = nullptr;

void resetSearchState(SearchWorker& w) {
    std::memset(w.searchedMark, 0, sizeof w.searchedMark);
    std::memset(w.plyVisit, 0, sizeof w.plyVisit);
    std::memset(w.killerTable, 0, sizeof w.killerTable);
    w.rootDepth = 0;
    w.abort = 0;
}
