// GHASH by carry-less multiply. GCM's field elements are bit-reflected (the first bit of byte 0
// is the coefficient of x^0), so each block is byte-reversed into a 128-bit integer whose top bit
// is x^0; products of such integers come out one bit short of the same form and are shifted left
// by one before the reduction modulo x^128 + x^7 + x^2 + x + 1. Aggregating eight blocks sums
// eight unreduced products and reduces once.
//
// Only plain C and intrinsic headers here, with the instructions enabled per function (as in
// aesni.cpp): an inline function compiled for PCLMULQDQ must not be picked by the linker for
// code that runs on a processor without it.
#include "engine/ghash_clmul.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#include <wmmintrin.h>

namespace engine {

namespace {

#define CLMUL_TARGET __attribute__((target("pclmul,ssse3,sse2")))

CLMUL_TARGET inline __m128i ByteReversed(Block block) {
  const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  return _mm_shuffle_epi8(reinterpret_cast<__m128i>(block), reverse);
}

CLMUL_TARGET inline Block FromReversed(__m128i x) {
  return reinterpret_cast<Block>(ByteReversed(reinterpret_cast<Block>(x)));
}

// The 256-bit product a·b, unreduced, added into lo (bits 0..127), mid (the 64..191 cross
// terms, not yet split) and hi (bits 128..255).
struct Product {
  __m128i lo, mid, hi;
};

CLMUL_TARGET inline void AddProduct(Product& sum, __m128i a, __m128i b) {
  sum.lo = _mm_xor_si128(sum.lo, _mm_clmulepi64_si128(a, b, 0x00));
  sum.mid = _mm_xor_si128(sum.mid, _mm_clmulepi64_si128(a, b, 0x01));
  sum.mid = _mm_xor_si128(sum.mid, _mm_clmulepi64_si128(a, b, 0x10));
  sum.hi = _mm_xor_si128(sum.hi, _mm_clmulepi64_si128(a, b, 0x11));
}

// The byte-reversed field element of a summed product.
CLMUL_TARGET inline __m128i Reduce(const Product& sum) {
  __m128i lo = _mm_xor_si128(sum.lo, _mm_slli_si128(sum.mid, 8));
  __m128i hi = _mm_xor_si128(sum.hi, _mm_srli_si128(sum.mid, 8));
  // Shift the 256 bits left by one: the reflected product's x^0 lands on the top bit again.
  const __m128i loCarry = _mm_srli_epi64(lo, 63), hiCarry = _mm_srli_epi64(hi, 63);
  hi = _mm_or_si128(_mm_slli_epi64(hi, 1), _mm_slli_si128(hiCarry, 8));
  hi = _mm_or_si128(hi, _mm_srli_si128(loCarry, 8));
  lo = _mm_or_si128(_mm_slli_epi64(lo, 1), _mm_slli_si128(loCarry, 8));
  // lo holds x^128..x^255, reflected: fold it down by x^128 = x^7 + x^2 + x + 1, where each
  // multiplication by x is a right shift. First the bits those shifts push out below bit 0
  // (x^128..x^134 again), folded back into lo, then lo times (1 + x + x^2 + x^7) onto hi.
  const __m128i spill = _mm_xor_si128(_mm_xor_si128(_mm_slli_epi64(lo, 63), _mm_slli_epi64(lo, 62)),
                                      _mm_slli_epi64(lo, 57));
  lo = _mm_xor_si128(lo, _mm_slli_si128(spill, 8));
  const __m128i loHigh = _mm_srli_si128(lo, 8);
  const __m128i by1 = _mm_or_si128(_mm_srli_epi64(lo, 1), _mm_slli_epi64(loHigh, 63));
  const __m128i by2 = _mm_or_si128(_mm_srli_epi64(lo, 2), _mm_slli_epi64(loHigh, 62));
  const __m128i by7 = _mm_or_si128(_mm_srli_epi64(lo, 7), _mm_slli_epi64(loHigh, 57));
  return _mm_xor_si128(_mm_xor_si128(hi, lo), _mm_xor_si128(by1, _mm_xor_si128(by2, by7)));
}

CLMUL_TARGET inline __m128i Multiply(__m128i a, __m128i b) {
  Product sum{_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
  AddProduct(sum, a, b);
  return Reduce(sum);
}

CLMUL_TARGET inline __m128i Power(const Block (&powers)[kClmulGhashBlocks], unsigned exponent) {
  return reinterpret_cast<__m128i>(powers[exponent - 1]);
}

}  // namespace

bool ClmulCompiledIn() {
  return true;
}

CLMUL_TARGET void ClmulGhashPowers(Block h, Block (&powers)[kClmulGhashBlocks]) {
  const __m128i h1 = ByteReversed(h);
  __m128i p = h1;
  powers[0] = reinterpret_cast<Block>(p);
  for (unsigned i = 1; i < kClmulGhashBlocks; ++i) {
    p = Multiply(p, h1);
    powers[i] = reinterpret_cast<Block>(p);
  }
}

CLMUL_TARGET Block ClmulGhashBlocks(Block y, const Block* blocks, unsigned count,
                                    const Block (&powers)[kClmulGhashBlocks]) {
  Product sum{_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
  AddProduct(sum, ByteReversed(y ^ blocks[0]), Power(powers, count));
  for (unsigned i = 1; i < count; ++i)
    AddProduct(sum, ByteReversed(blocks[i]), Power(powers, count - i));
  return FromReversed(Reduce(sum));
}

}  // namespace engine

#else  // no carry-less multiply on this processor family: GHASH runs by the tables

namespace engine {

bool ClmulCompiledIn() {
  return false;
}
void ClmulGhashPowers(Block, Block (&powers)[kClmulGhashBlocks]) {
  for (Block& power : powers)
    power = Block{};
}
Block ClmulGhashBlocks(Block y, const Block*, unsigned, const Block (&)[kClmulGhashBlocks]) {
  return y;
}

}  // namespace engine

#endif
