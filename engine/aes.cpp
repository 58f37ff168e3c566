// Software AES (FIPS-197): tables computed at start-up, key expansion, one block per call.
//
// NOT constant-time: the rounds index tables with key- and data-dependent bytes. The hardware
// pair in aesni.cpp is used whenever the processor has it.
#include "engine/aes.h"

#include "engine/wipe.h"

namespace engine {

AesKeySchedule gKeySchedule;
AesTables gAesTables;

namespace {

inline uint32_t Rotl8(uint32_t x) {
  return (x << 8) | (x >> 24);
}
inline uint8_t Rotl1(uint8_t x) {
  return static_cast<uint8_t>((x << 1) | (x >> 7));
}

inline uint32_t Word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return uint32_t{b0} | uint32_t{b1} << 8 | uint32_t{b2} << 16 | uint32_t{b3} << 24;
}

// Round-key words are read as little-endian column words: byte 0 of a word is row 0.
inline uint32_t LoadWord(const uint8_t* p) {
  uint32_t w;
  __builtin_memcpy(&w, p, 4);
  return w;
}

inline void StoreWord(uint8_t* p, uint32_t w) {
  __builtin_memcpy(p, &w, 4);
}

inline uint8_t Byte(uint32_t w, int row) {
  return static_cast<uint8_t>(w >> (8 * row));
}

inline uint8_t Times2(uint8_t x) {
  return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0x00));
}

uint32_t SubWord(uint32_t w) {
  const uint8_t* s = gAesTables.Sbox;
  return Word(s[Byte(w, 0)], s[Byte(w, 1)], s[Byte(w, 2)], s[Byte(w, 3)]);
}

// RotWord moves the word's first byte to its end: with byte 0 in the low bits, a right rotate.
inline uint32_t RotWord(uint32_t w) {
  return (w >> 8) | (w << 24);
}

uint32_t InvMixColumn(uint32_t w) {
  uint8_t a[4] = {Byte(w, 0), Byte(w, 1), Byte(w, 2), Byte(w, 3)};
  uint8_t r[4];
  for (int i = 0; i < 4; ++i) {
    r[i] = static_cast<uint8_t>(GfMul8(14, a[i]) ^ GfMul8(11, a[(i + 1) % 4]) ^
                                GfMul8(13, a[(i + 2) % 4]) ^ GfMul8(9, a[(i + 3) % 4]));
  }
  return Word(r[0], r[1], r[2], r[3]);
}

}  // namespace

uint8_t GfMul8(uint8_t a, uint8_t b) {
  uint8_t product = 0;
  while (b != 0) {
    if (b & 1) product ^= a;
    b = static_cast<uint8_t>(b >> 1);
    a = Times2(a);
  }
  return product;
}

void BuildAesTables() {
  AesTables& t = gAesTables;
  for (int x = 0; x < 256; ++x) {
    // The multiplicative inverse by search; 0 has none and stands for itself.
    uint8_t inverse = 0;
    for (int c = 255; c >= 1; --c) {
      if (GfMul8(static_cast<uint8_t>(x), static_cast<uint8_t>(c)) == 1) {
        inverse = static_cast<uint8_t>(c);
        break;
      }
    }
    uint8_t r1 = Rotl1(inverse), r2 = Rotl1(r1), r3 = Rotl1(r2), r4 = Rotl1(r3);
    uint8_t s = static_cast<uint8_t>(inverse ^ r1 ^ r2 ^ r3 ^ r4 ^ 0x63);
    t.Sbox[x] = s;
    t.InvSbox[s] = static_cast<uint8_t>(x);
  }
  for (int x = 0; x < 256; ++x) {
    uint8_t s = t.Sbox[x];
    uint8_t s2 = Times2(s);
    uint8_t s3 = static_cast<uint8_t>(s2 ^ s);
    t.Te0[x] = Word(s2, s, s, s3);
    t.Te1[x] = Rotl8(t.Te0[x]);
    t.Te2[x] = Rotl8(t.Te1[x]);
    t.Te3[x] = Rotl8(t.Te2[x]);
    uint8_t c = t.InvSbox[x];
    t.Td0[x] = Word(GfMul8(14, c), GfMul8(9, c), GfMul8(13, c), GfMul8(11, c));
    t.Td1[x] = Rotl8(t.Td0[x]);
    t.Td2[x] = Rotl8(t.Td1[x]);
    t.Td3[x] = Rotl8(t.Td2[x]);
  }
}

void ExpandAesKey(KeySize size, bool inverse) {
  uint8_t* rk = gKeySchedule.roundKeys;
  const uint32_t nk = KeyBytes(size) / 4;
  const uint32_t rounds = RoundCount(size);
  const uint32_t words = 4 * (rounds + 1);
  uint8_t rcon = 0x01;
  for (uint32_t i = nk; i < words; ++i) {
    uint32_t temp = LoadWord(rk + 4 * (i - 1));
    if (i % nk == 0) {
      temp = SubWord(RotWord(temp)) ^ rcon;
      rcon = Times2(rcon);
    } else if (nk == 8 && i % nk == 4) {
      temp = SubWord(temp);
    }
    StoreWord(rk + 4 * i, LoadWord(rk + 4 * (i - nk)) ^ temp);
  }
  if (inverse) {
    // Equivalent inverse cipher: InvMixColumns on round keys 1 to Nr-1.
    for (uint32_t i = 4; i < 4 * rounds; ++i)
      StoreWord(rk + 4 * i, InvMixColumn(LoadWord(rk + 4 * i)));
  }
  gKeySchedule.keySize = static_cast<uint32_t>(size);
  gKeySchedule.lastRoundOffset = 16 * rounds;
}

void LoadAesKey(const uint8_t* key, KeySize size, bool inverse) {
  __builtin_memcpy(gKeySchedule.roundKeys, key, KeyBytes(size));
  ExpandAesKey(size, inverse);
}

Block AesEncryptBlock(Block block) {
  const AesTables& t = gAesTables;
  const uint8_t* rk = gKeySchedule.roundKeys;
  const uint8_t* last = rk + gKeySchedule.lastRoundOffset;  // the round bound
  uint8_t in[16];
  StoreBlock(in, block);
  uint32_t c0 = LoadWord(in) ^ LoadWord(rk);
  uint32_t c1 = LoadWord(in + 4) ^ LoadWord(rk + 4);
  uint32_t c2 = LoadWord(in + 8) ^ LoadWord(rk + 8);
  uint32_t c3 = LoadWord(in + 12) ^ LoadWord(rk + 12);
  for (rk += 16; rk < last; rk += 16) {
    uint32_t n0 = LoadWord(rk) ^ t.Te0[Byte(c0, 0)] ^ t.Te1[Byte(c1, 1)] ^ t.Te2[Byte(c2, 2)] ^
                  t.Te3[Byte(c3, 3)];
    uint32_t n1 = LoadWord(rk + 4) ^ t.Te0[Byte(c1, 0)] ^ t.Te1[Byte(c2, 1)] ^ t.Te2[Byte(c3, 2)] ^
                  t.Te3[Byte(c0, 3)];
    uint32_t n2 = LoadWord(rk + 8) ^ t.Te0[Byte(c2, 0)] ^ t.Te1[Byte(c3, 1)] ^ t.Te2[Byte(c0, 2)] ^
                  t.Te3[Byte(c1, 3)];
    uint32_t n3 = LoadWord(rk + 12) ^ t.Te0[Byte(c3, 0)] ^ t.Te1[Byte(c0, 1)] ^ t.Te2[Byte(c1, 2)] ^
                  t.Te3[Byte(c2, 3)];
    c0 = n0, c1 = n1, c2 = n2, c3 = n3;
  }
  const uint8_t* s = t.Sbox;
  uint8_t out[16];
  StoreWord(out,
            Word(s[Byte(c0, 0)], s[Byte(c1, 1)], s[Byte(c2, 2)], s[Byte(c3, 3)]) ^ LoadWord(rk));
  StoreWord(out + 4, Word(s[Byte(c1, 0)], s[Byte(c2, 1)], s[Byte(c3, 2)], s[Byte(c0, 3)]) ^
                         LoadWord(rk + 4));
  StoreWord(out + 8, Word(s[Byte(c2, 0)], s[Byte(c3, 1)], s[Byte(c0, 2)], s[Byte(c1, 3)]) ^
                         LoadWord(rk + 8));
  StoreWord(out + 12, Word(s[Byte(c3, 0)], s[Byte(c0, 1)], s[Byte(c1, 2)], s[Byte(c2, 3)]) ^
                          LoadWord(rk + 12));
  return LoadBlock(out);
}

Block AesDecryptBlock(Block block) {
  const AesTables& t = gAesTables;
  const uint8_t* first = gKeySchedule.roundKeys;
  const uint8_t* rk = first + gKeySchedule.lastRoundOffset;
  uint8_t in[16];
  StoreBlock(in, block);
  uint32_t c0 = LoadWord(in) ^ LoadWord(rk);
  uint32_t c1 = LoadWord(in + 4) ^ LoadWord(rk + 4);
  uint32_t c2 = LoadWord(in + 8) ^ LoadWord(rk + 8);
  uint32_t c3 = LoadWord(in + 12) ^ LoadWord(rk + 12);
  while (rk > first + 16) {
    rk -= 16;
    uint32_t n0 = LoadWord(rk) ^ t.Td0[Byte(c0, 0)] ^ t.Td1[Byte(c3, 1)] ^ t.Td2[Byte(c2, 2)] ^
                  t.Td3[Byte(c1, 3)];
    uint32_t n1 = LoadWord(rk + 4) ^ t.Td0[Byte(c1, 0)] ^ t.Td1[Byte(c0, 1)] ^ t.Td2[Byte(c3, 2)] ^
                  t.Td3[Byte(c2, 3)];
    uint32_t n2 = LoadWord(rk + 8) ^ t.Td0[Byte(c2, 0)] ^ t.Td1[Byte(c1, 1)] ^ t.Td2[Byte(c0, 2)] ^
                  t.Td3[Byte(c3, 3)];
    uint32_t n3 = LoadWord(rk + 12) ^ t.Td0[Byte(c3, 0)] ^ t.Td1[Byte(c2, 1)] ^ t.Td2[Byte(c1, 2)] ^
                  t.Td3[Byte(c0, 3)];
    c0 = n0, c1 = n1, c2 = n2, c3 = n3;
  }
  rk = first;
  const uint8_t* s = t.InvSbox;
  uint8_t out[16];
  StoreWord(out,
            Word(s[Byte(c0, 0)], s[Byte(c3, 1)], s[Byte(c2, 2)], s[Byte(c1, 3)]) ^ LoadWord(rk));
  StoreWord(out + 4, Word(s[Byte(c1, 0)], s[Byte(c0, 1)], s[Byte(c3, 2)], s[Byte(c2, 3)]) ^
                         LoadWord(rk + 4));
  StoreWord(out + 8, Word(s[Byte(c2, 0)], s[Byte(c1, 1)], s[Byte(c0, 2)], s[Byte(c3, 3)]) ^
                         LoadWord(rk + 8));
  StoreWord(out + 12, Word(s[Byte(c3, 0)], s[Byte(c2, 1)], s[Byte(c1, 2)], s[Byte(c0, 3)]) ^
                          LoadWord(rk + 12));
  return LoadBlock(out);
}

void WipeAesKeySchedule() {
  WipeBytes(&gKeySchedule, sizeof gKeySchedule);
}

}  // namespace engine
