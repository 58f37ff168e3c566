// The chunked file job through real files: the preparation's refusals and their order, what a
// run leaves on disk, I/O failures injected under the file layer, progress and abort.
#include "engine/job.h"

#include <stdio.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "engine/file.h"
#include "engine/modes.h"
#include "tests/support/fault_injection.h"
#include "tests/support/job_runner.h"
#include "tests/support/test_files.h"

namespace engine {
// Status codes print as their numbers in failure messages.
inline void PrintTo(JobStatus status, std::ostream* out) {
  *out << static_cast<int>(status);
}
}  // namespace engine

namespace {

using engine::CipherMode;
using engine::Direction;
using engine::Disposition;
using engine::JobHost;
using engine::JobKind;
using engine::JobStatus;
using testing_support::Bytes;
using testing_support::Fault;
using testing_support::FaultPlan;
using testing_support::FileExists;
using testing_support::FileJobResult;
using testing_support::FileJobSpec;
using testing_support::FileSize;
using testing_support::RandomBytes;
using testing_support::ReadFileBytes;
using testing_support::RunFileJob;
using testing_support::ScopedFileIo;
using testing_support::WriteFileBytes;
using enum engine::CipherMode;
using enum engine::Direction;
using enum engine::Disposition;
using enum engine::JobHost;
using enum engine::JobKind;
using enum engine::JobStatus;
using enum testing_support::Fault;

constexpr uint64_t kChunk = engine::kChunkSize;
constexpr uint64_t kMiB = 1048576;

FileJobSpec JobFor(JobHost host, CipherMode mode, Direction direction, const std::string& input,
                   const std::string& output) {
  return {.host = host,
          .direction = direction,
          .mode = mode,
          .key = RandomBytes(32, 101),
          .iv = RandomBytes(16, 102),
          .input = input,
          .output = output};
}

// A job record filled as RunFileJob fills it, for tests that act between the steps.
void FillJob(engine::CipherJob& job, const FileJobSpec& request) {
  job.host = request.host;
  job.kind = request.kind;
  job.header = &testing_support::kSealedHeader;
  job.direction = request.direction;
  job.mode = request.mode;
  job.disposition = request.disposition;
  std::copy(request.key.begin(), request.key.end(), job.key);
  std::copy(request.iv.begin(), request.iv.end(), job.iv);
  snprintf(job.inputPath, sizeof job.inputPath, "%s", request.input.c_str());
  snprintf(job.outputPath, sizeof job.outputPath, "%s", request.output.c_str());
}

// Random content up to a few MiB; beyond that a sparse file that takes no disk.
void MakeInput(const std::string& path, uint64_t size) {
  WriteFileBytes(path, size <= 4 * kMiB ? RandomBytes(size, 7) : Bytes());
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0);
}

// Blocks a key/IV job reads for n bytes of data.
uint64_t BlockCount(CipherMode mode, Direction direction, uint64_t n) {
  if (direction == Encrypt && engine::IsPaddedMode(mode)) return n / 16 + 1;
  return (n + 15) / 16;
}

// What the first 16 bytes of a GCM encryption's output hold after a failed or aborted run.
enum Tag : uint8_t { kNoTag, kZeroTag, kTag };

// The output holds exactly `kept` bytes that agree with a fault-free run (behind the tag).
void ExpectKept(const Bytes& left, const Bytes& reference, uint64_t kept, Tag tag) {
  ASSERT_EQ(left.size(), kept) << "output left on disk";
  ASSERT_LE(kept, reference.size());
  const size_t from = tag == kNoTag ? 0 : 16;
  EXPECT_TRUE(std::equal(left.begin() + from, left.end(), reference.begin() + from))
      << "the kept output differs from a fault-free run";
  const bool zeroTag = std::count(left.begin(), left.begin() + std::min<size_t>(kept, 16), 0) == 16;
  EXPECT_TRUE(tag == kNoTag || zeroTag == (tag == kZeroTag)) << "tag written: " << !zeroTag;
}

class JobTest : public ::testing::Test {
 protected:
  // The hardware pair where the processor has AES; the software pair stays otherwise.
  void SetUp() override { testing_support::UseBackend(true); }
  void TearDown() override {
    EXPECT_EQ(testing_support::OpenDescriptorCount(), descriptors_) << "a descriptor was left open";
  }

  void EncryptInto(CipherMode mode, const Bytes& plain, const std::string& path) {
    WriteFileBytes(dir_.File("scratch"), plain);
    ASSERT_EQ(RunFileJob(JobFor(Console, mode, Encrypt, dir_.File("scratch"), path)).status,
              EncryptionComplete);
  }

  // Writes the input of a job over `size` random bytes to in_ (encrypted for a decryption) and
  // returns what the job leaves without faults.
  Bytes PrepareInput(JobHost host, CipherMode mode, Direction direction, uint64_t size) {
    const Bytes plain = RandomBytes(size, size);
    if (direction == Decrypt) {
      EncryptInto(mode, plain, in_);
    } else {
      WriteFileBytes(in_, plain);
    }
    EXPECT_EQ(RunFileJob(JobFor(host, mode, direction, in_, dir_.File("ref"))).stopFlag,
              engine::kRunning);
    return ReadFileBytes(dir_.File("ref"));
  }

  testing_support::TempDir dir_;
  const std::string in_ = dir_.File("in");
  const std::string out_ = dir_.File("out");
  const int descriptors_ = testing_support::OpenDescriptorCount();
};

template <typename Case>
class JobTableTest : public JobTest, public ::testing::WithParamInterface<Case> {};

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// ---------------------------------------------------------------------------------------------
// PrepareJobFiles: each refusal, in order, and what it leaves on disk.

// kV0..kV2: a file whose first byte (a sealed file's version) is 0, 1 or 2.
enum Input : uint8_t { kMissing, kDir, kDevice, kFile, kV0, kV1, kV2 };
enum Output : uint8_t { kFresh, kExisting, kNoFolder, kOutDir, kSamePath, kSymlink, kDirLink };

struct PrepareCase {
  const char* name;
  JobKind kind;
  Direction direction;
  CipherMode mode;
  Input in;
  uint64_t size;
  Output out;
  Disposition disposition;
  std::optional<JobStatus> expected;  // nullopt: the files are prepared
};

constexpr uint64_t kLimit = engine::kMaxGcmEncryptBytes, kOver = kLimit + 1;
constexpr auto kPrepared = std::nullopt;

// A row whose output already exists, is in a missing folder or is the input shows that its
// refusal comes before the output step.
// clang-format off
const PrepareCase kPrepareCases[] = {
    {"MissingInputBeforeExisting",       KeyIv,  Encrypt, Cbc,  kMissing, 0,      kExisting, CreateAlways, InputUnreadable},
    {"DirectoryInput",                   KeyIv,  Encrypt, Ctr,  kDir,     0,      kFresh,    CreateNew,    InputUnreadable},
    {"DeviceInput",                      KeyIv,  Encrypt, Ctr,  kDevice,  0,      kFresh,    CreateNew,    InputUnreadable},
    {"EmptyGcmDecryptionBeforeExisting", KeyIv,  Decrypt, Gcm,  kFile,    0,      kExisting, CreateAlways, InputEmpty},
    {"EmptySealedEncryption",            Sealed, Encrypt, Gcm,  kFile,    0,      kFresh,    CreateNew,    InputEmpty},
    {"Cfb33DecryptionBeforeExisting",    KeyIv,  Decrypt, Cfb,  kFile,    33,     kExisting, CreateNew,    NotMultipleOf16},
    {"Pcbc33DecryptionBeforeSameFile",   KeyIv,  Decrypt, Pcbc, kFile,    33,     kSamePath, CreateAlways, NotMultipleOf16},
    {"Cbc32Decryption",                  KeyIv,  Decrypt, Cbc,  kFile,    32,     kFresh,    CreateNew,    kPrepared},
    {"Ofb33Decryption",                  KeyIv,  Decrypt, Ofb,  kFile,    33,     kFresh,    CreateNew,    kPrepared},
    {"Gcm16DecryptionBeforeNoFolder",    KeyIv,  Decrypt, Gcm,  kFile,    16,     kNoFolder, CreateNew,    TooSmallForTag},
    {"Gcm17Decryption",                  KeyIv,  Decrypt, Gcm,  kFile,    17,     kFresh,    CreateNew,    kPrepared},
    {"Gcm16Encryption",                  KeyIv,  Encrypt, Gcm,  kFile,    16,     kFresh,    CreateNew,    kPrepared},
    // An empty sealed file is too small, not empty.
    {"Sealed45Decryption",               Sealed, Decrypt, Gcm,  kV1,      45,     kFresh,    CreateNew,    TooSmallForHeader},
    {"SealedEmptyDecryption",            Sealed, Decrypt, Gcm,  kFile,    0,      kFresh,    CreateNew,    TooSmallForHeader},
    {"SealedFirstByte0BeforeNoFolder",   Sealed, Decrypt, Gcm,  kV0,      46,     kNoFolder, CreateNew,    NotV1Header},
    {"SealedFirstByte2",                 Sealed, Decrypt, Gcm,  kV2,      46,     kFresh,    CreateNew,    NotV1Header},
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
  std::string input = in_, output = out_;
  ASSERT_TRUE(c.in != kDir || mkdir(input.c_str(), 0700) == 0);
  if (c.in == kDevice) input = "/dev/null";
  if (c.in >= kFile) MakeInput(input, c.size);
  if (c.in > kFile) {
    Bytes bytes = ReadFileBytes(input);
    bytes[0] = static_cast<uint8_t>(c.in - kV0);
    WriteFileBytes(input, bytes);
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
  if (!c.expected) {
    ASSERT_TRUE(engine::PrepareJobFiles(job)) << "status " << static_cast<int>(job.status);
    EXPECT_EQ(lseek(job.input, 0, SEEK_CUR), 0) << "the input must be read from its start";
    // An existing output stays until the job has succeeded: the job writes a file beside it.
    const std::string written = c.out == kExisting ? job.partPath : output;
    EXPECT_EQ(FileSize(written), 0u) << "the output is empty after the space test";
    EXPECT_TRUE(c.out != kExisting || ReadFileBytes(output) == existing) << "the output changed";
    engine::DeleteJobOutput(job);
  } else {
    EXPECT_FALSE(engine::PrepareJobFiles(job));
    EXPECT_EQ(job.status, *c.expected);
    EXPECT_TRUE(c.out != kFresh || !FileExists(output)) << "nothing may be created";
    EXPECT_TRUE(c.out != kExisting || ReadFileBytes(output) == existing) << "the output changed";
    EXPECT_TRUE(c.out != kNoFolder || !FileExists(dir_.File("missing")));
    struct stat link;
    EXPECT_TRUE(c.out != kDirLink || (lstat(output.c_str(), &link) == 0 && S_ISLNK(link.st_mode)));
  }
  EXPECT_EQ(testing_support::PartFileCount(dir_.path()), 0);
  EXPECT_TRUE(c.in < kFile || FileSize(input) == c.size) << "the input was touched";
}

INSTANTIATE_TEST_SUITE_P(Job, PrepareTest, ::testing::ValuesIn(kPrepareCases),
                         CaseName<PrepareCase>);

// 22: the space test on a small file system deletes the output it created; one that existed
// stays as it was.
TEST_F(JobTest, NoSpaceDeletesOnlyWhatTheJobCreated) {
  const std::string small = dir_.File("small");
  ASSERT_EQ(mkdir(small.c_str(), 0700), 0);
  if (geteuid() != 0 || mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "mounting a 1 MiB tmpfs needs root";
  MakeInput(in_, 2 * kMiB);
  const Bytes old = RandomBytes(1000, 3);
  for (Disposition disposition : {CreateNew, CreateAlways}) {
    const std::string output = small + "/out";
    if (disposition == CreateAlways) WriteFileBytes(output, old);
    FileJobSpec request = JobFor(Console, Cbc, Encrypt, in_, output);
    request.disposition = disposition;
    EXPECT_EQ(RunFileJob(request).status, NoSpace);
    if (disposition == CreateAlways) {
      EXPECT_TRUE(ReadFileBytes(output) == old) << "an existing output must stay";
    } else {
      EXPECT_FALSE(FileExists(output)) << "the output must be deleted";
    }
    EXPECT_EQ(testing_support::PartFileCount(small), 0);
  }
  umount(small.c_str());
}

// ---------------------------------------------------------------------------------------------
// What a run leaves.

// Exact sizes across chunk boundaries, a private output, and decryption gives the input back.
TEST_F(JobTest, RunLeavesExactlyTheBytesAndDecryptionRestoresThem) {
  const struct {
    CipherMode mode;
    uint64_t size, encrypted;
  } kCases[] = {
      {Ecb, 1, 16},
      {Cbc, 16, 32},
      {Cfb, kChunk, kChunk + 16},
      {Cbc, 3 * kChunk + 5, 3 * kChunk + 16},
      {Pcbc, 2 * kChunk, 2 * kChunk + 16},
      {Ctr, kChunk + 1, kChunk + 1},
      {Ofb, 2 * kChunk + 5, 2 * kChunk + 5},
      {Gcm, 17, 33},
      {Gcm, kChunk, kChunk + 16},
      {Gcm, 2 * kChunk + 5, 2 * kChunk + 21},
  };
  const std::string encrypted = dir_.File("enc");
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "mode " << static_cast<int>(c.mode) << ", " << c.size);
    const Bytes plain = RandomBytes(c.size, c.size);
    WriteFileBytes(in_, plain);
    WriteFileBytes(encrypted, RandomBytes(300000, 5));  // replaced, so it must shrink
    EXPECT_EQ(RunFileJob(JobFor(Console, c.mode, Encrypt, in_, encrypted)).status,
              EncryptionComplete);
    EXPECT_EQ(FileSize(encrypted), c.encrypted);
    EXPECT_EQ(RunFileJob(JobFor(Console, c.mode, Decrypt, encrypted, out_)).status,
              DecryptionComplete);
    EXPECT_TRUE(ReadFileBytes(out_) == plain) << "decryption did not restore the input";
    struct stat info;
    ASSERT_EQ(stat(out_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "outputs are private to their owner";
  }
}

// Padded decryption trims by the value of the last byte alone, and only when it is 1 to 16.
// Cutting the padding block off a ciphertext leaves one whose plaintext ends in a chosen byte.
TEST_F(JobTest, PaddedDecryptionTrimsOnlyByALastByteOfOneToSixteen) {
  const struct {
    uint8_t last;
    size_t kept;
  } kTrims[] = {{0x00, 32}, {0x01, 31}, {0x10, 16}, {0x11, 32}};
  for (CipherMode mode : {Cbc, Cfb}) {
    for (const auto& trim : kTrims) {
      SCOPED_TRACE(::testing::Message() << "mode " << static_cast<int>(mode) << ", last byte "
                                        << static_cast<int>(trim.last));
      Bytes plain = RandomBytes(32, trim.last);
      plain[31] = trim.last;
      EncryptInto(mode, plain, in_);
      Bytes cipher = ReadFileBytes(in_);
      cipher.resize(32);
      WriteFileBytes(in_, cipher);
      EXPECT_EQ(RunFileJob(JobFor(Console, mode, Decrypt, in_, out_)).status, DecryptionComplete);
      EXPECT_TRUE(ReadFileBytes(out_) == Bytes(plain.begin(), plain.begin() + trim.kept));
    }
  }
}

// 3: a wrong GCM tag keeps the whole plaintext (console) or raises StopFlag 2 (window); a tag and
// one byte is enough to run.
TEST_F(JobTest, WrongGcmTagKeepsThePlaintextAndSaysSo) {
  const Bytes plain = RandomBytes(1000, 9);
  EncryptInto(Gcm, plain, in_);
  Bytes damaged = ReadFileBytes(in_);
  damaged[3] ^= 0x40;
  WriteFileBytes(in_, damaged);

  EXPECT_EQ(RunFileJob(JobFor(Console, Gcm, Decrypt, in_, out_)).status, WrongTag);
  EXPECT_TRUE(ReadFileBytes(out_) == plain);
  FileJobResult window = RunFileJob(JobFor(Window, Gcm, Decrypt, in_, dir_.File("window")));
  EXPECT_EQ(window.stopFlag, engine::kWrongTag);
  EXPECT_EQ(window.ioError, engine::kNoIoError);
  EXPECT_TRUE(ReadFileBytes(dir_.File("window")) == plain);

  WriteFileBytes(in_, RandomBytes(17, 17));
  unlink(out_.c_str());
  EXPECT_EQ(RunFileJob(JobFor(Console, Gcm, Decrypt, in_, out_)).status, WrongTag);
  EXPECT_EQ(FileSize(out_), 1u);
}

// ---------------------------------------------------------------------------------------------
// I/O failures injected under the file layer. The console stops at once and writes nothing more
// (no GCM tag); the window raises StopFlag and IoError, and a GCM encryption still writes its tag.
// Retried short transfers and interruptions must not show at all.

enum Side : uint8_t { kRead, kWrite, kClose };  // kClose: the output's close reports EIO

struct IoFaultCase {
  const char* name;
  JobHost host;
  CipherMode mode;
  Direction direction;
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
    {"ConsoleEofMidChunk",     Console, Cbc, Encrypt, kN,      kRead,  EndOfFile,  kC1 + 9, kC1,     kNoTag},
    {"ConsolePadBlockUnread",  Console, Cbc, Encrypt, kC1 + 5, kRead,  Fail,       kC1,     kC1,     kNoTag},
    {"ConsoleGcmReadFails",    Console, Gcm, Encrypt, kN,      kRead,  Fail,       kC1,     kG1,     kZeroTag},
    {"ConsoleGcmTagRead",      Console, Gcm, Decrypt, kN,      kRead,  Fail,       0,       0,       kNoTag},
    {"ConsoleHalfRead",        Console, Cbc, Encrypt, kN,      kRead,  Partial,    kC1,     kDone,   kNoTag},
    {"ConsoleReadEintr",       Console, Cbc, Encrypt, kN,      kRead,  Interrupt,  kC1,     kDone,   kNoTag},
    {"ConsoleWriteFails",      Console, Cbc, Encrypt, kN,      kWrite, Fail,       kC1,     kC1,     kNoTag},
    {"ConsoleLastWriteFails",  Console, Cbc, Encrypt, kN,      kWrite, Fail,       kC2,     kC2,     kNoTag},
    {"ConsoleLastWriteStalls", Console, Cbc, Decrypt, kN,      kWrite, NoProgress, kC2,     kC2,     kNoTag},
    {"ConsoleGcmLastWrite",    Console, Gcm, Encrypt, kN,      kWrite, Fail,       kG2,     kG2,     kZeroTag},
    {"ConsoleGcmTagWrite",     Console, Gcm, Encrypt, kN,      kWrite, Fail,       kTagAt,  16 + kN, kZeroTag},
    {"ConsoleGcmPlaceholder",  Console, Gcm, Encrypt, kN,      kWrite, Fail,       0,       0,       kNoTag},
    {"ConsoleHalfWrite",       Console, Cbc, Encrypt, kN,      kWrite, Partial,    kC1,     kDone,   kNoTag},
    {"ConsoleWriteEintr",      Console, Cbc, Encrypt, kN,      kWrite, Interrupt,  kC1,     kDone,   kNoTag},
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
  const Bytes reference = PrepareInput(c.host, c.mode, c.direction, c.size);
  FaultPlan plan;
  plan.closeFails = c.side == kClose;
  if (c.side == kRead) {
    plan.readFault = c.fault;
    plan.readAt = c.at;
  } else if (c.side == kWrite) {
    plan.writeFault = c.fault;
    plan.writeAt = c.at == kTagAt ? 0 : c.at;
    plan.writeOccurrence = c.at == kTagAt ? 2 : 1;
  }
  FileJobResult result;
  testing_support::FaultLog log;
  {
    ScopedFileIo io(plan);
    result = RunFileJob(JobFor(c.host, c.mode, c.direction, in_, out_));
    log = io.log();
  }
  ASSERT_TRUE(result.prepared);
  ASSERT_GE(log.faultsFired, 1) << "the fault was never reached";
  if (c.kept == kDone) {
    EXPECT_EQ(result.stopFlag, engine::kRunning);
    EXPECT_TRUE(ReadFileBytes(out_) == reference) << "the output differs from a fault-free run";
    return;
  }
  if (c.host == Console) {
    EXPECT_EQ(result.status, c.side == kRead ? InputUnreadable : OutputUnwritable);
    EXPECT_EQ(log.writesAfterFault, 0) << "the console wrote after the failure";
  } else {
    EXPECT_EQ(result.stopFlag, engine::kStopRequested);
    EXPECT_EQ(result.ioError, c.side == kRead ? engine::kReadFailed : engine::kWriteFailed);
  }
  ExpectKept(ReadFileBytes(out_), reference, c.kept, c.tag);
}

INSTANTIATE_TEST_SUITE_P(Job, IoFaultTest, ::testing::ValuesIn(kIoFaultCases),
                         CaseName<IoFaultCase>);

// ---------------------------------------------------------------------------------------------
// Progress.

TEST(FormatPercent, ThreeDigitsWithLeadingZeros) {
  const struct {
    uint8_t percent;
    const char* text;
  } kCases[] = {{0, "000#"}, {7, "007#"}, {42, "042#"}, {100, "100#"}};
  for (const auto& c : kCases) {
    char digits[4] = {'x', 'x', 'x', '#'};
    engine::FormatPercent(c.percent, digits);
    EXPECT_EQ(std::string(digits, 4), c.text);
  }
}

// Below 1616 bytes every block is a percent step: a padded encryption of 1600 bytes, or any of
// 1601 to 1615, has 101 blocks, and the step after 100 must not show.
TEST_F(JobTest, PercentNeverPassesHundredWhenEveryBlockIsAStep) {
  for (CipherMode mode : {Cbc, Gcm}) {
    for (uint64_t n : {1599, 1600, 1615}) {
      SCOPED_TRACE(::testing::Message() << "mode " << static_cast<int>(mode) << ", " << n);
      WriteFileBytes(in_, RandomBytes(n, 4));
      FileJobResult result = RunFileJob(JobFor(Window, mode, Encrypt, in_, out_));
      EXPECT_LE(result.maxPercent, 100);
      EXPECT_EQ(result.lastPercent, std::min<uint64_t>(BlockCount(mode, Encrypt, n), 100));
    }
  }
}

// The console shows progress only above 64 MiB. The inputs are sparse and emulated under the file
// layer, and the output is discarded, so nothing large is read or written.
TEST_F(JobTest, ConsoleReportsProgressOnlyAbove64MiB) {
  for (uint64_t size : {64 * kMiB, 64 * kMiB + 1}) {
    SCOPED_TRACE(size);
    MakeInput(in_, size);
    FaultPlan plan;
    plan.emulateInput = plan.discardOutput = true;
    FileJobResult result;
    {
      ScopedFileIo io(plan);
      result = RunFileJob(JobFor(Console, Ctr, Encrypt, in_, out_));
    }
    EXPECT_EQ(result.status, EncryptionComplete);
    EXPECT_EQ(result.progressReports, size > 64 * kMiB ? 100 : 0);
    EXPECT_EQ(result.lastPercent, size > 64 * kMiB ? 100 : 0);
  }
}

// ---------------------------------------------------------------------------------------------
// Abort: the window's StopFlag, raised from the progress report, ends the run before the next
// block. A GCM encryption still writes its tag; a GCM decryption gives no verdict.

struct StopAt {
  engine::CipherJob* job;
  uint8_t percent;
  int reports;
};

TEST_F(JobTest, AbortStopsBeforeTheNextBlock) {
  const struct {
    CipherMode mode;
    Direction direction;
    uint64_t size;
    uint8_t stopAt;  // percent whose report raises StopFlag; 0: raised before the run
    uint64_t kept;
    Tag tag;
  } kCases[] = {
      {Cbc, Encrypt, 1600, 100, 0, kNoTag},  // 101 blocks: the last one stays unread
      {Cbc, Decrypt, 3 * kChunk + 5, 50, kChunk, kNoTag},
      {Gcm, Encrypt, 1600, 0, 16, kTag},
      {Gcm, Encrypt, 3 * kChunk + 5, 50, 16 + kChunk, kTag},
      {Gcm, Decrypt, 3 * kChunk + 5, 50, kChunk, kNoTag},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "case " << &c - kCases);
    const Bytes reference = PrepareInput(Window, c.mode, c.direction, c.size);
    const uint64_t inputSize = FileSize(in_);
    unlink(out_.c_str());  // an aborted job leaves an existing output as it was
    engine::CipherJob job;
    FillJob(job, JobFor(Window, c.mode, c.direction, in_, out_));
    StopAt stop{&job, c.stopAt, 0};
    job.onProgress = [](const engine::CipherJob& reported, void* context) {
      auto* s = static_cast<StopAt*>(context);
      ++s->reports;
      if (reported.percent.load() == s->percent) s->job->stopFlag.store(engine::kStopRequested);
    };
    job.progressContext = &stop;
    ASSERT_TRUE(engine::PrepareJobFiles(job));
    if (c.stopAt == 0) job.stopFlag.store(engine::kStopRequested);
    engine::RunCipherJob(job);
    engine::CloseJobFiles(job);

    EXPECT_EQ(job.stopFlag.load(), engine::kStopRequested) << "an abort is not a verdict";
    EXPECT_EQ(job.ioError, engine::kNoIoError);
    EXPECT_EQ(stop.reports, c.stopAt) << "progress went on after the abort";
    const uint64_t data = c.direction == Decrypt && c.mode == Gcm ? inputSize - 16 : inputSize;
    EXPECT_EQ(job.blocksRemaining,
              BlockCount(c.mode, c.direction, data) - c.stopAt * (inputSize / 1616 + 1))
        << "blocks were read after the abort";
    ExpectKept(ReadFileBytes(out_), reference, c.kept, c.tag);
  }
}

}  // namespace
