// The command loop: reads the manager's lines and carries out each command.
#pragma once

constexpr int LINE_BUFFER_SIZE = 8192;
extern char lineBuffer[LINE_BUFFER_SIZE];

// Source of input characters (getchar unless a test or fuzzer supplies its own); EOF ends.
extern int (*readInputChar)();

// Pointer just past word and the white space after it when line begins with word
// (ASCII letters compared case-insensitively), otherwise null.
const char* matchCommand(const char* word, const char* line);

// sscanf-like reading of "%d" fields, literal characters and blanks (any white space), but
// numbers beyond the 32-bit range saturate instead of being undefined. Returns the number
// of values read.
int scanNumbers(const char* text, const char* format, int* values);

// Reads one line into lineBuffer without its line end; false at end of input.
bool readLine();

// Handles the line in lineBuffer: 0 to go on reading, 1 to end.
int dispatchCommand();

// Sets a 20 x 20 board when no size has been set yet.
void ensureBoard();

// Reads and dispatches until END or end of input, then stops the think thread's turn.
void runCommandLoop();
