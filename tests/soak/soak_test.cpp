// Soak: thousands of random key/IV jobs through the real file job, with read and write failures,
// interruptions and short transfers injected under the file layer at random chunks, damaged
// inputs, and random aborts of windowed jobs. After each job the outcome (the console's status,
// the window's StopFlag and IoError) is the one the job's rules give, the output holds exactly
// the bytes an independent implementation (OpenSSL) says it must (an output that existed before
// changes only by a job that succeeded), and no descriptor, temporary file or heap memory is left
// behind.
//
// AESSUITE_SOAK_JOBS and AESSUITE_SOAK_SEED change the count and the seed; a failure names both.
#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>

#include "engine/backend.h"
#include "engine/gcm.h"
#include "engine/job.h"
#include "tests/support/fault_injection.h"
#include "tests/support/job_runner.h"
#include "tests/support/openssl_oracle.h"
#include "tests/support/test_files.h"

namespace engine {
inline void PrintTo(JobStatus status, std::ostream* out) {
  *out << static_cast<int>(status);
}
}  // namespace engine

namespace {

using engine::CipherMode;
using engine::Direction;
using engine::JobHost;
using engine::JobStatus;
using testing_support::Bytes;
using testing_support::Fault;

constexpr uint64_t kChunk = engine::kChunkSize;

// Sizes where the job's arithmetic turns: nothing, around one block, around each chunk boundary.
// clang-format off
constexpr uint64_t kBoundarySizes[] = {
    0, 1, 15, 16, 17, 31, 32, 33,
    kChunk - 17, kChunk - 16, kChunk - 15, kChunk - 1, kChunk, kChunk + 1, kChunk + 15,
    kChunk + 16, kChunk + 17,
    2 * kChunk - 16, 2 * kChunk - 1, 2 * kChunk, 2 * kChunk + 1,
    3 * kChunk - 16, 3 * kChunk};
// clang-format on

enum class Trouble : uint8_t { None, Read, Write, Abort };

struct Job {
  testing_support::FileJobSpec spec;
  testing_support::Backend backend = testing_support::Backend::Software;
  Bytes input;
  std::optional<Bytes> existing;  // an output file already there
  Trouble trouble = Trouble::None;
  testing_support::FaultPlan plan;
};

// What the rules make of the job without any trouble.
struct Outcome {
  std::optional<JobStatus> refusal;  // PrepareJobFiles refuses
  Bytes full;                        // the output of an undisturbed run
  bool authentic = true;             // the GCM verdict
  uint64_t blocks = 0;               // blocks the run reads
  uint64_t headBytes = 0;            // a GCM encryption's tag in front of the data
};

struct Tally {
  int jobs = 0, refused = 0, faultsFired = 0, failures = 0, retried = 0, aborts = 0, wrongTags = 0;
  int roundTrips = 0;
};

// A window's GCM tag after an abort: GHASH, by the bitwise multiply, of the first `blocks` blocks
// of an undisturbed output `full` (tag in front) with the length of all its data.
Bytes TagOfFirstBlocks(const testing_support::FileJobSpec& spec, const Bytes& full,
                       uint64_t blocks) {
  Bytes j0(16, 0);
  std::copy_n(spec.iv.begin(), 12, j0.begin());
  j0[15] = 1;
  const auto cipher = [&](const Bytes& block) {
    return engine::LoadBlock(
        testing_support::OracleEncrypt(CipherMode::Ecb, spec.key, spec.iv, block).data());
  };
  const engine::Block h = cipher(Bytes(16, 0));
  engine::Block y = {};
  for (uint64_t i = 0; i < blocks; ++i)
    y = engine::GfMul128(y ^ engine::LoadBlock(full.data() + 16 + 16 * i), h);
  uint8_t lengths[16] = {};
  for (int i = 0; i < 8; ++i)
    lengths[15 - i] = static_cast<uint8_t>((full.size() - 16) * 8 >> (8 * i));
  y = engine::GfMul128(y ^ engine::LoadBlock(lengths), h) ^ cipher(j0);
  Bytes tag(16);
  engine::StoreBlock(tag.data(), y);
  return tag;
}

class SoakTest : public ::testing::Test {
 protected:
  uint64_t Pick(uint64_t below) {
    return std::uniform_int_distribution<uint64_t>(0, below - 1)(random_);
  }
  bool Chance(int percent) { return Pick(100) < static_cast<uint64_t>(percent); }

  uint64_t PickSize() {
    const uint64_t roll = Pick(100);
    if (roll < 45) return kBoundarySizes[Pick(std::size(kBoundarySizes))];
    if (roll < 75) return Pick(4097);
    return Pick(3 * kChunk + 65);
  }

  Job Draw();
  Outcome Expect(const Job& job);
  void ChooseTrouble(Job& job, const Outcome& outcome);
  void Check(const Job& job, const Outcome& outcome, const testing_support::FileJobResult& result,
             const testing_support::FaultLog& log);

  std::mt19937_64 random_;
  testing_support::TempDir dir_;
  const std::string in_ = dir_.File("in");
  const std::string out_ = dir_.File("out");
  bool hardwareAvailable_ = false;
  Tally tally_;
};

Job SoakTest::Draw() {
  Job job;
  testing_support::FileJobSpec& spec = job.spec;
  spec.host = Chance(50) ? JobHost::Console : JobHost::Window;
  spec.mode = static_cast<CipherMode>(Pick(7));
  spec.keySize = static_cast<engine::KeySize>(Pick(3));
  spec.direction = Chance(50) ? Direction::Encrypt : Direction::Decrypt;
  spec.key = testing_support::RandomBytes(16 + 8 * static_cast<size_t>(spec.keySize), random_());
  spec.iv = testing_support::RandomBytes(16, random_());
  spec.input = in_;
  spec.output = out_;
  // Both GHASH paths beside the hardware cipher: an abort often lands inside a carry-less group.
  if (hardwareAvailable_) job.backend = testing_support::kBackends[Pick(3)];

  const Bytes plain = testing_support::RandomBytes(PickSize(), random_());
  if (spec.direction == Direction::Encrypt) {
    job.input = plain;
  } else {
    job.input = testing_support::OracleEncrypt(spec.mode, spec.key, spec.iv, plain);
    // Damage: cut the end, flip a byte, or add bytes.
    const uint64_t roll = Pick(100);
    if (roll < 10 && !job.input.empty()) {
      job.input.resize(job.input.size() - 1 - Pick(std::min<uint64_t>(job.input.size(), 40)));
    } else if (roll < 20 && !job.input.empty()) {
      job.input[Pick(job.input.size())] ^= static_cast<uint8_t>(1 + Pick(255));
    } else if (roll < 25) {
      const Bytes extra = testing_support::RandomBytes(1 + Pick(40), random_());
      job.input.insert(job.input.end(), extra.begin(), extra.end());
    }
  }
  if (Chance(15)) {
    job.existing = testing_support::RandomBytes(Pick(1000), random_());
    if (Chance(30)) spec.disposition = engine::Disposition::CreateNew;
  }
  return job;
}

Outcome SoakTest::Expect(const Job& job) {
  const testing_support::FileJobSpec& spec = job.spec;
  const uint64_t n = job.input.size();
  const bool decrypt = spec.direction == Direction::Decrypt;
  const bool padded = engine::IsPaddedMode(spec.mode);
  const bool gcm = spec.mode == CipherMode::Gcm;
  Outcome outcome;
  if (n == 0) {
    outcome.refusal = JobStatus::InputEmpty;
  } else if (decrypt && gcm && n <= 16) {
    outcome.refusal = JobStatus::TooSmallForTag;
  } else if (decrypt && padded && n % 16 != 0) {
    outcome.refusal = JobStatus::NotMultipleOf16;
  } else if (job.existing && spec.disposition == engine::Disposition::CreateNew) {
    outcome.refusal = JobStatus::OutputUnwritable;
  }
  if (outcome.refusal) return outcome;

  if (decrypt) {
    outcome.full =
        testing_support::OracleDecrypt(spec.mode, spec.key, spec.iv, job.input, outcome.authentic);
  } else {
    outcome.full = testing_support::OracleEncrypt(spec.mode, spec.key, spec.iv, job.input);
  }
  const uint64_t data = decrypt && gcm ? n - 16 : n;
  outcome.blocks = !decrypt && padded ? data / 16 + 1 : (data + 15) / 16;
  outcome.headBytes = !decrypt && gcm ? 16 : 0;
  return outcome;
}

// One trouble per job, always at a read or write the run makes, so that it fires.
void SoakTest::ChooseTrouble(Job& job, const Outcome& outcome) {
  const testing_support::FileJobSpec& spec = job.spec;
  const uint64_t roll = Pick(100);
  if (outcome.refusal || roll < 35) return;
  const bool gcmDecrypt = spec.mode == CipherMode::Gcm && spec.direction == Direction::Decrypt;
  if (roll < 60) {
    // Reads: the chunks of the data, and a GCM decryption's tag before them.
    const uint64_t base = gcmDecrypt ? 16 : 0;
    const uint64_t reads = (job.input.size() - base + kChunk - 1) / kChunk;
    const Fault kinds[] = {Fault::Fail, Fault::EndOfFile, Fault::Partial, Fault::Interrupt};
    job.trouble = Trouble::Read;
    job.plan.readFault = kinds[Pick(4)];
    if (job.plan.readFault == Fault::EndOfFile) {
      job.plan.readAt = Pick(job.input.size());
    } else {
      const uint64_t k = Pick(reads + (gcmDecrypt ? 1 : 0));
      job.plan.readAt = k == reads ? 0 : base + k * kChunk;
    }
  } else if (roll < 85 || spec.host == JobHost::Console) {
    // Writes: the chunks of the data, and a GCM encryption's placeholder and tag (both at 0).
    const uint64_t data = outcome.full.size() - outcome.headBytes;
    const uint64_t writes = (data + kChunk - 1) / kChunk;
    const uint64_t extras = outcome.headBytes != 0 ? 2 : 0;
    if (writes + extras == 0) return;
    const Fault kinds[] = {Fault::Fail, Fault::NoProgress, Fault::Partial, Fault::Interrupt};
    job.trouble = Trouble::Write;
    job.plan.writeFault = kinds[Pick(4)];
    const uint64_t k = Pick(writes + extras);
    job.plan.writeAt = k < writes ? outcome.headBytes + k * kChunk : 0;
    job.plan.writeOccurrence = k == writes + 1 ? 2 : 1;
  } else {
    job.trouble = Trouble::Abort;
    job.spec.stopAtPercent = static_cast<int>(Pick(101));
  }
}

void SoakTest::Check(const Job& job, const Outcome& outcome,
                     const testing_support::FileJobResult& result,
                     const testing_support::FaultLog& log) {
  const testing_support::FileJobSpec& spec = job.spec;
  const bool window = spec.host == JobHost::Window;
  const bool gcm = spec.mode == CipherMode::Gcm;
  const bool decrypt = spec.direction == Direction::Decrypt;
  tally_.faultsFired += log.faultsFired;

  if (outcome.refusal) {
    ++tally_.refused;
    EXPECT_FALSE(result.prepared);
    EXPECT_EQ(result.status, *outcome.refusal);
    if (job.existing) {
      EXPECT_TRUE(testing_support::ReadFileBytes(out_) == *job.existing) << "the output changed";
    } else {
      EXPECT_FALSE(testing_support::FileExists(out_)) << "a refused job created its output";
    }
    return;
  }
  ASSERT_TRUE(result.prepared) << "status " << static_cast<int>(result.status);
  const Bytes left = testing_support::ReadFileBytes(out_);

  // Where the trouble cut the run: the data bytes flushed before it, or none (the run ended).
  std::optional<uint64_t> keptData;
  bool tagWriteFailed = false, placeholderFailed = false;
  uint8_t ioError = engine::kNoIoError;
  const bool hard =
      (job.trouble == Trouble::Read || job.trouble == Trouble::Write) &&
      job.plan.readFault != Fault::Partial && job.plan.readFault != Fault::Interrupt &&
      job.plan.writeFault != Fault::Partial && job.plan.writeFault != Fault::Interrupt;
  if (job.trouble == Trouble::Read || job.trouble == Trouble::Write) {
    EXPECT_EQ(log.faultsFired, 1) << "the fault was not reached";
  }
  if (job.trouble == Trouble::Read && hard) {
    const uint64_t base = gcm && decrypt ? 16 : 0;
    const uint64_t at = job.plan.readAt;
    keptData = at < base ? 0 : (at - base) / kChunk * kChunk;
    ioError = engine::kReadFailed;
  } else if (job.trouble == Trouble::Write && hard) {
    placeholderFailed =
        outcome.headBytes != 0 && job.plan.writeAt == 0 && job.plan.writeOccurrence == 1;
    tagWriteFailed = outcome.headBytes != 0 && job.plan.writeOccurrence == 2;
    // A failed tag write leaves all the data behind a zero tag, as at the end of a run.
    if (placeholderFailed) {
      keptData = 0;
    } else if (!tagWriteFailed) {
      keptData = (job.plan.writeAt - outcome.headBytes) / kChunk * kChunk;
    }
    ioError = engine::kWriteFailed;
  }
  bool aborted = false;
  uint64_t processed = outcome.blocks;
  if (job.trouble == Trouble::Abort) {
    const uint64_t perPercent = job.input.size() / 1616 + 1;
    const uint64_t p = static_cast<uint64_t>(spec.stopAtPercent);
    if (p == 0 || p * perPercent <= outcome.blocks) {
      aborted = true;
      ++tally_.aborts;
      const uint64_t written = processed = std::min(p * perPercent, outcome.blocks);
      if (written < outcome.blocks) keptData = written * 16 / kChunk * kChunk;
    }
  }
  if ((job.trouble == Trouble::Read || job.trouble == Trouble::Write) && !hard) ++tally_.retried;

  if (ioError != engine::kNoIoError) {
    ++tally_.failures;
    if (window) {
      EXPECT_EQ(result.stopFlag, engine::kStopRequested);
      EXPECT_EQ(result.ioError, ioError);
    } else {
      EXPECT_EQ(result.status, ioError == engine::kReadFailed ? JobStatus::InputUnreadable
                                                              : JobStatus::OutputUnwritable);
      EXPECT_EQ(log.writesAfterFault, 0) << "the console wrote after the failure";
    }
  } else if (aborted) {
    EXPECT_EQ(result.stopFlag, engine::kStopRequested) << "an abort is not a verdict";
    EXPECT_EQ(result.ioError, engine::kNoIoError);
  } else if (window) {
    EXPECT_EQ(result.stopFlag, outcome.authentic ? engine::kRunning : engine::kWrongTag);
    EXPECT_EQ(result.ioError, engine::kNoIoError);
  } else {
    const JobStatus done = decrypt ? JobStatus::DecryptionComplete : JobStatus::EncryptionComplete;
    EXPECT_EQ(result.status, outcome.authentic ? done : JobStatus::WrongTag);
  }
  if (!outcome.authentic && !keptData && !aborted) ++tally_.wrongTags;

  EXPECT_LE(result.maxPercent, 100);
  if (!keptData && !aborted && ioError == engine::kNoIoError) {
    // Every block counted: one step per BlocksPerPercent blocks, up to 100, and none at all on
    // the console below 64 MiB.
    const uint64_t steps = std::min<uint64_t>(outcome.blocks / (job.input.size() / 1616 + 1), 100);
    EXPECT_EQ(static_cast<uint64_t>(result.progressReports), window ? steps : 0);
  }
  if (job.existing && result.stopFlag != engine::kRunning) {
    EXPECT_TRUE(left == *job.existing) << "a job that did not succeed changed the file it replaces";
    return;
  }
  if (!keptData) {
    // The run reached its end: every byte, the tag included (tag write failure aside).
    Bytes expected = outcome.full;
    if (tagWriteFailed) std::fill(expected.begin(), expected.begin() + 16, 0);
    EXPECT_TRUE(left == expected) << "output of " << left.size() << " bytes, expected "
                                  << expected.size();
    return;
  }
  // Cut short: whole chunks of the undisturbed output behind a GCM encryption's tag.
  const uint64_t head = placeholderFailed ? 0 : outcome.headBytes;
  ASSERT_EQ(left.size(), head + *keptData) << "output left on disk";
  EXPECT_TRUE(std::equal(left.begin() + static_cast<ptrdiff_t>(head), left.end(),
                         outcome.full.begin() + static_cast<ptrdiff_t>(outcome.headBytes)))
      << "the kept output differs from an undisturbed run";
  if (head != 0) {
    // The console writes no tag after a failure. The window tags the blocks it processed: all of
    // them when only the last flush failed, fewer (and so another tag) otherwise.
    const Bytes tag(left.begin(), left.begin() + 16);
    const bool zero = std::all_of(tag.begin(), tag.end(), [](uint8_t b) { return b == 0; });
    const bool whole = std::equal(tag.begin(), tag.end(), outcome.full.begin());
    const bool lastFlushFailed =
        ioError == engine::kWriteFailed && *keptData + kChunk >= outcome.full.size() - head;
    if (!window && ioError != engine::kNoIoError) {
      EXPECT_TRUE(zero) << "the console wrote a tag after a failure";
    } else {
      EXPECT_FALSE(zero) << "the window wrote no tag";
      EXPECT_EQ(whole, lastFlushFailed) << "the tag does not cover the blocks processed";
      if (aborted && ioError == engine::kNoIoError) {
        EXPECT_TRUE(tag == TagOfFirstBlocks(spec, outcome.full, processed))
            << "the tag does not cover exactly the " << processed << " blocks processed";
      }
    }
  }
}

TEST_F(SoakTest, RandomJobsWithFaultsAndAbortsEndAsTheRulesSay) {
  const char* jobsText = getenv("AESSUITE_SOAK_JOBS");
  const char* seedText = getenv("AESSUITE_SOAK_SEED");
  const int jobs = jobsText != nullptr ? atoi(jobsText) : 2400;
  const uint64_t seed = seedText != nullptr ? strtoull(seedText, nullptr, 0) : 20240611;
  random_.seed(seed);
  hardwareAvailable_ = testing_support::UseBackend(true);
  const int descriptors = testing_support::OpenDescriptorCount();

  for (int i = 0; i < jobs && !HasFailure(); ++i) {
    SCOPED_TRACE(::testing::Message() << "job " << i << " of seed " << seed);
    Job job = Draw();
    const Outcome outcome = Expect(job);
    ChooseTrouble(job, outcome);
    SCOPED_TRACE(::testing::Message()
                 << "host " << static_cast<int>(job.spec.host) << ", mode "
                 << static_cast<int>(job.spec.mode) << ", key size "
                 << static_cast<int>(job.spec.keySize) << ", direction "
                 << static_cast<int>(job.spec.direction) << ", " << job.input.size()
                 << " bytes in, trouble " << static_cast<int>(job.trouble) << " (read "
                 << static_cast<int>(job.plan.readFault) << " at " << job.plan.readAt << ", write "
                 << static_cast<int>(job.plan.writeFault) << " at " << job.plan.writeAt << "/"
                 << job.plan.writeOccurrence << ", abort " << job.spec.stopAtPercent << ")");
    testing_support::WriteFileBytes(in_, job.input);
    unlink(out_.c_str());
    if (job.existing) testing_support::WriteFileBytes(out_, *job.existing);
    testing_support::UseBackend(job.backend);

    testing_support::FileJobResult result;
    testing_support::FaultLog log;
    const size_t heap = mallinfo2().uordblks;
    {
      testing_support::ScopedFileIo io(job.plan);
      result = testing_support::RunFileJob(job.spec);
      log = io.log();
    }
    EXPECT_EQ(mallinfo2().uordblks, heap) << "the job left heap memory behind";
    EXPECT_EQ(testing_support::OpenDescriptorCount(), descriptors) << "a descriptor was left open";
    EXPECT_EQ(testing_support::PartFileCount(dir_.path()), 0) << "a temporary file was left";
    Check(job, outcome, result, log);
    ++tally_.jobs;

    // A finished encryption decrypts back to its input through the same job.
    const bool encrypted = job.spec.direction == Direction::Encrypt && result.prepared &&
                           result.stopFlag == engine::kRunning;
    if (encrypted && !HasFailure()) {
      testing_support::FileJobSpec back = job.spec;
      back.direction = Direction::Decrypt;
      back.input = out_;
      back.output = dir_.File("back");
      back.stopAtPercent = -1;
      const testing_support::FileJobResult returned = testing_support::RunFileJob(back);
      EXPECT_EQ(returned.stopFlag, engine::kRunning);
      EXPECT_TRUE(testing_support::ReadFileBytes(back.output) == job.input) << "no round trip";
      ++tally_.roundTrips;
    }
  }
  printf(
      "soak: %d jobs (seed %llu): %d refused, %d faults injected (%d failures, %d retried "
      "transfers), %d aborts, %d wrong tags, %d round trips\n",
      tally_.jobs, static_cast<unsigned long long>(seed), tally_.refused, tally_.faultsFired,
      tally_.failures, tally_.retried, tally_.aborts, tally_.wrongTags, tally_.roundTrips);
  RecordProperty("jobs", tally_.jobs);
  RecordProperty("faults", tally_.faultsFired);
}

}  // namespace
