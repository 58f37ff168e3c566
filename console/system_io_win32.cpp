// The console's platform layer on Windows: the process's own command line, the standard output
// handle.
#include <windows.h>

#include "console/system_io.h"

namespace console {

void TakeCommandLine(int, const char* const*, CommandLine& line) {
  TakeRawCommandLine(GetCommandLineA(), line);
}

// WriteFile, not WriteConsoleA: the final line must survive a redirection to a file or a pipe.
void WriteStandardOutput(const char* bytes, size_t count) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(output, bytes, static_cast<DWORD>(count), &written, nullptr) || written == 0)
      return;
    bytes += written;
    count -= written;
  }
}

// Only a console has a console mode; a file or a pipe does not.
bool StandardOutputIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

}  // namespace console
