// The file job: the job record, file preparation, and the chunked block flow every run uses.
//
// A run pulls 16-byte blocks with ReadBlock and pushes them with WriteBlock, exactly once each
// per block and in that order. Both work in place in the one 256 KiB ChunkBuffer: one file read
// and one file write per chunk, padding on the last block read, padding trimmed on the last
// flush, progress counted per block written.
#pragma once

#include <stdint.h>

#include <atomic>

#include "engine/aes.h"
#include "engine/block.h"
#include "engine/file.h"
#include "engine/mode_table.h"
#include "engine/status.h"

namespace engine {

enum class Direction : uint8_t { Encrypt = 0, Decrypt = 1 };

inline bool UsesInverseCipher(CipherMode mode, Direction direction) {
  return direction == Direction::Decrypt && Traits(mode).inverseCipher;
}

// What the job produces: a key/IV file job, a passphrase-sealed file, or pseudo-random bytes.
enum class JobKind : uint8_t { KeyIv, Sealed, Prng };

// What the engine knows of a format that puts a header in front of a GCM body (the sealed file,
// keys/sealed.h): the header's size and the first byte that names a version it can read.
// Decryption refuses a file with no body after the header or with another version byte, and
// runs the body alone.
struct HeaderFormat {
  uint32_t size;
  uint8_t version;
};

// Who runs the job. The one place the programs differ inside a job:
//  Console: a read or write failure ends the run at once (nothing more is written, no tag);
//           progress is reported only for sizes above 64 MiB.
//  Window:  a failure raises StopFlag and IoError and the run ends at its next block test (an
//           encryption still writes its tag); progress is always reported.
enum class JobHost : uint8_t { Console, Window };

constexpr uint32_t kChunkSize = 262144;                   // 256 KiB
constexpr uint64_t kPrngBaseSize = 67108864;              // 64 MiB, shifted left by the index
constexpr uint64_t kConsoleProgressThreshold = 67108864;  // strictly above shows progress
constexpr uint64_t kMaxGcmEncryptBytes = 68719476704;     // (2^32 - 2) blocks of 16 bytes
constexpr uint32_t kPathCapacity = 260;                   // 259 characters and the terminating zero
constexpr uint32_t kMaxPassphrase = 512;

// StopFlag: one byte the window thread may read and (to abort) write while the run goes on.
enum StopFlag : uint8_t {
  kRunning = 0,
  kStopRequested = 1,  // Abort, or an I/O failure
  kWrongTag = 2,       // a decryption found a wrong authentication tag
  kRunReturned = 3,    // windows only: the run ended without a stop, so a late Abort is too late
};
// IoError: the first transfer that failed.
enum IoError : uint8_t { kNoIoError = 0, kReadFailed = 1, kWriteFailed = 2 };

// The file a failure concerns, so that a front end can name it beside the reason.
enum class FaultFile : uint8_t { None, Input, Output };

struct CipherJob;
typedef void (*ProgressFunction)(const CipherJob& job, void* context);

// CipherJob: one per job, filled by the front end, then prepared and run.
struct CipherJob {
  // What to do (the front end fills these).
  JobHost host = JobHost::Console;
  JobKind kind = JobKind::KeyIv;
  const HeaderFormat* header = nullptr;  // JobKind::Sealed only
  Direction direction = Direction::Encrypt;
  KeySize keySize = KeySize::Bits256;
  CipherMode mode = CipherMode::Ctr;
  uint8_t prngSizeIndex = 0;        // size = 64 MiB << index, 0 to 8
  alignas(16) uint8_t iv[16] = {};  // GCM uses the first 12; its counter runs in bytes 12..15
  alignas(16) uint8_t key[32] = {};
  uint8_t passphrase[kMaxPassphrase] = {};
  uint32_t passphraseLength = 0;
  char inputPath[kPathCapacity] = {};
  char outputPath[kPathCapacity] = {};
  Disposition disposition = Disposition::CreateNew;
  ProgressFunction onProgress = nullptr;  // called at each percent step
  void* progressContext = nullptr;

  // Files (PrepareJobFiles).
  FileHandle input = kNoFile;
  FileHandle output = kNoFile;
  // The temporary file the output is written to when it replaces an existing file; empty when
  // the output is a new file written in place.
  char partPath[kPathCapacity + kPartNameExtra] = {};
  uint64_t totalSize = 0;  // input size, or the PRNG size; a sealed decryption drops its header
  uint64_t blocksPerPercent = 0;  // BlocksPerPercent = total size / 1616 + 1

  // Run state; every job starts from zero (ResetJobRunState).
  uint64_t blocksRemaining = 0;     // 16-byte blocks still to be read
  uint64_t inputRemaining = 0;      // input bytes still to be read
  uint32_t tail = 0;                // total size modulo 16
  uint64_t progressStep = 0;        // blocks per percent step; 0 when this job reports no progress
  uint64_t progressCounter = 0;     // blocks written since the last percent step
  std::atomic<uint8_t> percent{0};  // 0 to 100, read by the window thread
  bool lastBlock = false;           // the block just read is the last one
  uint32_t chunkOffset = 0;         // next block's offset in ChunkBuffer
  uint32_t chunkByteCount = 0;      // bytes of the last read, changed by padding; next write's size

  // Outcome.
  JobStatus status = JobStatus::EncryptionComplete;  // the console's exit code
  std::atomic<StopFlag> stopFlag{kRunning};          // StopFlag: written by Abort and the run
  IoError ioError = kNoIoError;                      // IoError: written by the run only
  // The file behind a failing status and why: the errno value (or the file layer's own reason,
  // file.h) at the failing call, 0 when the status says it all (a size rule, the same file).
  FaultFile faultFile = FaultFile::None;
  int faultCode = 0;
};

// The one 256 KiB buffer through which all file data passes.
extern uint8_t gChunkBuffer[kChunkSize];

// Percent, last-block flag, chunk offset, counters, StopFlag, IoError and the fault back to 0.
void ResetJobRunState(CipherJob& job);

// The first steps of PrepareJobFiles for a job with an input: opens it, applies the size rules and
// refuses an output that is the input. On failure: false, job.status and the fault set, nothing
// left open.
bool OpenJobInput(CipherJob& job);

// The refusals of the output's name that need nothing created (an existing name without
// Overwrite, a folder, device or another user's file there), as PrepareJobFiles would make them.
// A caller that must ask something first uses it to refuse early; PrepareJobFiles still decides.
bool CheckOutputName(CipherJob& job);

// Opens the input (unless PRNG), applies the size rules, refuses an output that is the input,
// creates the output (a temporary file beside an existing one it is to replace), tests the free
// space, truncates, computes BlocksPerPercent and resets the run state. On failure: false,
// job.status set, everything opened closed again, and a file created for the space test deleted.
bool PrepareJobFiles(CipherJob& job);

// Block count just before the run: a sealed decryption first takes its header off the total
// size, padded encryption adds its padding block, a tail adds a partial block, GCM decryption
// takes the tag's block off.
void CountBlocks(CipherJob& job);

// The end of a job's files. An existing output is replaced only by a job that succeeded.
//
// CloseJobFiles closes whichever files are still open and settles the output by the outcome:
// after a success (StopFlag still 0, status 0 to 2) as CommitJobOutput; otherwise a replacement
// is deleted and the existing file stays, while a new output stays as far as it was written.
void CloseJobFiles(CipherJob& job);
// Keeps what the job wrote: a replacement is flushed to disk and renamed over the output's name.
// A failing close, flush or rename is a write failure (RecordIoFailure: 21); the existing file
// then stays.
bool CommitJobOutput(CipherJob& job);
// Deletes what the job wrote: the replacement (the existing file stays) or the new output.
void DeleteJobOutput(CipherJob& job);

// Records a read (kReadFailed) or write (kWriteFailed) failure: the status (15 or 21), IoError
// and the fault (errno, so call it right after the failing call) of the first failure, and
// StopFlag. From then on nothing more is written.
void RecordIoFailure(CipherJob& job, IoError failure);

// Three ASCII digits with leading zeros, "000" to "100".
void FormatPercent(uint8_t percent, char digits[3]);

// The slow paths of ReadBlock and WriteBlock.
void RefillChunk(CipherJob& job);
Block FinishInput(CipherJob& job, Block block);
void StepPercent(CipherJob& job);
void FlushChunk(CipherJob& job);

// True when the run must not start another block (Abort, an I/O failure, a verdict).
inline bool StopRequested(const CipherJob& job) {
  return job.stopFlag.load(std::memory_order_relaxed) != kRunning;
}

// After an I/O failure, the console writes nothing more: no tag, no header patch.
inline bool MayFinishAfterStop(const CipherJob& job) {
  return !(job.host == JobHost::Console && job.ioError != kNoIoError);
}

// The next 16-byte input block (stale bytes beyond the input's end in a final partial block).
inline Block ReadBlock(CipherJob& job) {
  if (job.chunkOffset == 0) [[unlikely]]
    RefillChunk(job);
  const Block block = LoadBlock(gChunkBuffer + job.chunkOffset);
  if (--job.blocksRemaining == 0) [[unlikely]]
    return FinishInput(job, block);
  return block;
}

// Stores one output block in place; flushes when the chunk is full or the last block is in.
inline void WriteBlock(CipherJob& job, Block block) {
  if (++job.progressCounter == job.progressStep) [[unlikely]]
    StepPercent(job);
  const uint32_t offset = job.chunkOffset + 16;  // read once: the store below may alias the job
  StoreBlock(gChunkBuffer + offset - 16, block);
  job.chunkOffset = offset;
  if (offset == kChunkSize || job.lastBlock) [[unlikely]]
    FlushChunk(job);
}

}  // namespace engine
