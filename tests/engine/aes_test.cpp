// The AES block cipher against published answers on the software and the hardware pair: the
// FIPS-197 examples and the AESAVS known-answer files (GFSbox, KeySbox, VarKey and VarTxt
// together, one file per key size).
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "engine/aes.h"
#include "engine/backend.h"
#include "tests/support/job_runner.h"
#include "tests/support/vector_file.h"

namespace {

using testing_support::Bytes;
using testing_support::BytesToHex;

Bytes ApplyBlock(engine::BlockFunction function, const Bytes& input) {
  Bytes output(16);
  engine::StoreBlock(output.data(), function(engine::LoadBlock(input.data())));
  return output;
}

struct VectorSet {
  const char* file;
  size_t records;
};
constexpr VectorSet kSets[] = {{"fips197.txt", 6},
                               {"aes_kat_128.txt", 568},
                               {"aes_kat_192.txt", 700},
                               {"aes_kat_256.txt", 810}};

class AesTest : public ::testing::TestWithParam<std::tuple<bool, VectorSet>> {
 protected:
  void SetUp() override { USE_BACKEND_OR_SKIP(std::get<0>(GetParam())); }
};

// ENCRYPT records run both ways, DECRYPT records in theirs; decryption takes the inverse form
// of the schedule. Stops after a handful of failures so that a broken cipher does not print a
// thousand.
TEST_P(AesTest, MatchesPublishedAnswers) {
  const VectorSet set = std::get<1>(GetParam());
  const auto records =
      testing_support::LoadVectors(set.file, {"KEY", "PLAINTEXT", "CIPHERTEXT", "LASTROUNDKEY"});
  ASSERT_EQ(records.size(), set.records);
  int failures = 0;
  for (const auto& record : records) {
    SCOPED_TRACE(record.where);
    const Bytes& key = record.Get("KEY");
    const auto size = static_cast<engine::KeySize>(key.size() / 8 - 2);
    if (!record.Has("PLAINTEXT")) continue;  // an expansion example: implied by the blocks
    const Bytes &plain = record.Get("PLAINTEXT"), &cipher = record.Get("CIPHERTEXT");
    if (record.section == "ENCRYPT") {
      engine::LoadAesKey(key.data(), size, false);
      const Bytes out = ApplyBlock(engine::CurrentAesBackend().encrypt, plain);
      EXPECT_EQ(BytesToHex(out), BytesToHex(cipher));
      failures += out != cipher;
    }
    engine::LoadAesKey(key.data(), size, true);
    const Bytes back = ApplyBlock(engine::CurrentAesBackend().decrypt, cipher);
    EXPECT_EQ(BytesToHex(back), BytesToHex(plain));
    if ((failures += back != plain) >= 8) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, AesTest,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kSets)),
                         [](const auto& test) {
                           std::string file = std::get<1>(test.param).file;
                           return (std::get<0>(test.param) ? "Hardware_" : "Software_") +
                                  file.substr(0, file.find('.'));
                         });

}  // namespace
