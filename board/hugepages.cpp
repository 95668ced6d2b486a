#include "board/hugepages.h"

#ifdef __linux__
#include <sys/mman.h>
#endif

void adviseHugePages([[maybe_unused]] void* start, [[maybe_unused]] size_t bytes) {
#ifdef __linux__
    madvise(start, bytes, MADV_HUGEPAGE);
#endif
}
