// Keeps the keys, round keys and passphrases a program holds out of core files.
#include "keys/core_dumps.h"

#include <sys/prctl.h>
#include <sys/resource.h>

namespace keys {

void ForbidCoreDumps() {
  // Both: a core pattern that pipes to a program ignores the size limit, and the limit holds
  // even where the flag is reset (as a change of user or group does).
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  const rlimit none{0, 0};
  setrlimit(RLIMIT_CORE, &none);
}

}  // namespace keys
