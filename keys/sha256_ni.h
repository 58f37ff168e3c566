// SHA-256 compression with the processor's SHA instructions (x86 SHA extension).
#pragma once

// Plain C headers only: sha256_ni.cpp includes this file (see there).
#include <stdint.h>

namespace keys {

// The 64 round constants of FIPS 180-4 section 4.2.2, for both compression paths.
extern const uint32_t kSha256RoundConstants[64];

// True when this build has the routine and the processor reports the SHA extension together
// with SSSE3 and SSE4.1, which the routine also uses. Always false off x86.
bool Sha256NiSupported();

// One FIPS 180-4 compression: `state` (H0..H7) absorbs the 64-byte block given as its sixteen
// big-endian words already decoded (W0..W15). Only call when Sha256NiSupported().
void Sha256NiCompress(uint32_t state[8], const uint32_t words[16]);

}  // namespace keys
