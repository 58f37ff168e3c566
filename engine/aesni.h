// AES with the processor's AES instructions, one block per call, from the same key schedule as
// the software routines. Constant-time. Only call when the processor reports AES.
#pragma once

#include "engine/block.h"

namespace engine {

// Whether this build has the hardware routines at all (x86 only).
bool AesNiCompiledIn();

Block AesNiEncryptBlock(Block block);
Block AesNiDecryptBlock(Block block);

}  // namespace engine
