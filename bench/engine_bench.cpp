// In-memory throughput of the engine: whole jobs through RunCipherJob, with the file reads and
// writes short-circuited by a FileIoOverride so that only the per-block path is measured. Also the
// per-job GCM set-up, GHASH by the tables and by carry-less multiply (one block per reduction and
// eight), and the bare one-block calls of each AES backend (the ceiling the mode loops can reach).
//
// Names: RunCipherJob/<mode>/<direction>/aes<bits>/<hw|sw>, where GCM also has hw-tables (the
// hardware AES pair with the tables' GHASH, as on a processor without PCLMULQDQ); filter with
// --benchmark_filter.
// "bytes" is the same rate as bytes_per_second, in decimal units (G = 10^9). Rates are per CPU
// second (every benchmark is single-threaded), so a busy machine skews them less than wall time;
// run with --benchmark_repetitions=N to see the spread.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "engine/aes.h"
#include "engine/backend.h"
#include "engine/block.h"
#include "engine/file.h"
#include "engine/gcm.h"
#include "engine/ghash_clmul.h"
#include "engine/job.h"
#include "engine/modes.h"
#include "engine/status.h"
#include "engine/wipe.h"

namespace {

using engine::Block;
using engine::CipherMode;
using engine::Direction;
using engine::KeySize;

// Data per job. A multiple of the chunk size, and equal to the console's progress threshold, so
// no progress is reported (as for any console job of this size).
constexpr uint64_t kJobBytes = 64ull << 20;

const uint8_t kKey[32] = {0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca, 0x71, 0xbe, 0x2b, 0x73, 0xae,
                          0xf0, 0x85, 0x7d, 0x77, 0x81, 0x1f, 0x35, 0x2c, 0x07, 0x3b, 0x61,
                          0x08, 0xd7, 0x2d, 0x98, 0x10, 0xa3, 0x09, 0x14, 0xdf, 0xf4};
const uint8_t kIv[16] = {0xf0, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7,
                         0xf8, 0xf9, 0xfa, 0xfb, 0xfc, 0xfd, 0xfe, 0xff};

// A scratch folder for the job's real (sparse, never read) input and its output.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/engine_bench.XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    unlink(Input().c_str());
    unlink(Output().c_str());
    if (!path_.empty()) rmdir(path_.c_str());
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  bool Ok() const { return !path_.empty(); }
  std::string Input() const { return path_ + "/input"; }
  std::string Output() const { return path_ + "/output"; }

  // Makes the input a sparse file of `size` bytes, so that PrepareJobFiles sees the job's real
  // size and applies its real rules to it.
  bool SizeInput(uint64_t size) const {
    int fd = open(Input().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    bool ok = ftruncate(fd, static_cast<off_t>(size)) == 0;
    close(fd);
    return ok;
  }

 private:
  std::string path_;
};

ScratchFolder* gScratch = nullptr;

// The in-memory file: a chunk read reports the bytes asked for (up to the virtual input's end)
// without touching the buffer, which keeps what it holds; a write reports everything written.
struct MemoryFile {
  uint64_t inputLeft = 0;
  uint64_t written = 0;
};

int64_t MemoryRead(void* context, engine::FileHandle, void* data, size_t size) {
  auto* file = static_cast<MemoryFile*>(context);
  uint64_t n = size < file->inputLeft ? size : file->inputLeft;
  file->inputLeft -= n;
  // Reads other than chunk refills (the GCM tag) get zeros rather than stale stack bytes.
  if (size < engine::kChunkSize) memset(data, 0, n);
  return static_cast<int64_t>(n);
}

int64_t MemoryWrite(void* context, engine::FileHandle, const void*, size_t size) {
  static_cast<MemoryFile*>(context)->written += size;
  return static_cast<int64_t>(size);
}

// Uninstalls the override however the benchmark leaves.
class OverrideScope {
 public:
  explicit OverrideScope(MemoryFile& file) : io_{MemoryRead, MemoryWrite, &file} {
    engine::SetFileIoOverride(&io_);
  }
  ~OverrideScope() { engine::SetFileIoOverride(nullptr); }
  OverrideScope(const OverrideScope&) = delete;
  OverrideScope& operator=(const OverrideScope&) = delete;

 private:
  engine::FileIoOverride io_;
};

const char* ModeName(CipherMode mode) {
  static const char* const kNames[] = {"ctr", "gcm", "ofb", "cfb", "cbc", "ecb", "pcbc"};
  return kNames[static_cast<int>(mode)];
}

int KeyBits(KeySize size) {
  return static_cast<int>(engine::KeyBytes(size) * 8);
}

void ReportRate(benchmark::State& state, uint64_t bytesPerIteration) {
  const auto bytes = static_cast<int64_t>(state.iterations() * bytesPerIteration);
  state.SetBytesProcessed(bytes);
  state.counters["bytes"] = benchmark::Counter(
      static_cast<double>(bytes), benchmark::Counter::kIsRate, benchmark::Counter::OneK::kIs1000);
}

// The hardware pair brings the carry-less GHASH unless `tableGhash`.
bool UseBackend(benchmark::State& state, bool hardware, bool tableGhash = false) {
  if (engine::ForceAesBackend(hardware, tableGhash)) return true;
  state.SkipWithError("this processor lacks the AES or the carry-less multiply instructions");
  return false;
}

// One whole key/IV job of kJobBytes per iteration: PrepareJobFiles once on the sparse input,
// then per iteration the run state reset and RunCipherJob (block count, key expansion, mode
// loop, GCM tag) exactly as a program runs it.
void BM_RunCipherJob(benchmark::State& state, CipherMode mode, Direction direction, KeySize size,
                     bool hardware, bool tableGhash) {
  if (!UseBackend(state, hardware, tableGhash)) return;
  const bool gcmDecrypt = mode == CipherMode::Gcm && direction == Direction::Decrypt;
  const uint64_t inputBytes = kJobBytes + (gcmDecrypt ? 16 : 0);  // the tag stands in front
  if (!gScratch->SizeInput(inputBytes)) {
    state.SkipWithError("cannot size the scratch input");
    return;
  }

  engine::CipherJob job;
  job.host = engine::JobHost::Console;
  job.kind = engine::JobKind::KeyIv;
  job.direction = direction;
  job.keySize = size;
  job.mode = mode;
  memcpy(job.key, kKey, sizeof kKey);
  memcpy(job.iv, kIv, sizeof kIv);
  snprintf(job.inputPath, sizeof job.inputPath, "%s", gScratch->Input().c_str());
  snprintf(job.outputPath, sizeof job.outputPath, "%s", gScratch->Output().c_str());
  job.disposition = engine::Disposition::CreateAlways;
  if (!engine::PrepareJobFiles(job)) {
    state.SkipWithError("PrepareJobFiles failed");
    return;
  }

  // A GCM decryption reads whatever stands in the chunk buffer, so its tag never matches: the
  // whole pass still runs, and only the verdict differs.
  const engine::JobStatus expected =
      direction == Direction::Encrypt
          ? engine::JobStatus::EncryptionComplete
          : (gcmDecrypt ? engine::JobStatus::WrongTag : engine::JobStatus::DecryptionComplete);
  MemoryFile file;
  {
    OverrideScope scope(file);
    for (auto _ : state) {
      engine::ResetJobRunState(job);
      file = MemoryFile{inputBytes, 0};
      engine::RunCipherJob(job);
      // Padding and the GCM tag move the output length by at most 32 bytes either way.
      if (job.status != expected || file.inputLeft != 0 || file.written + 32 < kJobBytes ||
          file.written > kJobBytes + 32) {
        char message[128];
        snprintf(message, sizeof message, "status %d, %llu bytes unread, %llu written",
                 static_cast<int>(job.status), static_cast<unsigned long long>(file.inputLeft),
                 static_cast<unsigned long long>(file.written));
        state.SkipWithError(message);
        break;
      }
    }
  }
  engine::CloseJobFiles(job);
  engine::WipeJobSecrets(job);
  ReportRate(state, kJobBytes);
}

// The per-job GCM set-up: H, E(J0), and the 4,096 multiplications of the tables (sw) or H's powers
// (hw).
void BM_GcmStart(benchmark::State& state, bool hardware) {
  if (!UseBackend(state, hardware)) return;
  engine::CipherJob job;
  memcpy(job.iv, kIv, sizeof kIv);
  engine::LoadAesKey(kKey, KeySize::Bits256, false);
  for (auto _ : state) {
    engine::GcmState gcm = engine::GcmStart(job);
    benchmark::DoNotOptimize(gcm);
  }
  engine::WipeGcmState();
  engine::WipeAesKeySchedule();
}

void BM_BuildGhashTables(benchmark::State& state) {
  const Block h = engine::LoadBlock(kKey);
  for (auto _ : state) {
    engine::BuildGhashTables(h);
    benchmark::ClobberMemory();
  }
  engine::WipeGcmState();
}

alignas(16) uint8_t gBlocks[16384];

void FillBlocks() {
  for (size_t i = 0; i < sizeof gBlocks; ++i)
    gBlocks[i] = static_cast<uint8_t>(i * 131u + 7u);
}

// One block per step (and per reduction): the tables (sw) or the carry-less multiply (hw).
void BM_GhashStep(benchmark::State& state, bool hardware) {
  if (!UseBackend(state, hardware)) return;
  FillBlocks();
  engine::StartGhash(engine::LoadBlock(kKey));
  for (auto _ : state) {
    for (size_t offset = 0; offset < sizeof gBlocks; offset += 16) {
      engine::GhashStep(engine::LoadBlock(gBlocks + offset));
    }
    const Block y = engine::GhashValue();
    benchmark::DoNotOptimize(y[0]);
  }
  engine::WipeGcmState();
  ReportRate(state, sizeof gBlocks);
}

// The carry-less multiply over eight blocks per reduction, as the GCM loops run it.
void BM_ClmulGhashBlocks(benchmark::State& state) {
  if (!UseBackend(state, true)) return;
  FillBlocks();
  Block powers[engine::kClmulGhashBlocks];
  engine::ClmulGhashPowers(engine::LoadBlock(kKey), powers);
  const auto* blocks = reinterpret_cast<const Block*>(gBlocks);
  Block y = engine::ZeroBlock();
  for (auto _ : state) {
    for (size_t i = 0; i < sizeof gBlocks / 16; i += engine::kClmulGhashBlocks)
      y = engine::ClmulGhashBlocks(y, blocks + i, engine::kClmulGhashBlocks, powers);
    benchmark::DoNotOptimize(y[0]);
  }
  engine::WipeBytes(powers, sizeof powers);
  ReportRate(state, sizeof gBlocks);
}

// The backend's one-block routine over independent blocks (the ECB and parallel-decryption
// ceiling) or over a chain where each call waits for the last (the CBC/CFB/OFB encryption ceiling).
void BM_BlockCall(benchmark::State& state, bool decrypt, bool chained, bool hardware) {
  if (!UseBackend(state, hardware)) return;
  engine::LoadAesKey(kKey, KeySize::Bits256, decrypt);
  const engine::AesBackend& backend = engine::CurrentAesBackend();
  const engine::BlockFunction call = decrypt ? backend.decrypt : backend.encrypt;
  for (size_t i = 0; i < sizeof gBlocks; ++i)
    gBlocks[i] = static_cast<uint8_t>(i);
  for (auto _ : state) {
    if (chained) {
      Block x = engine::LoadBlock(gBlocks);
      for (size_t offset = 0; offset < sizeof gBlocks; offset += 16)
        x = call(x);
      engine::StoreBlock(gBlocks, x);
    } else {
      for (size_t offset = 0; offset < sizeof gBlocks; offset += 16) {
        engine::StoreBlock(gBlocks + offset, call(engine::LoadBlock(gBlocks + offset)));
      }
    }
    benchmark::ClobberMemory();
  }
  engine::WipeAesKeySchedule();
  ReportRate(state, sizeof gBlocks);
}

void RegisterAll() {
  const CipherMode modes[] = {CipherMode::Ctr, CipherMode::Gcm, CipherMode::Ofb, CipherMode::Cfb,
                              CipherMode::Cbc, CipherMode::Ecb, CipherMode::Pcbc};
  const KeySize sizes[] = {KeySize::Bits256, KeySize::Bits192, KeySize::Bits128};
  const bool backends[] = {true, false};
  for (KeySize size : sizes) {
    for (bool hardware : backends) {
      for (CipherMode mode : modes) {
        for (Direction direction : {Direction::Encrypt, Direction::Decrypt}) {
          std::string name = std::string("RunCipherJob/") + ModeName(mode) +
                             (direction == Direction::Encrypt ? "/encrypt" : "/decrypt") + "/aes" +
                             std::to_string(KeyBits(size)) + (hardware ? "/hw" : "/sw");
          benchmark::RegisterBenchmark(name.c_str(), BM_RunCipherJob, mode, direction, size,
                                       hardware, false)
              ->Unit(benchmark::kMillisecond);
          if (hardware && mode == CipherMode::Gcm) {
            benchmark::RegisterBenchmark((name + "-tables").c_str(), BM_RunCipherJob, mode,
                                         direction, size, true, true)
                ->Unit(benchmark::kMillisecond);
          }
        }
      }
    }
  }
  for (bool hardware : backends) {
    benchmark::RegisterBenchmark(hardware ? "GcmStart/aes256/hw" : "GcmStart/aes256/sw",
                                 BM_GcmStart, hardware)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("BuildGhashTables", BM_BuildGhashTables)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("GhashStep/tables", BM_GhashStep, false);
  benchmark::RegisterBenchmark("GhashStep/clmul", BM_GhashStep, true);
  benchmark::RegisterBenchmark("ClmulGhashBlocks/8", BM_ClmulGhashBlocks);
  for (bool hardware : backends) {
    for (bool decrypt : {false, true}) {
      for (bool chained : {false, true}) {
        std::string name = std::string("BlockCall/") + (decrypt ? "decrypt" : "encrypt") +
                           (chained ? "/chained" : "/independent") + "/aes256" +
                           (hardware ? "/hw" : "/sw");
        benchmark::RegisterBenchmark(name.c_str(), BM_BlockCall, decrypt, chained, hardware);
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const engine::CpuFeatures features = engine::ReadCpuFeatures();
  if (!engine::PassesProcessorCheck(features)) {
    fprintf(stderr, "%s\n", engine::kProcessorRefusal);
    return 1;
  }
  engine::BuildAesTables();
  engine::SelectAesBackend(features);

  ScratchFolder scratch;
  if (!scratch.Ok()) {
    fprintf(stderr, "engine_bench: cannot create a scratch folder under $TMPDIR or /tmp\n");
    return 1;
  }
  gScratch = &scratch;

  RegisterAll();
  benchmark::AddCustomContext("aes_instructions", features.aes ? "yes" : "no");
  benchmark::AddCustomContext("job_bytes", std::to_string(kJobBytes));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  gScratch = nullptr;
  return 0;
}
