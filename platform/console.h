// The program's own standard streams and stop requests, for the command-line tool and the
// simulator: whether a stream is a terminal, binary standard input, a wait for input with a
// time-out, and the stop that the user asks for with Ctrl+C or a termination signal.
// Portable declarations only: posix/console_posix.cpp and win32/console_win32.cpp implement them.
#pragma once

#include <cstddef>
#include <string>

namespace tavrin::platform {

enum class StdStream { In, Out, Err };

// Whether the stream goes to (or comes from) a terminal or console window, not a file or pipe.
bool isTerminal(StdStream stream);

// Standard input reads bytes unchanged (no line-end translation on Windows).
void setBinaryInput();

enum class InputWait { Ready, TimedOut, Ended };
// Waits up to timeoutMs for standard input to have something to read (or to have ended). A read
// of standard input after Ready does not block for long.
InputWait waitForInput(int timeoutMs);
// One read of standard input; the bytes read, 0 at its end, -1 on failure.
long readInput(void* buffer, std::size_t length);

// From now on, SIGINT and SIGTERM (Windows: Ctrl+C, Ctrl+Break, the console window closing)
// no longer end the process: they set the stop request instead.
void catchStopRequests();
// Whether a stop has been requested since catchStopRequests().
bool stopRequested();

// From now on a write to a pipe whose reader has gone (`tavrin ... | head`) fails as a write error
// instead of ending the process, so that the program still cleans up after itself (POSIX: SIGPIPE
// is ignored; Windows has no such signal).
void surviveClosedPipes();

// The folder of the running program's own file, in the system's narrow encoding (Windows: the
// ANSI code page; POSIX: as the file system names it), without a trailing separator. Empty when
// the system cannot tell.
std::string programFolder();

}  // namespace tavrin::platform
