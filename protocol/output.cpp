#include "protocol/output.h"

#include <cstdarg>
#include <cstdio>

std::mutex outputLock;
void (*outputHook)(const char* line) = nullptr;

namespace {
// Room for the longest line: FORBID with every square of the largest board.
constexpr int OUTPUT_LINE_SIZE = 4096;
}  // namespace

void writeLine(const char* format, ...) {
    char text[OUTPUT_LINE_SIZE];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::lock_guard<std::mutex> hold(outputLock);
    if (outputHook != nullptr) {
        outputHook(text);
        return;
    }
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
