// The 16-byte AES block as one vector value: passed and returned in a register, XORed whole.
#pragma once

// Plain C headers only: the AES-instruction unit includes this file (see aesni.cpp).
#include <stdint.h>

namespace engine {

// GCC/Clang vector type: ^ works on all 16 bytes at once, b[i] reaches byte i.
typedef uint8_t Block __attribute__((vector_size(16)));
typedef uint64_t BlockWords __attribute__((vector_size(16)));

inline Block LoadBlock(const void* bytes) {
  Block b;
  __builtin_memcpy(&b, bytes, 16);
  return b;
}

inline void StoreBlock(void* bytes, Block b) {
  __builtin_memcpy(bytes, &b, 16);
}

inline Block ZeroBlock() {
  return Block{};
}

inline bool BlocksEqual(Block a, Block b) {
  BlockWords d = (BlockWords)(a ^ b);
  return (d[0] | d[1]) == 0;
}

// One block routine of an AES backend: enciphers or deciphers one block under the current
// key schedule.
typedef Block (*BlockFunction)(Block);

}  // namespace engine
