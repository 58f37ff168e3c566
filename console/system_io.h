// The console's platform layer: where its command line comes from and where its lines go.
// system_io_posix.cpp or system_io_win32.cpp, chosen at build time.
#pragma once

#include <stddef.h>

#include "console/command_line.h"

namespace console {

// The command line as the system gives it. On Windows that is the process's own line
// (GetCommandLineA, program name included), read as it is: argc and argv go unused. Elsewhere the
// arguments arrive split and the line is rebuilt from argv (RebuildCommandLine), which must
// outlive it.
void TakeCommandLine(int argc, const char* const* argv, CommandLine& line);

// Writes all the bytes to standard output, whatever it is connected to. A failure is dropped:
// nothing else could report it.
void WriteStandardOutput(const char* bytes, size_t count);

// Whether standard output is a terminal (on Windows, a console): only there does progress show.
bool StandardOutputIsTerminal();

}  // namespace console
