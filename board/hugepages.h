// The line table on huge pages where the system offers them: the refresh of every move reads
// it at random, and with small pages nearly every read also misses the processor's cache of
// address translations.
#pragma once
#include <cstddef>

constexpr size_t HUGE_PAGE_BYTES = size_t{1} << 21;
// The alignment a table meant for huge pages gets: PE objects (Windows) cannot align to 2 MiB,
// and Windows grants large pages only to privileged accounts anyway.
#ifdef __linux__
constexpr size_t HUGE_PAGE_ALIGN = HUGE_PAGE_BYTES;
#else
constexpr size_t HUGE_PAGE_ALIGN = 64;
#endif

// Asks the system to back [start, start + bytes) with huge pages; start should be
// HUGE_PAGE_ALIGN-aligned. Pages already written stay as they are. Only a hint: where it is
// not followed (other systems, huge pages turned off) the memory works all the same.
void adviseHugePages(void* start, size_t bytes);
