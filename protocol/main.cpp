// pbrain-zarvel: a five-in-a-row engine speaking the Gomocup brain protocol on stdin/stdout.
#include <cstdlib>
#include <ctime>
#include <thread>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "protocol/commands.h"
#include "protocol/think.h"

int main() {
#if defined(_WIN32)
    // Text mode would end input at a stray Ctrl-Z byte; line ends are handled by the reader.
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    std::thread thinkThread(thinkLoop);
    runCommandLoop();
    // Let a turn that was started (or is still waiting to start) finish and write its move
    // before the quit command goes out: a thread woken for a turn must not see "quit" first.
    stopAndWait();
    thinkCommand.store(-1);
    startThinking();
    thinkThread.join();
    return 0;
}
