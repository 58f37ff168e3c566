// Keeps the keys, round keys and passphrases a program holds out of core files.
#pragma once

namespace keys {

// Marks the process not dumpable (which also keeps other unprivileged processes from reading its
// memory) and sets its core size limit to zero. Each program calls it first thing.
void ForbidCoreDumps();

}  // namespace keys
