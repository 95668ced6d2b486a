// The one channel to the manager: every line from either thread goes through writeLine.
#pragma once
#include <mutex>

extern std::mutex outputLock;

// When set, receives each finished line (without its line feed) instead of standard output.
extern void (*outputHook)(const char* line);

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void writeLine(const char* format, ...);
