// The chunked file job through real files: the preparation's refusals and their order, and I/O
// failures injected under the file layer at the chunk and tag boundaries. What a fault-free run
// writes is proven against OpenSSL and the published vectors; aborts and faults at random
// places by the soak test.
#include "engine/job.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/fault_injection.h"
#include "tests/support/job_runner.h"

namespace {

using namespace testing_support;
using enum engine::CipherMode;
using enum engine::Direction;
using enum engine::Disposition;
using enum engine::JobHost;
using enum engine::JobKind;
using enum engine::JobStatus;
using enum Fault;

constexpr uint64_t kChunk = engine::kChunkSize;

FileJobSpec JobFor(engine::JobHost host, engine::CipherMode mode, engine::Direction direction,
                   const std::string& input, const std::string& output) {
  FileJobSpec spec;
  spec.host = host, spec.direction = direction, spec.mode = mode, spec.input = input;
  spec.key = RandomBytes(32, 1), spec.iv = RandomBytes(16, 2), spec.output = output;
  return spec;
}

class JobTest : public ::testing::Test {
 protected:
  void SetUp() override { UseBackend(true); }  // where the processor has AES
  void TearDown() override {
    EXPECT_EQ(OpenDescriptorCount(), descriptors_) << "a descriptor was left open";
    EXPECT_EQ(PartFileCount(dir_.path()), 0);
  }

  TempDir dir_;
  const std::string in_ = dir_.File("in"), out_ = dir_.File("out");
  const int descriptors_ = OpenDescriptorCount();
};

template <typename Case>
class JobTableTest : public JobTest, public ::testing::WithParamInterface<Case> {};
const auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

// PrepareJobFiles: each refusal, in order, and what it leaves on disk. A row whose output already
// exists, is in a missing folder or is the input shows that its refusal comes before the output
// step. kV0..kV2: a file whose first byte (a sealed file's version) is 0, 1 or 2.

enum Input : uint8_t { kMissing, kDir, kDevice, kFile, kV0, kV1, kV2 };
enum Output : uint8_t { kFresh, kExisting, kNoFolder, kOutDir, kSamePath, kSymlink, kDirLink };

struct PrepareCase {
  const char* name;
  engine::JobKind kind;
  engine::Direction direction;
  engine::CipherMode mode;
  Input in;
  uint64_t size;
  Output out;
  engine::Disposition disposition;
  std::optional<engine::JobStatus> expected;  // nullopt: the files are prepared
};

constexpr uint64_t kLimit = engine::kMaxGcmEncryptBytes, kOver = kLimit + 1;
constexpr auto kPrepared = std::nullopt;

// clang-format off
const PrepareCase kPrepareCases[] = {
    {"MissingInputBeforeExisting",       KeyIv,  Encrypt, Cbc,  kMissing, 0,      kExisting, CreateAlways, InputUnreadable},
    {"DeviceInput",                      KeyIv,  Encrypt, Ctr,  kDevice,  0,      kFresh,    CreateNew,    InputUnreadable},
    {"EmptyGcmDecryptionBeforeExisting", KeyIv,  Decrypt, Gcm,  kFile,    0,      kExisting, CreateAlways, InputEmpty},
    {"Cfb33DecryptionBeforeExisting",    KeyIv,  Decrypt, Cfb,  kFile,    33,     kExisting, CreateNew,    NotMultipleOf16},
    {"Pcbc33DecryptionBeforeSameFile",   KeyIv,  Decrypt, Pcbc, kFile,    33,     kSamePath, CreateAlways, NotMultipleOf16},
    {"Cbc32Decryption",                  KeyIv,  Decrypt, Cbc,  kFile,    32,     kFresh,    CreateNew,    kPrepared},
    {"Ofb33Decryption",                  KeyIv,  Decrypt, Ofb,  kFile,    33,     kFresh,    CreateNew,    kPrepared},
    {"Gcm16DecryptionBeforeNoFolder",    KeyIv,  Decrypt, Gcm,  kFile,    16,     kNoFolder, CreateNew,    TooSmallForTag},
    {"Gcm17Decryption",                  KeyIv,  Decrypt, Gcm,  kFile,    17,     kFresh,    CreateNew,    kPrepared},
    {"Gcm16Encryption",                  KeyIv,  Encrypt, Gcm,  kFile,    16,     kFresh,    CreateNew,    kPrepared},
    {"Sealed45Decryption",               Sealed, Decrypt, Gcm,  kV1,      45,     kFresh,    CreateNew,    TooSmallForHeader},
    {"SealedFirstByte0BeforeNoFolder",   Sealed, Decrypt, Gcm,  kV0,      46,     kNoFolder, CreateNew,    NotV1Header},
    {"SealedFirstByte1",                 Sealed, Decrypt, Gcm,  kV1,      46,     kFresh,    CreateNew,    kPrepared},
    {"ExistingOutputCreateNew",          KeyIv,  Encrypt, Cbc,  kFile,    100,    kExisting, CreateNew,    OutputUnwritable},
    {"OutputIsADirectory",               KeyIv,  Encrypt, Cbc,  kFile,    100,    kOutDir,   CreateAlways, OutputUnwritable},
    {"ExistingOutputCreateAlways",       KeyIv,  Encrypt, Cbc,  kFile,    100,    kExisting, CreateAlways, kPrepared},
    {"SamePathCreateNew",                KeyIv,  Encrypt, Cbc,  kFile,    100,    kSamePath, CreateNew,    SameFile},
    {"SymlinkCreateAlways",              KeyIv,  Decrypt, Gcm,  kFile,    100,    kSymlink,  CreateAlways, SameFile},
    {"LinkToAFolderCreateAlways",        KeyIv,  Encrypt, Cbc,  kFile,    100,    kDirLink,  CreateAlways, OutputUnwritable},
    // GCM encryption past (2^32 - 2) blocks (sparse inputs); the others reach the output step.
    {"GcmOverLimitBeforeExisting",       KeyIv,  Encrypt, Gcm,  kFile,    kOver,  kExisting, CreateAlways, TooLargeForGcm},
    {"GcmEncryptionAtLimit",             KeyIv,  Encrypt, Gcm,  kFile,    kLimit, kNoFolder, CreateNew,    OutputUnwritable},
    {"GcmDecryptionOverLimit",           KeyIv,  Decrypt, Gcm,  kFile,    kOver,  kNoFolder, CreateNew,    OutputUnwritable},
    {"CtrEncryptionOverLimit",           KeyIv,  Encrypt, Ctr,  kFile,    kOver,  kNoFolder, CreateNew,    OutputUnwritable},
};
// clang-format on

using PrepareTest = JobTableTest<PrepareCase>;

TEST_P(PrepareTest, RefusesInOrderAndLeavesTheDiskAlone) {
  const PrepareCase& c = GetParam();
  std::string input = c.in == kDevice ? "/dev/null" : in_, output = out_;
  ASSERT_TRUE(c.in != kDir || mkdir(input.c_str(), 0700) == 0);
  if (c.in >= kFile) {  // sparse beyond the first byte, the version for kV0..kV2
    WriteFileBytes(input, Bytes(c.size > 0, static_cast<uint8_t>(c.in - kV0)));
    ASSERT_EQ(truncate(input.c_str(), static_cast<off_t>(c.size)), 0);
  }
  const Bytes existing = RandomBytes(300, 8);
  if (c.out == kExisting) WriteFileBytes(output, existing);
  if (c.out == kNoFolder) output = dir_.File("missing/out");
  ASSERT_TRUE(c.out != kOutDir || mkdir(output.c_str(), 0700) == 0);
  if (c.out == kSamePath) output = dir_.path() + "/./in";
  ASSERT_TRUE(c.out != kSymlink || symlink(input.c_str(), output.c_str()) == 0);
  ASSERT_TRUE(c.out != kDirLink || symlink(dir_.path().c_str(), output.c_str()) == 0);

  FileJobSpec request = JobFor(Console, c.mode, c.direction, input, output);
  request.kind = c.kind;
  request.disposition = c.disposition;
  engine::CipherJob job;
  FillJob(job, request);
  EXPECT_EQ(engine::PrepareJobFiles(job), !c.expected) << "status " << int(job.status);
  if (!c.expected) {
    EXPECT_EQ(lseek(job.input, 0, SEEK_CUR), 0) << "the input must be read from its start";
    // An existing output stays until the job has succeeded: the job writes a file beside it.
    EXPECT_EQ(FileSize(c.out == kExisting ? job.partPath : output), 0u) << "after the space test";
    engine::DeleteJobOutput(job);
  } else {
    EXPECT_EQ(job.status, *c.expected);
    EXPECT_TRUE(c.out != kFresh || !FileExists(output)) << "nothing may be created";
    EXPECT_TRUE(c.out != kNoFolder || !FileExists(dir_.File("missing")));
    struct stat link;
    EXPECT_TRUE(c.out != kDirLink || (lstat(output.c_str(), &link) == 0 && S_ISLNK(link.st_mode)));
  }
  EXPECT_TRUE(c.out != kExisting || ReadFileBytes(output) == existing) << "the output changed";
  EXPECT_TRUE(c.in < kFile || FileSize(input) == c.size) << "the input was touched";
}

INSTANTIATE_TEST_SUITE_P(Job, PrepareTest, ::testing::ValuesIn(kPrepareCases), kCaseName);

// I/O failures injected under the file layer. The console stops at once and writes nothing more
// (no GCM tag); the window raises StopFlag and IoError, and a GCM encryption still writes its tag.
// A retried short transfer or interruption must not show at all.

enum Side : uint8_t { kRead, kWrite, kClose };  // kClose: the output's close reports EIO
enum Tag : uint8_t { kNoTag, kZeroTag, kTag };  // a GCM encryption's first 16 bytes afterwards

struct IoFaultCase {
  const char* name;
  engine::JobHost host;
  engine::CipherMode mode;
  engine::Direction direction;
  uint64_t size;  // plaintext bytes
  Side side;
  Fault fault;
  uint64_t at;    // file position of the faulty call, or kTagAt
  uint64_t kept;  // output bytes left on disk, or kDone
  Tag tag;
};

constexpr uint64_t kN = 2 * kChunk + 100;  // three chunks, the last one short
constexpr uint64_t kC1 = kChunk, kC2 = 2 * kChunk;
constexpr uint64_t kG1 = 16 + kC1, kG2 = 16 + kC2;  // the same behind a GCM encryption's tag
constexpr uint64_t kTagAt = ~uint64_t{1};  // the second write at 0: the tag after its placeholder
constexpr uint64_t kDone = ~uint64_t{0};   // the run ends normally with the fault-free output

// clang-format off
const IoFaultCase kIoFaultCases[] = {
    {"ConsoleReadFails",       Console, Cbc, Encrypt, kN,      kRead,  Fail,       kC1,     kC1,     kNoTag},
    {"ConsolePadBlockUnread",  Console, Cbc, Encrypt, kC1 + 5, kRead,  Fail,       kC1,     kC1,     kNoTag},
    {"ConsoleGcmReadFails",    Console, Gcm, Encrypt, kN,      kRead,  Fail,       kC1,     kG1,     kZeroTag},
    {"ConsoleGcmTagRead",      Console, Gcm, Decrypt, kN,      kRead,  Fail,       0,       0,       kNoTag},
    {"ConsoleWriteFails",      Console, Cbc, Encrypt, kN,      kWrite, Fail,       kC1,     kC1,     kNoTag},
    {"ConsoleLastWriteStalls", Console, Cbc, Decrypt, kN,      kWrite, NoProgress, kC2,     kC2,     kNoTag},
    {"ConsoleGcmLastWrite",    Console, Gcm, Encrypt, kN,      kWrite, Fail,       kG2,     kG2,     kZeroTag},
    {"ConsoleGcmTagWrite",     Console, Gcm, Encrypt, kN,      kWrite, Fail,       kTagAt,  16 + kN, kZeroTag},
    {"ConsoleGcmPlaceholder",  Console, Gcm, Encrypt, kN,      kWrite, Fail,       0,       0,       kNoTag},
    {"WindowReadFails",        Window,  Cbc, Encrypt, kN,      kRead,  Fail,       kC1,     kC1,     kNoTag},
    {"WindowGcmReadFails",     Window,  Gcm, Encrypt, kN,      kRead,  Fail,       kC1,     kG1,     kTag},
    {"WindowGcmLastWrite",     Window,  Gcm, Encrypt, kN,      kWrite, Fail,       kG2,     kG2,     kTag},
    {"WindowGcmDecryptReads",  Window,  Gcm, Decrypt, kN,      kRead,  Fail,       kG1,     kC1,     kNoTag},
    {"ConsoleCloseFails",      Console, Ctr, Encrypt, kN,      kClose, Fail,       0,       kN,      kNoTag},
    {"WindowCloseFails",       Window,  Ctr, Encrypt, kN,      kClose, Fail,       0,       kN,      kNoTag},
};
// clang-format on

using IoFaultTest = JobTableTest<IoFaultCase>;

TEST_P(IoFaultTest, FailureEndsTheJobAsItsHostWants) {
  const IoFaultCase& c = GetParam();
  // The input (encrypted first for a decryption) and what the job leaves without faults.
  WriteFileBytes(in_, RandomBytes(c.size, c.size));
  if (c.direction == Decrypt) {
    ASSERT_EQ(RunFileJob(JobFor(Console, c.mode, Encrypt, in_, dir_.File("enc"))).status,
              EncryptionComplete);
    ASSERT_EQ(rename(dir_.File("enc").c_str(), in_.c_str()), 0);
  }
  ASSERT_EQ(RunFileJob(JobFor(c.host, c.mode, c.direction, in_, dir_.File("ref"))).stopFlag,
            engine::kRunning);
  const Bytes reference = ReadFileBytes(dir_.File("ref"));

  FaultPlan plan{.closeFails = c.side == kClose};
  (c.side == kRead ? plan.readFault : plan.writeFault) = c.side == kClose ? None : c.fault;
  (c.side == kRead ? plan.readAt : plan.writeAt) = c.at == kTagAt ? 0 : c.at;
  plan.writeOccurrence = c.at == kTagAt ? 2 : 1;
  FileJobResult result;
  FaultLog log;
  {
    ScopedFileIo io(plan);
    result = RunFileJob(JobFor(c.host, c.mode, c.direction, in_, out_));
    log = io.log();
  }
  ASSERT_TRUE(result.prepared);
  ASSERT_GE(log.faultsFired, 1) << "the fault was never reached";
  const Bytes left = ReadFileBytes(out_);
  if (c.kept == kDone) {
    EXPECT_EQ(result.stopFlag, engine::kRunning);
    EXPECT_TRUE(left == reference) << "the output differs from a fault-free run";
    return;
  }
  // What the console names on standard error: the file, and the reason of the failing call.
  EXPECT_EQ(result.faultFile,
            c.side == kRead ? engine::FaultFile::Input : engine::FaultFile::Output);
  EXPECT_EQ(result.faultCode, c.fault == NoProgress ? ENOSPC : EIO);
  if (c.host == Console) {
    EXPECT_EQ(result.status, c.side == kRead ? InputUnreadable : OutputUnwritable);
    EXPECT_EQ(log.writesAfterFault, 0) << "the console wrote after the failure";
  } else {
    EXPECT_EQ(result.stopFlag, engine::kStopRequested);
    EXPECT_EQ(result.ioError, c.side == kRead ? engine::kReadFailed : engine::kWriteFailed);
  }
  // Exactly `kept` bytes that agree with a fault-free run behind the tag; the tag as the host
  // wants.
  ASSERT_EQ(left.size(), c.kept) << "output left on disk";
  const size_t from = c.tag == kNoTag ? 0 : 16;
  EXPECT_TRUE(std::equal(left.begin() + from, left.end(), reference.begin() + from));
  const bool zeroTag =
      std::count(left.begin(), left.begin() + std::min<size_t>(c.kept, 16), 0) == 16;
  EXPECT_TRUE(c.tag == kNoTag || zeroTag == (c.tag == kZeroTag)) << "tag written: " << !zeroTag;
}

INSTANTIATE_TEST_SUITE_P(Job, IoFaultTest, ::testing::ValuesIn(kIoFaultCases), kCaseName);

// Below 1616 bytes every block is a percent step: a padded encryption of 1600 bytes has 101
// blocks, and the step after 100 must not show.
TEST_F(JobTest, PercentStopsAtHundredWhenEveryBlockIsAStep) {
  WriteFileBytes(in_, RandomBytes(1600, 4));
  const FileJobResult result = RunFileJob(JobFor(Window, Cbc, Encrypt, in_, out_));
  EXPECT_EQ(result.progressReports, 100);
  EXPECT_EQ(result.maxPercent, 100);
}

}  // namespace
