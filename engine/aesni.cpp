// AES with the processor's AES instructions: one block per call, fully unrolled, round keys
// read straight from the shared schedule. Constant-time.
//
// Only plain C and intrinsic headers here, and the instructions are enabled per function with a
// target attribute rather than for the whole unit: an inline function compiled with AES
// instructions could otherwise be picked by the linker and run on a processor without them.
#include "engine/aesni.h"

#include "engine/aes.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#include <wmmintrin.h>

namespace engine {

namespace {

#define AESNI_TARGET __attribute__((target("aes,sse2")))

AESNI_TARGET inline __m128i RoundKey(int index) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(gKeySchedule.roundKeys) + index);
}

}  // namespace

bool AesNiCompiledIn() {
  return true;
}

AESNI_TARGET Block AesNiEncryptBlock(Block block) {
  const int rounds = static_cast<int>(gKeySchedule.lastRoundOffset / 16);  // 10, 12 or 14
  __m128i x = _mm_xor_si128(reinterpret_cast<__m128i>(block), RoundKey(0));
  x = _mm_aesenc_si128(x, RoundKey(1));
  x = _mm_aesenc_si128(x, RoundKey(2));
  x = _mm_aesenc_si128(x, RoundKey(3));
  x = _mm_aesenc_si128(x, RoundKey(4));
  x = _mm_aesenc_si128(x, RoundKey(5));
  x = _mm_aesenc_si128(x, RoundKey(6));
  x = _mm_aesenc_si128(x, RoundKey(7));
  x = _mm_aesenc_si128(x, RoundKey(8));
  x = _mm_aesenc_si128(x, RoundKey(9));
  if (rounds >= 12) {
    x = _mm_aesenc_si128(x, RoundKey(10));
    x = _mm_aesenc_si128(x, RoundKey(11));
    if (rounds == 14) {
      x = _mm_aesenc_si128(x, RoundKey(12));
      x = _mm_aesenc_si128(x, RoundKey(13));
    }
  }
  x = _mm_aesenclast_si128(x, RoundKey(rounds));
  return reinterpret_cast<Block>(x);
}

AESNI_TARGET Block AesNiDecryptBlock(Block block) {
  const int rounds = static_cast<int>(gKeySchedule.lastRoundOffset / 16);  // 10, 12 or 14
  __m128i x = _mm_xor_si128(reinterpret_cast<__m128i>(block), RoundKey(rounds));
  if (rounds >= 12) {
    if (rounds == 14) {
      x = _mm_aesdec_si128(x, RoundKey(13));
      x = _mm_aesdec_si128(x, RoundKey(12));
    }
    x = _mm_aesdec_si128(x, RoundKey(11));
    x = _mm_aesdec_si128(x, RoundKey(10));
  }
  x = _mm_aesdec_si128(x, RoundKey(9));
  x = _mm_aesdec_si128(x, RoundKey(8));
  x = _mm_aesdec_si128(x, RoundKey(7));
  x = _mm_aesdec_si128(x, RoundKey(6));
  x = _mm_aesdec_si128(x, RoundKey(5));
  x = _mm_aesdec_si128(x, RoundKey(4));
  x = _mm_aesdec_si128(x, RoundKey(3));
  x = _mm_aesdec_si128(x, RoundKey(2));
  x = _mm_aesdec_si128(x, RoundKey(1));
  x = _mm_aesdeclast_si128(x, RoundKey(0));
  return reinterpret_cast<Block>(x);
}

namespace {

__attribute__((target("xsave"))) unsigned long long EnabledStateBits() {
  return static_cast<unsigned long long>(_xgetbv(0));
}

// AVX reported by the processor and its register state saved by the system (XCR0 bits 1 and 2).
bool WideRegistersInUse() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  const unsigned osXsaveAndAvx = (1u << 27) | (1u << 28);
  return (ecx & osXsaveAndAvx) == osXsaveAndAvx && (EnabledStateBits() & 6) == 6;
}

__attribute__((target("avx"))) void ZeroUpperHalves() {
  _mm256_zeroupper();
}

}  // namespace

void ClearUpperVectorState() {
  static const bool wide = WideRegistersInUse();
  if (wide) ZeroUpperHalves();
}

}  // namespace engine

#else  // no AES instructions on this processor family: the software pair is the only one

namespace engine {

bool AesNiCompiledIn() {
  return false;
}
Block AesNiEncryptBlock(Block block) {
  return AesEncryptBlock(block);
}
Block AesNiDecryptBlock(Block block) {
  return AesDecryptBlock(block);
}
void ClearUpperVectorState() {}

}  // namespace engine

#endif
