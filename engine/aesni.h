// AES with the processor's AES instructions, one block per call, from the same key schedule as
// the software routines. Constant-time. Only call when the processor reports AES.
#pragma once

#include "engine/block.h"

namespace engine {

// Whether this build has the hardware routines at all (x86 only).
bool AesNiCompiledIn();

Block AesNiEncryptBlock(Block block);
Block AesNiDecryptBlock(Block block);

// Wide (256-bit) instructions run elsewhere in the process (a GUI library's drawing code, say)
// can leave the upper halves of the vector registers marked in use, and a new thread inherits
// that mark. Every 128-bit instruction then pays a merge penalty: in the windowed tools it made
// the AES instructions four times slower. Called at the start of every job, on the thread that
// runs it; a no-op where the processor or the system has no wide registers.
void ClearUpperVectorState();

}  // namespace engine
