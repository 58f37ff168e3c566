// What the console asks of the system beyond its files: standard output and error, the terminal
// for progress and for a passphrase typed without echo, the text of a system error, and where the
// command line comes from. One unit per platform (terminal_posix.cpp, terminal_win32.cpp);
// nothing else in console/ calls these services.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace console {

struct CommandLine;

// The command line as the system gives it. On Windows that is the process's own line
// (GetCommandLineA, program name included), read as it is: argc and argv go unused. Elsewhere the
// arguments arrive split and the line is rebuilt from argv (RebuildCommandLine), which must
// outlive it.
void TakeCommandLine(int argc, const char* const* argv, CommandLine& line);

// Standard input is a terminal: the only place the console may ask for anything.
bool StandardInputIsTerminal();
// Standard output is a terminal: the only place progress is shown.
bool StandardOutputIsTerminal();

// Turns echo off on the terminal on standard input for its lifetime. Echo comes back when it
// ends and on SIGINT, SIGTERM, SIGHUP and SIGQUIT too, which then end the process as they would
// have (nothing is written before the passphrase is complete); Ctrl+Z stops it with echo on, and
// echo goes off again when it continues.
class NoEchoGuard {
 public:
  NoEchoGuard();
  ~NoEchoGuard();
  NoEchoGuard(const NoEchoGuard&) = delete;
  NoEchoGuard& operator=(const NoEchoGuard&) = delete;
};

// Writes `prompt` to the terminal on standard input, then reads one line from it: the bytes up to
// Enter (or the end of input) go to `secret` while they fit in `capacity`; `length` counts them
// all, so a longer line shows as longer. The line break is echoed, the rest is not (under a
// NoEchoGuard). False when the terminal cannot be read or its echo could not be turned off.
bool ReadSecretLine(const char* prompt, uint8_t* secret, size_t capacity, size_t& length);

// Write `count` bytes to standard output or error as they are, whatever it is connected to.
void WriteOutput(const char* text, size_t count);
void WriteError(const char* text, size_t count);

// The system's text for an error code ("No such file or directory").
const char* SystemErrorText(int code);

}  // namespace console
