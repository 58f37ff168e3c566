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
#include <fstream>
#include <future>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>

#include "keys/kdf.h"
#include "tests/support/test_files.h"
#include "tests/support/vector_file.h"

namespace {

using testing_support::Bytes;
using testing_support::BytesToHex;
using testing_support::LoadVectorFile;
using testing_support::RandomBytes;
using testing_support::VectorRecord;

std::string Hex(const uint8_t (&bytes)[32]) {
  return BytesToHex(Bytes(bytes, bytes + 32));
}

// Keys, salts and messages may be empty; OpenSSL wants a pointer all the same.
const uint8_t* Data(const Bytes& bytes) {
  static const uint8_t kNothing = 0;
  return bytes.empty() ? &kNothing : bytes.data();
}

std::string OpenSslHmac(const Bytes& key, const Bytes& message) {
  uint8_t mac[32];
  unsigned size = 0;
  if (HMAC(EVP_sha256(), Data(key), static_cast<int>(key.size()), Data(message), message.size(),
           mac, &size) == nullptr)
    throw std::runtime_error("HMAC failed");
  return Hex(mac);
}

// Output block `index` (from 1) of PBKDF2-HMAC-SHA-256.
std::string OpenSslPbkdf2(const Bytes& passphrase, const Bytes& salt, uint32_t iterations,
                          uint32_t index) {
  Bytes output(32 * index);
  if (PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(Data(passphrase)),
                        static_cast<int>(passphrase.size()), Data(salt),
                        static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                        static_cast<int>(output.size()), output.data()) != 1)
    throw std::runtime_error("PKCS5_PBKDF2_HMAC failed");
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

TEST_P(KdfPathTest, Sha256NistShortAndLongMessages) {
  // Short: every length from 0 to 64 bytes, so every padding case; long: up to 6,400 bytes.
  for (const auto& [name, count] :
       {std::pair{"sha256_short_msg.txt", 65u}, std::pair{"sha256_long_msg.txt", 64u}}) {
    const auto file = LoadVectorFile(name, {{"MSG", "DIGEST"}, {"EMPTY"}});
    const auto& records = file.Section("SHA256").records;
    ASSERT_EQ(records.size(), count) << name;
    for (const VectorRecord& record : records) {
      ASSERT_NE(record.Has("MSG"), record.HasFlag("EMPTY")) << record.where;
      const Bytes message = record.Has("MSG") ? record.Get("MSG") : Bytes();
      uint8_t digest[32];
      keys::Sha256Digest(message.data(), message.size(), digest);
      EXPECT_EQ(Hex(digest), BytesToHex(record.Get("DIGEST"))) << record.where;
    }
  }
}

TEST_P(KdfPathTest, HmacRfc4231) {
  const auto file = LoadVectorFile("hmac_sha256_rfc4231.txt", {{"KEY", "MSG", "MAC"}, {}});
  const auto& records = file.Section("HMAC").records;
  ASSERT_EQ(records.size(), 6u);
  for (const VectorRecord& record : records) {
    const Bytes& key = record.Get("KEY");
    const Bytes& message = record.Get("MSG");
    uint8_t mac[32];
    keys::HmacSha256(key.data(), key.size(), message.data(), message.size(), mac);
    EXPECT_EQ(Hex(mac), BytesToHex(record.Get("MAC"))) << record.where;
  }
}

// The RFC has no key of exactly one block; the key rule changes at 64/65 bytes and the inner
// hash's padding at 55/56 bytes of message.
TEST_P(KdfPathTest, HmacMatchesOpenSslAroundTheBlockSize) {
  for (size_t keySize : {0, 1, 32, 63, 64, 65, 200}) {
    for (size_t messageSize : {0, 1, 55, 56, 63, 64, 65, 1000}) {
      const Bytes key = RandomBytes(keySize, 100 + keySize);
      const Bytes message = RandomBytes(messageSize, 200 + messageSize);
      uint8_t mac[32];
      keys::HmacSha256(key.data(), key.size(), message.data(), message.size(), mac);
      EXPECT_EQ(Hex(mac), OpenSslHmac(key, message))
          << "key " << keySize << " bytes, message " << messageSize << " bytes";
    }
  }
}

const testing_support::VectorSchema kPbkdf2Schema{{"PASSWORD", "SALT", "ITERATIONS", "DK"}, {}};

uint32_t Iterations(const VectorRecord& record) {
  const Bytes& count = record.Get("ITERATIONS");
  if (count.size() != 4) throw std::runtime_error(record.where + ": ITERATIONS is not 4 bytes");
  return uint32_t{count[0]} << 24 | uint32_t{count[1]} << 16 | uint32_t{count[2]} << 8 | count[3];
}

TEST_P(KdfPathTest, Pbkdf2Rfc7914BothBlocks) {
  const auto file = LoadVectorFile("pbkdf2_sha256_rfc7914.txt", kPbkdf2Schema);
  ASSERT_EQ(file.RecordCount(), 2u);
  for (const VectorRecord& record : file.Section("PBKDF2").records) {
    const Bytes& dk = record.Get("DK");
    ASSERT_EQ(dk.size(), 64u) << record.where;
    for (uint32_t index : {1u, 2u})
      EXPECT_EQ(Pbkdf2(record.Get("PASSWORD"), record.Get("SALT"), Iterations(record), index),
                BytesToHex(Bytes(dk.begin() + 32 * (index - 1), dk.begin() + 32 * index)))
          << record.where << " block " << index;
  }
}

// U1 hashes the key block, the salt and the block index: salts of 52 to 59 bytes need a second
// padding block, one of 60 fills the block exactly.
TEST_P(KdfPathTest, Pbkdf2MatchesOpenSslAcrossSaltLengths) {
  for (size_t passphraseSize : {1, 64, 65}) {
    for (size_t saltSize : {0, 16, 51, 52, 59, 60, 61, 200}) {
      const Bytes passphrase = RandomBytes(passphraseSize, 300 + passphraseSize);
      const Bytes salt = RandomBytes(saltSize, 400 + saltSize);
      for (uint32_t index : {1u, 3u})
        EXPECT_EQ(Pbkdf2(passphrase, salt, 3, index), OpenSslPbkdf2(passphrase, salt, 3, index))
            << "passphrase " << passphraseSize << " bytes, salt " << saltSize << " bytes, block "
            << index;
    }
  }
}

// The product's derivation at its full 524,288 iterations.
TEST_P(KdfPathTest, PassphraseKeyMatchesOpenSsl) {
  struct Case {
    const char* what;
    Bytes passphrase;
    bool zeroFlag;  // the windowed tools' call, with a flag that stays 0
  };
  const Bytes highBytes = {'G', 'r', 0xfc, 0xdf, 'e', ' ', 0x80, 0x9f, 0xa0, 0xe9, 0xff};
  const Case cases[] = {{"1 byte", RandomBytes(1, 1), false},
                        {"63 bytes", RandomBytes(63, 63), false},
                        {"64 bytes, the key as is", RandomBytes(64, 64), true},
                        {"65 bytes, the key hashed", RandomBytes(65, 65), false},
                        {"512 bytes", RandomBytes(512, 512), true},
                        {"bytes above 127", highBytes, false}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const Bytes saltBytes = RandomBytes(keys::kSaltSize, 1000 + i);
    uint8_t salt[keys::kSaltSize];
    std::copy(saltBytes.begin(), saltBytes.end(), salt);
    std::atomic<engine::StopFlag> flag{engine::kRunning};
    uint8_t key[keys::kDerivedKeySize];
    ASSERT_TRUE(keys::DerivePassphraseKey(c.passphrase.data(), c.passphrase.size(), salt, key,
                                          c.zeroFlag ? &flag : nullptr))
        << c.what;
    EXPECT_EQ(Hex(key), OpenSslPbkdf2(c.passphrase, saltBytes, keys::kKdfIterations, 1)) << c.what;
  }
}

TEST_P(KdfPathTest, RaisedFlagStopsBeforeTheFirstIteration) {
  const std::atomic<engine::StopFlag> flag{engine::kStopRequested};
  const uint8_t passphrase[] = {'p', 'w'};
  const uint8_t salt[keys::kSaltSize] = {};
  uint8_t key[keys::kDerivedKeySize];
  std::fill(std::begin(key), std::end(key), 0xaa);
  EXPECT_FALSE(keys::DerivePassphraseKey(passphrase, sizeof passphrase, salt, key, &flag));
  // The XOR of no iterations: nothing was derived.
  EXPECT_EQ(Hex(key), std::string(64, '0'));
}

TEST_P(KdfPathTest, FlagRaisedDuringTheDerivationEndsIt) {
  std::atomic<engine::StopFlag> flag{engine::kRunning};
  std::atomic<bool> started{false};
  const uint8_t passphrase[] = {'p', 'w'};
  const uint8_t salt[keys::kSaltSize] = {};
  uint8_t key[keys::kDerivedKeySize] = {};
  auto run = std::async(std::launch::async, [&] {
    started = true;
    // Far more iterations than any test run could finish: only the flag can end this call.
    return keys::Pbkdf2HmacSha256Block(passphrase, sizeof passphrase, salt, sizeof salt, UINT32_MAX,
                                       1, key, &flag);
  });
  while (!started)
    std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  flag = engine::kStopRequested;
  if (run.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    fprintf(stderr, "the derivation did not stop within 60 s of the flag\n");
    abort();  // waiting on would hang the suite
  }
  EXPECT_FALSE(run.get());
  EXPECT_NE(Hex(key), std::string(64, '0')) << "no iteration ran before the flag";
}

INSTANTIATE_TEST_SUITE_P(Paths, KdfPathTest, ::testing::Bool(),
                         [](const auto& test) { return test.param ? "Hardware" : "Software"; });

// RFC 7914's vectors are typed in by hand; OpenSSL confirms the transcription.
TEST(KdfVectorData, Rfc7914AgreesWithOpenSsl) {
  const auto file = LoadVectorFile("pbkdf2_sha256_rfc7914.txt", kPbkdf2Schema);
  for (const VectorRecord& record : file.Section("PBKDF2").records) {
    const Bytes& dk = record.Get("DK");
    EXPECT_EQ(OpenSslPbkdf2(record.Get("PASSWORD"), record.Get("SALT"), Iterations(record), 2),
              BytesToHex(Bytes(dk.begin() + 32, dk.end())))
        << record.where;
  }
}

// The processor check reads CPUID; the kernel's own reading of it is an independent witness.
TEST(Sha256Backend, HardwareFollowsTheProcessor) {
  EXPECT_EQ(keys::Sha256HardwareActive(), keys::Sha256HardwareAvailable()) << "initial choice";
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
  }
  if (!line.empty()) {
    const std::string flags = line + " ";
    const bool expected = flags.find(" sha_ni ") != std::string::npos &&
                          flags.find(" ssse3 ") != std::string::npos &&
                          flags.find(" sse4_1 ") != std::string::npos;
    EXPECT_EQ(keys::Sha256HardwareAvailable(), expected) << line;
  }
  EXPECT_TRUE(keys::ForceSha256Backend(false));
  EXPECT_FALSE(keys::Sha256HardwareActive());
  EXPECT_EQ(keys::ForceSha256Backend(true), keys::Sha256HardwareAvailable());
  EXPECT_EQ(keys::Sha256HardwareActive(), keys::Sha256HardwareAvailable());
}

}  // namespace
