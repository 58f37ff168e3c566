// SHA-256 compression with the processor's SHA instructions.
//
// Only plain C and intrinsic headers here, and the instructions are enabled per function with a
// target attribute rather than for the whole unit: an inline function compiled with SHA
// instructions could otherwise be picked by the linker and run on a processor without them.
#include "keys/sha256_ni.h"

namespace keys {

// FIPS 180-4 section 4.2.2; aligned so the round instruction takes them four at a time.
alignas(16) const uint32_t kSha256RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

}  // namespace keys

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>

namespace keys {

namespace {

#define SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// Rounds 4q..4q+3. m[] holds four message quads in rotation; the schedule runs ahead of the
// rounds: quad q+1 is completed here (for q 3..14) and quad q-1 gets its first half (q 1..12).
SHA_TARGET __attribute__((always_inline)) inline void Quad(int q, __m128i m[4], __m128i& abef,
                                                           __m128i& cdgh) {
  __m128i k = _mm_add_epi32(
      m[q & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants) + q));
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, k);
  if (q >= 3 && q <= 14) {
    __m128i next = _mm_add_epi32(m[(q + 1) & 3], _mm_alignr_epi8(m[q & 3], m[(q + 3) & 3], 4));
    m[(q + 1) & 3] = _mm_sha256msg2_epu32(next, m[q & 3]);
  }
  abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(k, 0x0e));
  if (q >= 1 && q <= 12) m[(q + 3) & 3] = _mm_sha256msg1_epu32(m[(q + 3) & 3], m[q & 3]);
}

}  // namespace

bool Sha256NiSupported() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool ssse3 = (ecx & bit_SSSE3) != 0;
  const bool sse41 = (ecx & bit_SSE4_1) != 0;
  // Leaf 7, sub-leaf 0: EBX bit 29 is the SHA extension.
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  return ssse3 && sse41 && (ebx & (1u << 29)) != 0;
}

SHA_TARGET void Sha256NiCompress(uint32_t state[8], const uint32_t words[16]) {
  // The round instruction keeps the state as (A,B,E,F) and (C,D,G,H), highest lane first.
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  __m128i cdab = _mm_shuffle_epi32(dcba, 0xb1);
  __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1b);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xf0);
  const __m128i abefStart = abef;
  const __m128i cdghStart = cdgh;

  // The words are already decoded, so lane i of each load is W[4q+i] with no byte shuffle.
  __m128i m[4];
  for (int i = 0; i < 4; ++i)
    m[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words) + i);
#pragma GCC unroll 16
  for (int q = 0; q < 16; ++q)
    Quad(q, m, abef, cdgh);

  abef = _mm_add_epi32(abef, abefStart);
  cdgh = _mm_add_epi32(cdgh, cdghStart);
  __m128i feba = _mm_shuffle_epi32(abef, 0x1b);
  __m128i dchg = _mm_shuffle_epi32(cdgh, 0xb1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xf0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

}  // namespace keys

#else  // no SHA instructions on this processor family: the software compression is the only one

namespace keys {

bool Sha256NiSupported() {
  return false;
}
void Sha256NiCompress(uint32_t*, const uint32_t*) {
  __builtin_trap();  // never selected: Sha256NiSupported() is false
}

}  // namespace keys

#endif
