// The console's platform layer on POSIX: argv rebuilt into one line, descriptor 1.
#include "console/system_io.h"

#include <unistd.h>

namespace console {

namespace {

constexpr int kStandardOutput = 1;

}  // namespace

void TakeCommandLine(int argc, const char* const* argv, CommandLine& line) {
  RebuildCommandLine(argc, argv, line);
}

void WriteStandardOutput(const char* bytes, size_t count) {
  while (count > 0) {
    const ssize_t written = write(kStandardOutput, bytes, count);
    if (written <= 0) return;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
}

bool StandardOutputIsTerminal() {
  return isatty(kStandardOutput) != 0;
}

}  // namespace console
