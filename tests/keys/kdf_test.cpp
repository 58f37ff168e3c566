// SHA-256, HMAC-SHA-256 and PBKDF2-HMAC-SHA-256 against published vectors (NIST SHAVS, RFC 4231,
// RFC 7914) and against OpenSSL's libcrypto, on both compression paths; and the stop flag.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "keys/kdf.h"
#include "tests/support/vector_file.h"

namespace {

using testing_support::Bytes;
using testing_support::BytesToHex;
using testing_support::RandomBytes;

std::string Hex(const uint8_t (&bytes)[32]) {
  return BytesToHex(Bytes(bytes, bytes + 32));
}

// Output block `index` (from 1) of PBKDF2-HMAC-SHA-256 by OpenSSL.
std::string OpenSslPbkdf2(const Bytes& passphrase, const Bytes& salt, uint32_t iterations,
                          uint32_t index) {
  Bytes output(32 * index);
  PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(passphrase.data()),
                    static_cast<int>(passphrase.size()), salt.data(), static_cast<int>(salt.size()),
                    static_cast<int>(iterations), EVP_sha256(), static_cast<int>(output.size()),
                    output.data());
  return BytesToHex(Bytes(output.end() - 32, output.end()));
}

std::string Pbkdf2(const Bytes& passphrase, const Bytes& salt, uint32_t iterations,
                   uint32_t index) {
  uint8_t block[32];
  EXPECT_TRUE(keys::Pbkdf2HmacSha256Block(passphrase.data(), passphrase.size(), salt.data(),
                                          salt.size(), iterations, index, block, nullptr));
  return Hex(block);
}

// Every test runs on the software and the hardware compression; the hardware runs show as
// skipped, not passed, on a processor without SHA instructions.
class KdfPathTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (!keys::ForceSha256Backend(GetParam()))
      GTEST_SKIP() << "this processor has no SHA instructions";
  }
  void TearDown() override { keys::ForceSha256Backend(keys::Sha256HardwareAvailable()); }
};

// SHA-256 of every length from 0 to 64 bytes (so every padding case) and long messages up to
// 6,400 bytes; HMAC from RFC 4231; both 32-byte blocks of each RFC 7914 PBKDF2 example.
TEST_P(KdfPathTest, MatchesPublishedVectors) {
  const struct {
    const char* file;
    size_t records;
  } kFiles[] = {{"sha256_short_msg.txt", 65},
                {"sha256_long_msg.txt", 64},
                {"hmac_sha256_rfc4231.txt", 6},
                {"pbkdf2_sha256_rfc7914.txt", 2}};
  for (const auto& file : kFiles) {
    const auto records = testing_support::LoadVectors(
        file.file, {"MSG", "DIGEST", "KEY", "MAC", "PASSWORD", "SALT", "ITERATIONS", "DK"},
        {"EMPTY"});
    ASSERT_EQ(records.size(), file.records) << file.file;
    for (const auto& record : records) {
      SCOPED_TRACE(record.where);
      uint8_t out[32];
      if (record.Has("DIGEST")) {
        const Bytes message = record.Has("MSG") ? record.Get("MSG") : Bytes();
        ASSERT_NE(record.Has("MSG"), record.HasFlag("EMPTY"));
        keys::Sha256Digest(message.data(), message.size(), out);
        EXPECT_EQ(Hex(out), BytesToHex(record.Get("DIGEST")));
      } else if (record.Has("MAC")) {
        const Bytes &key = record.Get("KEY"), &message = record.Get("MSG");
        keys::HmacSha256(key.data(), key.size(), message.data(), message.size(), out);
        EXPECT_EQ(Hex(out), BytesToHex(record.Get("MAC")));
      } else {
        const Bytes& count = record.Get("ITERATIONS");
        const uint32_t iterations = uint32_t{count[0]} << 24 | uint32_t{count[1]} << 16 |
                                    uint32_t{count[2]} << 8 | count[3];
        const std::string dk = BytesToHex(record.Get("DK"));
        EXPECT_EQ(Pbkdf2(record.Get("PASSWORD"), record.Get("SALT"), iterations, 1) +
                      Pbkdf2(record.Get("PASSWORD"), record.Get("SALT"), iterations, 2),
                  dk);
      }
    }
  }
}

// Around the block size, which no published vector covers: the HMAC key rule changes at 64/65
// bytes and the inner hash's padding at 55/56 bytes of message; PBKDF2's U1 hashes the key block,
// the salt and the block index, so salts of 52 to 59 bytes need a second padding block and one of
// 60 fills the block exactly.
TEST_P(KdfPathTest, HmacAndPbkdf2MatchOpenSslAroundTheBlockSize) {
  for (size_t keySize : {1, 32, 63, 64, 65, 200}) {
    for (size_t messageSize : {0, 1, 51, 52, 55, 56, 59, 60, 63, 64, 65, 1000}) {
      SCOPED_TRACE(::testing::Message() << "key " << keySize << " bytes, message " << messageSize);
      const Bytes key = RandomBytes(keySize, 100 + keySize);
      const Bytes message = RandomBytes(messageSize, 200 + messageSize);
      uint8_t mac[32];
      keys::HmacSha256(key.data(), key.size(), message.data(), message.size(), mac);
      uint8_t expected[32];
      unsigned size = 0;
      HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), message.data(), message.size(),
           expected, &size);
      EXPECT_EQ(Hex(mac), Hex(expected));
      EXPECT_EQ(Pbkdf2(key, message, 3, 3), OpenSslPbkdf2(key, message, 3, 3));
    }
  }
}

// The window's Abort: a flag raised before the derivation leaves the XOR of no iterations; one
// raised during it ends a derivation that only the flag could end.
TEST_P(KdfPathTest, TheFlagStopsTheDerivation) {
  std::atomic<engine::StopFlag> flag{engine::kStopRequested};
  const uint8_t passphrase[] = {'p', 'w'}, salt[keys::kSaltSize] = {};
  uint8_t key[keys::kDerivedKeySize];
  std::fill(std::begin(key), std::end(key), 0xaa);
  EXPECT_FALSE(keys::DerivePassphraseKey(passphrase, sizeof passphrase, salt, key, &flag));
  EXPECT_EQ(Hex(key), std::string(64, '0'));

  flag = engine::kRunning;
  auto run = std::async(std::launch::async, [&] {
    return keys::Pbkdf2HmacSha256Block(passphrase, sizeof passphrase, salt, sizeof salt, UINT32_MAX,
                                       1, key, &flag);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  flag = engine::kStopRequested;
  if (run.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    fprintf(stderr, "the derivation did not stop within 60 s of the flag\n");
    abort();  // waiting on would hang the suite
  }
  EXPECT_FALSE(run.get());
}

INSTANTIATE_TEST_SUITE_P(Paths, KdfPathTest, ::testing::Bool(),
                         [](const auto& test) { return test.param ? "Hardware" : "Software"; });

}  // namespace
