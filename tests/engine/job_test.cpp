// The chunked file job through real files: the preparation's refusals and their order, what a
// run leaves on disk, I/O failures injected under the file layer, progress and abort.
#include "engine/job.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "engine/file.h"
#include "engine/modes.h"
#include "engine/status.h"
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

constexpr uint64_t kChunk = engine::kChunkSize;
constexpr uint64_t kMiB = 1048576;
constexpr uint64_t kGcmLimit = engine::kMaxGcmEncryptBytes;  // 68,719,476,704
constexpr Direction kEnc = Direction::Encrypt;
constexpr Direction kDec = Direction::Decrypt;
constexpr JobHost kConsole = JobHost::Console;
constexpr JobHost kWindow = JobHost::Window;

void CopyPath(char (&target)[engine::kPathCapacity], const std::string& path) {
  memset(target, 0, sizeof target);
  memcpy(target, path.data(), std::min(path.size(), sizeof target - 1));
}

FileJobSpec JobFor(JobHost host, CipherMode mode, Direction direction, const std::string& input,
                   const std::string& output) {
  FileJobSpec request;
  request.host = host;
  request.mode = mode;
  request.direction = direction;
  request.key = RandomBytes(32, 101);
  request.iv = RandomBytes(16, 102);
  request.input = input;
  request.output = output;
  return request;
}

// A job record filled the way RunFileJob fills it, for tests that look between the steps.
void FillJob(engine::CipherJob& job, const FileJobSpec& request) {
  job.host = request.host;
  job.kind = request.kind;
  job.direction = request.direction;
  job.keySize = request.keySize;
  job.mode = request.mode;
  memcpy(job.key, request.key.data(), std::min(request.key.size(), sizeof job.key));
  memcpy(job.iv, request.iv.data(), std::min(request.iv.size(), sizeof job.iv));
  CopyPath(job.inputPath, request.input);
  CopyPath(job.outputPath, request.output);
  job.disposition = request.disposition;
}

// Random content up to a few MiB; beyond that a sparse file that takes no disk.
void MakeInput(const std::string& path, uint64_t size, uint64_t seed = 7) {
  if (size <= 4 * kMiB) {
    WriteFileBytes(path, RandomBytes(size, seed));
    return;
  }
  WriteFileBytes(path, {});
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0);
}

bool AllZero(const Bytes& bytes, size_t from, size_t to) {
  return std::all_of(bytes.begin() + static_cast<ptrdiff_t>(from),
                     bytes.begin() + static_cast<ptrdiff_t>(to), [](uint8_t b) { return b == 0; });
}

bool SamePrefix(const Bytes& a, const Bytes& b, size_t from, size_t to) {
  return a.size() >= to && b.size() >= to &&
         std::equal(a.begin() + static_cast<ptrdiff_t>(from),
                    a.begin() + static_cast<ptrdiff_t>(to),
                    b.begin() + static_cast<ptrdiff_t>(from));
}

// Blocks a key/IV job reads for n bytes of plaintext.
uint64_t BlockCount(CipherMode mode, Direction direction, uint64_t n) {
  if (direction == kEnc && engine::IsPaddedMode(mode)) return n / 16 + 1;
  return (n + 15) / 16;
}

// What the first 16 bytes of a GCM encryption's output hold after the job.
enum class Tag : uint8_t { NotGcm, Zero, Written };

class JobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::BuildTablesOnce();
    if (!testing_support::UseBackend(true)) {
      ASSERT_TRUE(testing_support::UseBackend(false));
    }
    descriptors_ = testing_support::OpenDescriptorCount();
  }
  void TearDown() override {
    engine::SetFileIoOverride(nullptr);
    EXPECT_EQ(testing_support::OpenDescriptorCount(), descriptors_)
        << "the job left a file descriptor open";
  }

  // Encrypts `plain` with the test key and IV and leaves the result at `path`.
  void EncryptInto(CipherMode mode, const Bytes& plain, const std::string& path) {
    std::string scratch = dir_.File("plain.scratch");
    WriteFileBytes(scratch, plain);
    FileJobResult result = RunFileJob(JobFor(kConsole, mode, kEnc, scratch, path));
    ASSERT_EQ(result.status, JobStatus::EncryptionComplete);
  }

  testing_support::TempDir dir_;
  int descriptors_ = 0;
};

template <typename Case>
class JobTableTest : public JobTest, public ::testing::WithParamInterface<Case> {};

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// ---------------------------------------------------------------------------------------------
// PrepareJobFiles: each refusal, in order, and what it leaves on disk.

// Inputs and outputs a preparation meets.
// kV0..kV2: a file whose first byte is 0, 1 or 2 (a sealed file's version byte).
enum In : uint8_t { kMissing, kDir, kDevice, kFifo, kFile, kV0, kV1, kV2 };
enum Out : uint8_t { kFresh, kExisting, kNoFolder, kOutDir, kSamePath, kHardLink, kSymlink };

// What the job is: key/IV or sealed, encryption or decryption.
struct Job {
  JobKind kind;
  Direction direction;
};
constexpr Job KE{JobKind::KeyIv, Direction::Encrypt};
constexpr Job KD{JobKind::KeyIv, Direction::Decrypt};
constexpr Job SE{JobKind::Sealed, Direction::Encrypt};
constexpr Job SD{JobKind::Sealed, Direction::Decrypt};

struct PrepareCase {
  const char* name;
  Job job;
  CipherMode mode;
  In in;
  uint64_t size;
  Out out;
  Disposition disposition;
  std::optional<JobStatus> expected;  // nullopt: the files are prepared
};

void PrintTo(const PrepareCase& c, std::ostream* out) {
  *out << c.name;
}

constexpr Disposition kNew = Disposition::CreateNew;
constexpr Disposition kAlways = Disposition::CreateAlways;
constexpr CipherMode kCbc = CipherMode::Cbc;
constexpr CipherMode kCtr = CipherMode::Ctr;
constexpr CipherMode kGcm = CipherMode::Gcm;
constexpr CipherMode kCfb = CipherMode::Cfb;
constexpr CipherMode kEcb = CipherMode::Ecb;
constexpr CipherMode kPcbc = CipherMode::Pcbc;
constexpr uint64_t kOver = kGcmLimit + 1;
constexpr auto kPrepared = std::nullopt;
constexpr auto kUnreadable = JobStatus::InputUnreadable;   // 15
constexpr auto kEmpty = JobStatus::InputEmpty;             // 16
constexpr auto kNot16x = JobStatus::NotMultipleOf16;       // 17
constexpr auto kTagOnly = JobStatus::TooSmallForTag;       // 18
constexpr auto kNoHeader = JobStatus::TooSmallForHeader;   // 19
constexpr auto kNotV1 = JobStatus::NotV1Header;            // 20
constexpr auto kUnwritable = JobStatus::OutputUnwritable;  // 21
constexpr auto kSame = JobStatus::SameFile;                // 12
constexpr auto kTooLarge = JobStatus::TooLargeForGcm;      // 23

// clang-format off
const PrepareCase kPrepareCases[] = {
    // The input is not a readable regular file: checked before anything else.
    {"MissingInput",               KE, kCbc,  kMissing, 0,         kFresh,    kNew,    kUnreadable},
    {"MissingInputBeforeExisting", KE, kCbc,  kMissing, 0,         kExisting, kAlways, kUnreadable},
    {"DirectoryInput",             KE, kCtr,  kDir,     0,         kFresh,    kNew,    kUnreadable},
    {"DeviceInput",                KE, kCtr,  kDevice,  0,         kFresh,    kNew,    kUnreadable},
    {"FifoInput",                  KE, kCtr,  kFifo,    0,         kFresh,    kNew,    kUnreadable},
    // Empty, before the mode's own size rules.
    {"EmptyCbcEncryption",         KE, kCbc,  kFile,    0,         kFresh,    kNew,    kEmpty},
    {"EmptyCbcDecryption",         KD, kCbc,  kFile,    0,         kFresh,    kNew,    kEmpty},
    {"EmptyGcmDecryption",         KD, kGcm,  kFile,    0,         kFresh,    kNew,    kEmpty},
    {"EmptyBeforeExisting",        KE, kCtr,  kFile,    0,         kExisting, kAlways, kEmpty},
    {"EmptySealedEncryption",      SE, kGcm,  kFile,    0,         kFresh,    kNew,    kEmpty},
    // Padded decryption of a size that is not a multiple of 16.
    {"Cbc33Decryption",            KD, kCbc,  kFile,    33,        kFresh,    kNew,    kNot16x},
    {"Cfb33Decryption",            KD, kCfb,  kFile,    33,        kFresh,    kNew,    kNot16x},
    {"Ecb33Decryption",            KD, kEcb,  kFile,    33,        kFresh,    kNew,    kNot16x},
    {"Pcbc33Decryption",           KD, kPcbc, kFile,    33,        kFresh,    kNew,    kNot16x},
    {"NotMultipleBeforeNoFolder",  KD, kCbc,  kFile,    33,        kNoFolder, kNew,    kNot16x},
    {"NotMultipleBeforeExisting",  KD, kCbc,  kFile,    33,        kExisting, kNew,    kNot16x},
    {"NotMultipleBeforeSameFile",  KD, kCbc,  kFile,    33,        kSamePath, kAlways, kNot16x},
    {"Cbc32Decryption",            KD, kCbc,  kFile,    32,        kFresh,    kNew,    kPrepared},
    {"Ctr33Decryption",            KD, kCtr,  kFile,    33,        kFresh,    kNew,    kPrepared},
    // A GCM decryption needs more than its tag.
    {"Gcm16Decryption",            KD, kGcm,  kFile,    16,        kFresh,    kNew,    kTagOnly},
    {"GcmTagOnlyBeforeNoFolder",   KD, kGcm,  kFile,    16,        kNoFolder, kNew,    kTagOnly},
    {"Gcm17Decryption",            KD, kGcm,  kFile,    17,        kFresh,    kNew,    kPrepared},
    {"Gcm16Encryption",            KE, kGcm,  kFile,    16,        kFresh,    kNew,    kPrepared},
    // The sealed file's header; an empty sealed file is too small, not empty.
    {"Sealed45Decryption",         SD, kGcm,  kV1,      45,        kFresh,    kNew,    kNoHeader},
    {"SealedEmptyDecryption",      SD, kGcm,  kFile,    0,         kFresh,    kNew,    kNoHeader},
    {"Sealed46FirstByte0",         SD, kGcm,  kV0,      46,        kFresh,    kNew,    kNotV1},
    {"Sealed46FirstByte2",         SD, kGcm,  kV2,      46,        kFresh,    kNew,    kNotV1},
    {"SealedHeaderBeforeNoFolder", SD, kGcm,  kV0,      46,        kNoFolder, kNew,    kNotV1},
    {"Sealed46FirstByte1",         SD, kGcm,  kV1,      46,        kFresh,    kNew,    kPrepared},
    // The output cannot be created.
    {"ExistingOutputCreateNew",    KE, kCbc,  kFile,    100,       kExisting, kNew,    kUnwritable},
    {"OutputInMissingFolder",      KE, kCbc,  kFile,    100,       kNoFolder, kAlways, kUnwritable},
    {"OutputIsADirectory",         KE, kCbc,  kFile,    100,       kOutDir,   kAlways, kUnwritable},
    {"ExistingOutputCreateAlways", KE, kCbc,  kFile,    100,       kExisting, kAlways, kPrepared},
    // The output is the input under another name: nothing is created or truncated.
    {"SamePathCreateNew",          KE, kCbc,  kFile,    100,       kSamePath, kNew,    kSame},
    {"SamePathCreateAlways",       KE, kCbc,  kFile,    100,       kSamePath, kAlways, kSame},
    {"HardLinkCreateAlways",       KE, kCtr,  kFile,    100,       kHardLink, kAlways, kSame},
    {"SymlinkCreateAlways",        KD, kGcm,  kFile,    100,       kSymlink,  kAlways, kSame},
    // GCM encryption past (2^32 - 2) blocks: after the other size rules, before the output is
    // created. Sparse inputs take no disk.
    {"GcmEncryptionOverLimit",     KE, kGcm,  kFile,    kOver,     kFresh,    kNew,    kTooLarge},
    {"GcmOverLimitBeforeExisting", KE, kGcm,  kFile,    kOver,     kExisting, kAlways, kTooLarge},
    {"SealedEncryptionOverLimit",  SE, kGcm,  kFile,    kOver,     kFresh,    kNew,    kTooLarge},
    // Sizes that pass the limit go on to the output step; a missing folder stops them there
    // without reserving 64 GiB.
    {"GcmEncryptionAtLimit",       KE, kGcm,  kFile,    kGcmLimit, kNoFolder, kNew,    kUnwritable},
    {"SealedEncryptionAtLimit",    SE, kGcm,  kFile,    kGcmLimit, kNoFolder, kNew,    kUnwritable},
    {"GcmDecryptionOverLimit",     KD, kGcm,  kFile,    kOver,     kNoFolder, kNew,    kUnwritable},
    {"CtrEncryptionOverLimit",     KE, kCtr,  kFile,    kOver,     kNoFolder, kNew,    kUnwritable},
};
// clang-format on

using PrepareTest = JobTableTest<PrepareCase>;

TEST_P(PrepareTest, RefusesInOrderAndLeavesTheDiskAlone) {
  const PrepareCase& c = GetParam();
  std::string input = dir_.File("in");
  std::string output = dir_.File("out");
  int fifoWriter = -1;
  switch (c.in) {
    case kMissing:
      break;
    case kDir:
      ASSERT_EQ(mkdir(input.c_str(), 0700), 0);
      break;
    case kDevice:
      input = "/dev/null";
      break;
    case kFifo:
      // Holding the write end keeps an open for reading from waiting for a writer.
      ASSERT_EQ(mkfifo(input.c_str(), 0600), 0);
      fifoWriter = open(input.c_str(), O_RDWR | O_NONBLOCK);
      ASSERT_GE(fifoWriter, 0);
      break;
    case kFile:
    case kV0:
    case kV1:
    case kV2:
      MakeInput(input, c.size);
      if (c.in != kFile) {
        int fd = open(input.c_str(), O_WRONLY);
        uint8_t version = static_cast<uint8_t>(c.in - kV0);
        ASSERT_EQ(pwrite(fd, &version, 1, 0), 1);
        close(fd);
      }
      break;
  }
  const Bytes existing = RandomBytes(300, 8);
  switch (c.out) {
    case kFresh:
      break;
    case kExisting:
      WriteFileBytes(output, existing);
      break;
    case kNoFolder:
      output = dir_.File("missing/out");
      break;
    case kOutDir:
      ASSERT_EQ(mkdir(output.c_str(), 0700), 0);
      break;
    case kSamePath:
      output = dir_.path() + "/./in";
      break;
    case kHardLink:
      ASSERT_EQ(link(input.c_str(), output.c_str()), 0);
      break;
    case kSymlink:
      ASSERT_EQ(symlink(input.c_str(), output.c_str()), 0);
      break;
  }
  const bool smallInput = c.in >= kFile && c.size <= 4 * kMiB;
  const Bytes inputBefore = smallInput ? ReadFileBytes(input) : Bytes();

  FileJobSpec request = JobFor(kConsole, c.mode, c.job.direction, input, output);
  request.kind = c.job.kind;
  request.disposition = c.disposition;
  engine::CipherJob job;
  FillJob(job, request);
  const bool prepared = engine::PrepareJobFiles(job);

  if (!c.expected) {
    ASSERT_TRUE(prepared) << "status " << static_cast<int>(job.status);
    EXPECT_EQ(job.blocksPerPercent, static_cast<uint32_t>(c.size / 1616) + 1u);
    EXPECT_EQ(lseek(job.input, 0, SEEK_CUR), 0) << "the input must be read from its start";
    EXPECT_EQ(FileSize(output), 0u) << "the output is empty after the space test";
    engine::CloseJobFiles(job);
    unlink(output.c_str());
  } else {
    EXPECT_FALSE(prepared);
    EXPECT_EQ(job.status, *c.expected);
    EXPECT_EQ(job.input, engine::kNoFile);
    EXPECT_EQ(job.output, engine::kNoFile);
    switch (c.out) {
      case kFresh:
        EXPECT_FALSE(FileExists(output)) << "nothing may be created";
        break;
      case kExisting:
        EXPECT_EQ(ReadFileBytes(output), existing) << "the existing output was changed";
        break;
      case kNoFolder:
        EXPECT_FALSE(FileExists(dir_.File("missing")));
        break;
      case kOutDir: {
        struct stat info;
        EXPECT_TRUE(stat(output.c_str(), &info) == 0 && S_ISDIR(info.st_mode));
        break;
      }
      case kSamePath:
      case kHardLink:
      case kSymlink:
        break;  // the input check below covers these
    }
    engine::CloseJobFiles(job);
  }
  if (smallInput) {
    EXPECT_EQ(ReadFileBytes(input), inputBefore) << "the input was touched";
  }
  if (c.in >= kFile && !smallInput) {
    EXPECT_EQ(FileSize(input), c.size);
  }
  if (fifoWriter >= 0) close(fifoWriter);
}

INSTANTIATE_TEST_SUITE_P(Job, PrepareTest, ::testing::ValuesIn(kPrepareCases),
                         CaseName<PrepareCase>);

// ---------------------------------------------------------------------------------------------
// 22: the space test on a small file system deletes the output it created.

class SmallTmpfs {
 public:
  explicit SmallTmpfs(const std::string& path) : path_(path) {
    if (mkdir(path.c_str(), 0700) == 0 && geteuid() == 0)
      mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=1m") == 0;
  }
  ~SmallTmpfs() {
    if (mounted_) umount(path_.c_str());
  }
  bool mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

TEST_F(JobTest, NoSpaceDeletesTheOutput) {
  SmallTmpfs small(dir_.File("small"));
  if (!small.mounted()) GTEST_SKIP() << "mounting a 1 MiB tmpfs needs root";
  std::string input = dir_.File("in");
  MakeInput(input, 2 * kMiB);
  for (Disposition disposition : {kNew, kAlways}) {
    SCOPED_TRACE(static_cast<int>(disposition));
    std::string output = dir_.File("small/out");
    if (disposition == kAlways) WriteFileBytes(output, RandomBytes(1000, 3));
    FileJobSpec request = JobFor(kConsole, CipherMode::Cbc, kEnc, input, output);
    request.disposition = disposition;
    FileJobResult result = RunFileJob(request);
    EXPECT_FALSE(result.prepared);
    EXPECT_EQ(result.status, JobStatus::NoSpace);
    EXPECT_FALSE(FileExists(output)) << "the output must be deleted";
  }
}

// ---------------------------------------------------------------------------------------------
// What a run leaves: exact sizes, and decryption gives the input back.

struct SizeCase {
  const char* name;
  CipherMode mode;
  uint64_t size;
  uint64_t encrypted;
};

void PrintTo(const SizeCase& c, std::ostream* out) {
  *out << c.name;
}

const SizeCase kSizeCases[] = {
    {"Cbc1", CipherMode::Cbc, 1, 16},
    {"Cbc15", CipherMode::Cbc, 15, 16},
    {"Cbc16", CipherMode::Cbc, 16, 32},
    {"CbcChunk", CipherMode::Cbc, kChunk, kChunk + 16},
    {"CbcChunkPlus1", CipherMode::Cbc, kChunk + 1, kChunk + 16},
    {"CbcThreeChunksPlus5", CipherMode::Cbc, 3 * kChunk + 5, 3 * kChunk + 16},
    {"Ecb1", CipherMode::Ecb, 1, 16},
    {"Cfb16", CipherMode::Cfb, 16, 32},
    {"Pcbc33", CipherMode::Pcbc, 33, 48},
    {"PcbcTwoChunks", CipherMode::Pcbc, 2 * kChunk, 2 * kChunk + 16},
    {"Ctr1", CipherMode::Ctr, 1, 1},
    {"CtrChunkPlus1", CipherMode::Ctr, kChunk + 1, kChunk + 1},
    {"Ofb1", CipherMode::Ofb, 1, 1},
    {"Ofb2ChunksPlus5", CipherMode::Ofb, 2 * kChunk + 5, 2 * kChunk + 5},
    {"Gcm1", CipherMode::Gcm, 1, 17},
    {"Gcm16", CipherMode::Gcm, 16, 32},
    {"Gcm17", CipherMode::Gcm, 17, 33},
    {"GcmChunk", CipherMode::Gcm, kChunk, kChunk + 16},
    {"Gcm2ChunksPlus5", CipherMode::Gcm, 2 * kChunk + 5, 2 * kChunk + 21},
};

using SizeTest = JobTableTest<SizeCase>;

TEST_P(SizeTest, RunLeavesExactlyTheBytesAndDecryptionRestoresThem) {
  const SizeCase& c = GetParam();
  const Bytes plain = RandomBytes(c.size, c.size);
  std::string input = dir_.File("in");
  std::string encrypted = dir_.File("enc");
  std::string decrypted = dir_.File("dec");
  WriteFileBytes(input, plain);
  WriteFileBytes(encrypted, RandomBytes(300000, 5));  // replaced, so it must shrink

  FileJobResult result = RunFileJob(JobFor(kConsole, c.mode, kEnc, input, encrypted));
  EXPECT_EQ(result.status, JobStatus::EncryptionComplete);
  EXPECT_EQ(FileSize(encrypted), c.encrypted);

  result = RunFileJob(JobFor(kConsole, c.mode, kDec, encrypted, decrypted));
  EXPECT_EQ(result.status, JobStatus::DecryptionComplete);
  EXPECT_TRUE(ReadFileBytes(decrypted) == plain) << "decryption did not restore the input";
  struct stat info;
  ASSERT_EQ(stat(decrypted.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "outputs are private to their owner";
}

INSTANTIATE_TEST_SUITE_P(Job, SizeTest, ::testing::ValuesIn(kSizeCases), CaseName<SizeCase>);

// Padded decryption trims by the value of the last byte alone, and only when it is 1 to 16.
// A ciphertext's first two blocks decrypt to the plaintext's first two blocks in all four padded
// modes, so cutting the padding block off leaves a 32-byte ciphertext of a chosen last byte.
TEST_F(JobTest, PaddedDecryptionTrimsOnlyByALastByteOfOneToSixteen) {
  const struct {
    uint8_t last;
    size_t written;
  } kTrims[] = {{0x00, 32}, {0x01, 31}, {0x0F, 17}, {0x10, 16}, {0x11, 32}, {0xFF, 32}};
  for (CipherMode mode : {CipherMode::Cbc, CipherMode::Cfb, CipherMode::Ecb, CipherMode::Pcbc}) {
    for (const auto& trim : kTrims) {
      SCOPED_TRACE(::testing::Message() << "mode " << static_cast<int>(mode) << ", last byte "
                                        << static_cast<int>(trim.last));
      Bytes plain = RandomBytes(32, trim.last);
      plain[31] = trim.last;
      std::string full = dir_.File("full");
      EncryptInto(mode, plain, full);
      Bytes cipher = ReadFileBytes(full);
      ASSERT_EQ(cipher.size(), 48u);
      cipher.resize(32);
      WriteFileBytes(dir_.File("cut"), cipher);
      FileJobResult result =
          RunFileJob(JobFor(kConsole, mode, kDec, dir_.File("cut"), dir_.File("out")));
      EXPECT_EQ(result.status, JobStatus::DecryptionComplete);
      EXPECT_TRUE(ReadFileBytes(dir_.File("out")) ==
                  Bytes(plain.begin(), plain.begin() + trim.written));
    }
  }
}

// 3: a wrong GCM tag keeps the whole plaintext (console) or raises StopFlag 2 (window); a tag and
// one byte is enough to run.
TEST_F(JobTest, WrongGcmTagKeepsThePlaintextAndSaysSo) {
  const Bytes plain = RandomBytes(1000, 9);
  std::string sealed = dir_.File("gcm");
  EncryptInto(CipherMode::Gcm, plain, sealed);
  Bytes damaged = ReadFileBytes(sealed);
  damaged[3] ^= 0x40;
  WriteFileBytes(sealed, damaged);

  FileJobResult console =
      RunFileJob(JobFor(kConsole, CipherMode::Gcm, kDec, sealed, dir_.File("a")));
  EXPECT_EQ(console.status, JobStatus::WrongTag);
  EXPECT_TRUE(ReadFileBytes(dir_.File("a")) == plain);

  FileJobResult window = RunFileJob(JobFor(kWindow, CipherMode::Gcm, kDec, sealed, dir_.File("b")));
  EXPECT_EQ(window.stopFlag, engine::kWrongTag);
  EXPECT_EQ(window.ioError, engine::kNoIoError);
  EXPECT_TRUE(ReadFileBytes(dir_.File("b")) == plain);

  WriteFileBytes(dir_.File("17"), RandomBytes(17, 17));
  FileJobResult tiny =
      RunFileJob(JobFor(kConsole, CipherMode::Gcm, kDec, dir_.File("17"), dir_.File("c")));
  EXPECT_TRUE(tiny.prepared);
  EXPECT_EQ(tiny.status, JobStatus::WrongTag);
  EXPECT_EQ(FileSize(dir_.File("c")), 1u);
}

// ---------------------------------------------------------------------------------------------
// I/O failures injected under the file layer. The console stops at once and writes nothing more
// (no GCM tag); the window raises StopFlag and IoError, and a GCM encryption still writes its tag.
// Retried short transfers and interruptions must not show at all.

enum class Side : uint8_t { Read, Write };

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

void PrintTo(const IoFaultCase& c, std::ostream* out) {
  *out << c.name;
}

constexpr uint64_t kN = 2 * kChunk + 100;  // three chunks, the last one short
constexpr uint64_t kC1 = kChunk;           // the second chunk's position, and one chunk kept
constexpr uint64_t kC2 = 2 * kChunk;
constexpr uint64_t kG1 = 16 + kC1;  // the same behind a GCM encryption's tag
constexpr uint64_t kG2 = 16 + kC2;
constexpr uint64_t kTagAt = ~uint64_t{1};  // the second write at 0: the tag after its placeholder
constexpr uint64_t kDone = ~uint64_t{0};   // the run ends normally with the fault-free output
constexpr Side R = Side::Read;
constexpr Side W = Side::Write;
constexpr Fault kFail = Fault::Fail;
constexpr Fault kStall = Fault::NoProgress;
constexpr Fault kEof = Fault::EndOfFile;
constexpr Fault kHalf = Fault::Partial;
constexpr Fault kEintr = Fault::Interrupt;
constexpr Fault kHalfFail = Fault::PartialThenFail;
constexpr Tag kNoTag = Tag::NotGcm;
constexpr Tag kZero = Tag::Zero;
constexpr Tag kTag = Tag::Written;
constexpr JobHost C = kConsole;
constexpr JobHost Wi = kWindow;

// clang-format off
const IoFaultCase kIoFaultCases[] = {
    // Console, reads.
    {"ConsoleReadFails",        C,  kCbc, kEnc, kN,       R, kFail,     kC1,      kC1,      kNoTag},
    {"ConsoleEofMidChunk",      C,  kCbc, kEnc, kN,       R, kEof,      kC1 + 9,  kC1,      kNoTag},
    {"ConsoleEofInLastChunk",   C,  kCbc, kEnc, kN,       R, kEof,      kC2 + 50, kC2,      kNoTag},
    {"ConsoleLastBlockUnread",  C,  kCtr, kEnc, kC1 + 16, R, kFail,     kC1,      kC1,      kNoTag},
    {"ConsolePadBlockUnread",   C,  kCbc, kEnc, kC1 + 5,  R, kFail,     kC1,      kC1,      kNoTag},
    {"ConsoleGcmReadFails",     C,  kGcm, kEnc, kN,       R, kFail,     kC1,      kG1,      kZero},
    {"ConsoleGcmDecryptReads",  C,  kGcm, kDec, kN,       R, kFail,     kG1,      kC1,      kNoTag},
    {"ConsoleGcmTagRead",       C,  kGcm, kDec, kN,       R, kFail,     0,        0,        kNoTag},
    {"ConsoleShortRead",        C,  kCbc, kEnc, kN,       R, kHalf,     kC1,      kDone,    kNoTag},
    {"ConsoleReadEintr",        C,  kCbc, kEnc, kN,       R, kEintr,    kC1,      kDone,    kNoTag},
    // Console, writes.
    {"ConsoleWriteFails",       C,  kCbc, kEnc, kN,       W, kFail,     kC1,      kC1,      kNoTag},
    {"ConsoleWriteStalls",      C,  kCbc, kEnc, kN,       W, kStall,    kC1,      kC1,      kNoTag},
    {"ConsoleLastWriteFails",   C,  kCbc, kEnc, kN,       W, kFail,     kC2,      kC2,      kNoTag},
    {"ConsoleLastWriteStalls",  C,  kCbc, kEnc, kN,       W, kStall,    kC2,      kC2,      kNoTag},
    {"ConsoleLastWriteHalf",    C,  kCbc, kEnc, kN,       W, kHalfFail, kC2,      kC2 + 56, kNoTag},
    {"ConsoleDecryptStalls",    C,  kCbc, kDec, kN,       W, kStall,    kC2,      kC2,      kNoTag},
    {"ConsoleGcmWriteFails",    C,  kGcm, kEnc, kN,       W, kFail,     kG1,      kG1,      kZero},
    {"ConsoleGcmLastWrite",     C,  kGcm, kEnc, kN,       W, kFail,     kG2,      kG2,      kZero},
    {"ConsoleGcmTagWrite",      C,  kGcm, kEnc, kN,       W, kFail,     kTagAt,   16 + kN,  kZero},
    {"ConsoleGcmPlaceholder",   C,  kGcm, kEnc, kN,       W, kFail,     0,        0,        kNoTag},
    {"ConsoleGcmDecryptWrites", C,  kGcm, kDec, kN,       W, kFail,     kC2,      kC2,      kNoTag},
    {"ConsoleHalfWrite",        C,  kCbc, kEnc, kN,       W, kHalf,     kC1,      kDone,    kNoTag},
    {"ConsoleHalfLastWrite",    C,  kCbc, kEnc, kN,       W, kHalf,     kC2,      kDone,    kNoTag},
    {"ConsoleWriteEintr",       C,  kCbc, kEnc, kN,       W, kEintr,    kC1,      kDone,    kNoTag},
    {"ConsoleHalfTagWrite",     C,  kGcm, kEnc, kN,       W, kHalf,     kTagAt,   kDone,    kNoTag},
    // Window.
    {"WindowReadFails",         Wi, kCbc, kEnc, kN,       R, kFail,     kC1,      kC1,      kNoTag},
    {"WindowLastBlockUnread",   Wi, kCtr, kEnc, kC1 + 16, R, kFail,     kC1,      kC1,      kNoTag},
    {"WindowWriteFails",        Wi, kCbc, kEnc, kN,       W, kFail,     kC1,      kC1,      kNoTag},
    {"WindowLastWriteStalls",   Wi, kCbc, kEnc, kN,       W, kStall,    kC2,      kC2,      kNoTag},
    {"WindowGcmReadFails",      Wi, kGcm, kEnc, kN,       R, kFail,     kC1,      kG1,      kTag},
    {"WindowGcmWriteFails",     Wi, kGcm, kEnc, kN,       W, kFail,     kG1,      kG1,      kTag},
    {"WindowGcmLastWrite",      Wi, kGcm, kEnc, kN,       W, kFail,     kG2,      kG2,      kTag},
    {"WindowGcmTagWrite",       Wi, kGcm, kEnc, kN,       W, kFail,     kTagAt,   16 + kN,  kZero},
    {"WindowGcmDecryptReads",   Wi, kGcm, kDec, kN,       R, kFail,     kG1,      kC1,      kNoTag},
};
// clang-format on

using IoFaultTest = JobTableTest<IoFaultCase>;

TEST_P(IoFaultTest, FailureEndsTheJobAsItsHostWants) {
  const IoFaultCase& c = GetParam();
  const Bytes plain = RandomBytes(c.size, 77);
  std::string input = dir_.File("in");
  std::string output = dir_.File("out");
  Bytes reference;
  if (c.direction == kDec) {
    EncryptInto(c.mode, plain, input);
    reference = plain;
  } else {
    WriteFileBytes(input, plain);
    ASSERT_EQ(RunFileJob(JobFor(c.host, c.mode, kEnc, input, dir_.File("ref"))).status,
              JobStatus::EncryptionComplete);
    reference = ReadFileBytes(dir_.File("ref"));
  }

  FaultPlan plan;
  if (c.side == Side::Read) {
    plan.readFault = c.fault;
    plan.readAt = c.at;
  } else {
    plan.writeFault = c.fault;
    plan.writeAt = c.at == kTagAt ? 0 : c.at;
    plan.writeOccurrence = c.at == kTagAt ? 2 : 1;
  }
  FileJobResult result;
  testing_support::FaultLog log;
  {
    ScopedFileIo io(plan);
    result = RunFileJob(JobFor(c.host, c.mode, c.direction, input, output));
    log = io.log();
  }
  ASSERT_TRUE(result.prepared);
  ASSERT_GE(log.faultsFired, 1) << "the fault was never reached";
  const Bytes left = ReadFileBytes(output);

  if (c.kept == kDone) {
    JobStatus done =
        c.direction == kEnc ? JobStatus::EncryptionComplete : JobStatus::DecryptionComplete;
    if (c.host == kConsole) {
      EXPECT_EQ(result.status, done);
    }
    EXPECT_EQ(result.stopFlag, engine::kRunning);
    EXPECT_EQ(result.ioError, engine::kNoIoError);
    EXPECT_TRUE(left == reference) << "the output differs from a run without the fault";
    return;
  }

  const uint8_t ioError = c.side == Side::Read ? engine::kReadFailed : engine::kWriteFailed;
  if (c.host == kConsole) {
    EXPECT_EQ(result.status, ioError == engine::kReadFailed ? JobStatus::InputUnreadable
                                                            : JobStatus::OutputUnwritable);
    EXPECT_EQ(log.writesAfterFault, 0) << "the console wrote after the failure";
  } else {
    EXPECT_EQ(result.stopFlag, engine::kStopRequested);
    EXPECT_EQ(result.ioError, ioError);
  }
  ASSERT_EQ(left.size(), c.kept) << "output left on disk";
  const size_t dataFrom = c.tag == Tag::NotGcm ? 0 : 16;
  EXPECT_TRUE(SamePrefix(left, reference, dataFrom, c.kept))
      << "the kept output differs from the chunks before the failure";
  if (c.tag == Tag::Zero) {
    EXPECT_TRUE(AllZero(left, 0, 16)) << "no tag may be written";
  }
  if (c.tag == Tag::Written) {
    EXPECT_FALSE(AllZero(left, 0, 16)) << "the tag was not written";
  }
}

INSTANTIATE_TEST_SUITE_P(Job, IoFaultTest, ::testing::ValuesIn(kIoFaultCases),
                         CaseName<IoFaultCase>);

// The input really shrinking between the size measurement and the run.
TEST_F(JobTest, InputThatShrinksUnderTheJobIsAReadFailure) {
  const struct {
    JobHost host;
    CipherMode mode;
    uint64_t size;
    uint64_t shrunk;
    uint64_t kept;
  } kCases[] = {
      {kConsole, kCbc, kN, kChunk + 1000, kChunk},
      {kConsole, kCtr, 100, 50, 0},
      {kWindow, kCtr, kN, kChunk, kChunk},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "host " << static_cast<int>(c.host) << ", " << c.size
                                      << " bytes shrunk to " << c.shrunk);
    std::string input = dir_.File("in");
    std::string output = dir_.File("out");
    MakeInput(input, c.size);
    engine::CipherJob job;
    FillJob(job, JobFor(c.host, c.mode, kEnc, input, output));
    ASSERT_TRUE(engine::PrepareJobFiles(job));
    ASSERT_EQ(truncate(input.c_str(), static_cast<off_t>(c.shrunk)), 0);
    engine::RunCipherJob(job);
    engine::CloseJobFiles(job);
    engine::WipeJobSecrets(job);
    if (c.host == kConsole) {
      EXPECT_EQ(job.status, JobStatus::InputUnreadable);
    } else {
      EXPECT_EQ(job.stopFlag.load(), engine::kStopRequested);
      EXPECT_EQ(job.ioError, engine::kReadFailed);
    }
    EXPECT_EQ(FileSize(output), c.kept);
  }
}

// ---------------------------------------------------------------------------------------------
// Progress.

TEST(FormatPercent, ThreeDigitsWithLeadingZeros) {
  const struct {
    uint8_t percent;
    const char* text;
  } kCases[] = {{0, "000"}, {7, "007"}, {42, "042"}, {99, "099"}, {100, "100"}};
  for (const auto& c : kCases) {
    char digits[4] = {'x', 'x', 'x', '#'};
    engine::FormatPercent(c.percent, digits);
    EXPECT_EQ(std::string(digits, 3), c.text);
    EXPECT_EQ(digits[3], '#') << "wrote past the three digits";
  }
}

// Below 1616 bytes every block is a percent step, and a padded encryption of 1600 to 1615 bytes
// has 101 blocks: the step after 100 must not show.
TEST_F(JobTest, PercentNeverPassesHundredWhenEveryBlockIsAStep) {
  std::string input = dir_.File("in");
  const Bytes data = RandomBytes(1615, 4);
  for (CipherMode mode : {CipherMode::Cbc, CipherMode::Cfb, CipherMode::Ctr, CipherMode::Gcm}) {
    for (uint64_t n = 1584; n <= 1615; ++n) {
      SCOPED_TRACE(::testing::Message() << "mode " << static_cast<int>(mode) << ", " << n);
      WriteFileBytes(input, Bytes(data.begin(), data.begin() + static_cast<ptrdiff_t>(n)));
      FileJobResult result = RunFileJob(JobFor(kWindow, mode, kEnc, input, dir_.File("out")));
      ASSERT_EQ(result.stopFlag, engine::kRunning);
      EXPECT_LE(result.maxPercent, 100);
      EXPECT_EQ(result.lastPercent, std::min<uint64_t>(BlockCount(mode, kEnc, n), 100));
    }
  }
}

// A window job of a few chunks, including a size whose block count is exactly 101 steps.
TEST_F(JobTest, WindowReportsUpToHundredOverSeveralChunks) {
  const struct {
    CipherMode mode;
    uint64_t size;
  } kCases[] = {{CipherMode::Cbc, 1616 * 486 + 1610}, {CipherMode::Ctr, 3 * kChunk + 5}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.size);
    MakeInput(dir_.File("in"), c.size);
    FileJobResult result =
        RunFileJob(JobFor(kWindow, c.mode, kEnc, dir_.File("in"), dir_.File("out")));
    EXPECT_EQ(result.stopFlag, engine::kRunning);
    EXPECT_GE(result.progressReports, 100);
    EXPECT_LE(result.maxPercent, 100);
    EXPECT_EQ(result.lastPercent, 100);
  }
}

// The console shows progress only above 64 MiB. The large inputs are sparse and emulated under the
// file layer, and the output is discarded, so nothing large is read or written.
TEST_F(JobTest, ConsoleReportsProgressOnlyAbove64MiB) {
  const struct {
    CipherMode mode;
    uint64_t size;
    bool reports;
  } kCases[] = {
      {CipherMode::Cbc, 1600, false},
      {CipherMode::Ctr, 64 * kMiB, false},
      {CipherMode::Ctr, 64 * kMiB + 1, true},
      {CipherMode::Cbc, 1616 * 41528 + 1600, true},  // above 64 MiB, 101 possible steps
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.size);
    std::string input = dir_.File("in");
    MakeInput(input, c.size);
    FaultPlan plan;
    plan.emulateInput = plan.discardOutput = c.size > 4 * kMiB;
    FileJobResult result;
    {
      ScopedFileIo io(plan);
      result = RunFileJob(JobFor(kConsole, c.mode, kEnc, input, dir_.File("out")));
    }
    EXPECT_EQ(result.status, JobStatus::EncryptionComplete);
    if (!c.reports) {
      EXPECT_EQ(result.progressReports, 0);
      continue;
    }
    EXPECT_GE(result.progressReports, 100);
    EXPECT_LE(result.maxPercent, 100);
    EXPECT_EQ(result.lastPercent, 100);
  }
}

// ---------------------------------------------------------------------------------------------
// Abort: the window's StopFlag, raised from the progress report, ends the run before the next
// block. A GCM encryption still writes its tag; a GCM decryption gives no verdict.

struct AbortCase {
  const char* name;
  CipherMode mode;
  Direction direction;
  uint64_t size;   // plaintext bytes
  uint8_t stopAt;  // percent whose report raises StopFlag; 0: raised before the run
  uint64_t kept;
  Tag tag;
};

void PrintTo(const AbortCase& c, std::ostream* out) {
  *out << c.name;
}

const AbortCase kAbortCases[] = {
    {"CbcAtFirstPercent", kCbc, kEnc, 1600, 1, 0, kNoTag},
    {"CbcAtHundredWithABlockLeft", kCbc, kEnc, 1600, 100, 0, kNoTag},
    {"CbcBeforeTheRun", kCbc, kEnc, 1600, 0, 0, kNoTag},
    {"CtrHalfway", kCtr, kEnc, 3 * kChunk + 5, 50, kChunk, kNoTag},
    {"CbcDecryptHalfway", kCbc, kDec, 3 * kChunk + 5, 50, kChunk, kNoTag},
    {"GcmEncryptHalfway", kGcm, kEnc, 3 * kChunk + 5, 50, 16 + kChunk, kTag},
    {"GcmEncryptBeforeTheRun", kGcm, kEnc, 1600, 0, 16, kTag},
    {"GcmDecryptHalfway", kGcm, kDec, 3 * kChunk + 5, 50, kChunk, kNoTag},
    {"GcmDecryptBeforeTheRun", kGcm, kDec, 1600, 0, 0, kNoTag},
};

struct StopAtPercent {
  engine::CipherJob* job;
  uint8_t percent;
  int reports;
};

void RaiseStopAt(const engine::CipherJob& job, void* context) {
  auto* stop = static_cast<StopAtPercent*>(context);
  ++stop->reports;
  if (job.percent.load() == stop->percent) stop->job->stopFlag.store(engine::kStopRequested);
}

using AbortTest = JobTableTest<AbortCase>;

TEST_P(AbortTest, StopsBeforeTheNextBlock) {
  const AbortCase& c = GetParam();
  const Bytes plain = RandomBytes(c.size, 55);
  std::string input = dir_.File("in");
  std::string output = dir_.File("out");
  Bytes reference;
  if (c.direction == kDec) {
    EncryptInto(c.mode, plain, input);
    reference = plain;
  } else {
    WriteFileBytes(input, plain);
    ASSERT_EQ(RunFileJob(JobFor(kWindow, c.mode, kEnc, input, dir_.File("ref"))).status,
              JobStatus::EncryptionComplete);
    reference = ReadFileBytes(dir_.File("ref"));
  }
  const uint64_t inputSize = FileSize(input);

  engine::CipherJob job;
  FillJob(job, JobFor(kWindow, c.mode, c.direction, input, output));
  StopAtPercent stop{&job, c.stopAt, 0};
  job.onProgress = RaiseStopAt;
  job.progressContext = &stop;
  ASSERT_TRUE(engine::PrepareJobFiles(job));
  if (c.stopAt == 0) job.stopFlag.store(engine::kStopRequested);  // Abort right after the start
  engine::RunCipherJob(job);
  engine::CloseJobFiles(job);
  engine::WipeJobSecrets(job);

  EXPECT_EQ(job.stopFlag.load(), engine::kStopRequested) << "an abort is not a verdict";
  EXPECT_NE(job.status, JobStatus::WrongTag);
  EXPECT_EQ(job.ioError, engine::kNoIoError);
  EXPECT_EQ(stop.reports, c.stopAt) << "progress went on after the abort";
  const uint64_t dataBytes = c.direction == kDec && c.mode == kGcm ? inputSize - 16 : inputSize;
  const uint64_t blocks = BlockCount(c.mode, c.direction, dataBytes);
  const uint64_t perPercent = inputSize / 1616 + 1;
  EXPECT_EQ(job.blocksRemaining, blocks - c.stopAt * perPercent)
      << "blocks were read after the abort";

  const Bytes left = ReadFileBytes(output);
  ASSERT_EQ(left.size(), c.kept);
  const size_t dataFrom = c.tag == Tag::NotGcm ? 0 : 16;
  EXPECT_TRUE(SamePrefix(left, reference, dataFrom, c.kept));
  if (c.tag == Tag::Written) {
    EXPECT_FALSE(AllZero(left, 0, 16)) << "the tag was not written";
  }
}

INSTANTIATE_TEST_SUITE_P(Job, AbortTest, ::testing::ValuesIn(kAbortCases), CaseName<AbortCase>);

}  // namespace
