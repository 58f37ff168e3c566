// GHASH (SP 800-38D) by the processor's carry-less multiply (PCLMULQDQ), up to eight blocks per
// reduction. Constant-time. Only call when the processor reports PCLMULQDQ.
#pragma once

#include "engine/block.h"

namespace engine {

// The most blocks one call takes: H to H^8 are precomputed.
constexpr unsigned kClmulGhashBlocks = 8;

// Whether this build has the carry-less-multiply routines at all (x86 only).
bool ClmulCompiledIn();

// powers[i] = H^(i + 1), kept in the routines' own (byte-reversed) form: only
// ClmulGhashBlocks reads them, and they are key material to wipe like H.
void ClmulGhashPowers(Block h, Block (&powers)[kClmulGhashBlocks]);

// Y after `count` (1 to 8) blocks, with one reduction for all of them:
// (Y ^ X1)·H^count ^ X2·H^(count-1) ^ ... ^ Xcount·H, which equals `count` GHASH steps.
// Y and the blocks are in the byte order SP 800-38D gives them.
Block ClmulGhashBlocks(Block y, const Block* blocks, unsigned count,
                       const Block (&powers)[kClmulGhashBlocks]);

}  // namespace engine
