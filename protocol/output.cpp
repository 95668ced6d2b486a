#include "protocol/output.h"

#include <cstdarg>
#include <cstdio>

std::mutex outputLock;
void (*outputHook)(const char* line) = nullptr;

void writeLine(const char* format, ...) {
    char text[1024];
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
