// The line table on huge pages where the system offers them: the refresh of every move reads
// it at random, and with small pages nearly every read also misses the processor's cache of
// address translations.
#pragma once
#include <cstddef>

constexpr size_t HUGE_PAGE_BYTES = size_t{1} << 21;

// Asks the system to back [start, start + bytes) with huge pages; start should be
// HUGE_PAGE_BYTES-aligned and nothing in the range touched yet. Only a hint: where it is not
// followed (other systems, huge pages turned off) the memory works all the same.
void adviseHugePages(void* start, size_t bytes);
