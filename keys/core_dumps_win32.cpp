// Keeps the keys, round keys and passphrases a program holds out of crash reports on Windows.
#include <windows.h>

#include "keys/core_dumps.h"

namespace keys {

void ForbidCoreDumps() {
  // No fault box: the error reporting that would collect the process's memory is not offered.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

}  // namespace keys
