// The file job: preparation of the files and the chunked block flow.
#include "engine/job.h"

#include <errno.h>

#include <algorithm>

namespace engine {

alignas(16) uint8_t gChunkBuffer[kChunkSize];

namespace {

constexpr uint64_t kProgressDivisor = 1616;  // 16 bytes a block x 101: at most 100 steps

// Closes the files; a replacement is deleted, a new output is kept or deleted as asked.
void ReleaseJobFiles(CipherJob& job, bool deleteNewOutput) {
  CloseFile(job.input);
  const bool wasOpen = job.output != kNoFile;
  CloseFile(job.output);
  if (job.partPath[0] != '\0') {
    DeleteFile(job.partPath);
    job.partPath[0] = '\0';
  } else if (wasOpen && deleteNewOutput) {
    DeleteFile(job.outputPath);
  }
}

// `fault` is the errno of the failing call, or 0 when the status is the whole reason.
bool Fail(CipherJob& job, JobStatus status, FaultFile file, int fault = 0) {
  ReleaseJobFiles(job, false);
  job.status = status;
  job.faultFile = file;
  job.faultCode = fault;
  return false;
}

bool FailInput(CipherJob& job, JobStatus status, int fault = 0) {
  return Fail(job, status, FaultFile::Input, fault);
}

// The size rules, in their order; the first failure wins.
bool SizeRulesPass(CipherJob& job) {
  const uint64_t size = job.totalSize;
  const bool decrypt = job.direction == Direction::Decrypt;
  if (job.kind == JobKind::Sealed) {
    if (decrypt) {
      if (size <= job.header->size) return FailInput(job, JobStatus::TooSmallForHeader);
      uint8_t version = 0;
      if (ReadFull(job.input, &version, 1) != 1 || !SeekFile(job.input, 0))
        return FailInput(job, JobStatus::InputUnreadable, errno);
      if (version != job.header->version) return FailInput(job, JobStatus::NotV1Header);
    } else if (size == 0) {
      return FailInput(job, JobStatus::InputEmpty);
    }
  } else {
    if (size == 0) return FailInput(job, JobStatus::InputEmpty);
    if (decrypt && job.mode == CipherMode::Gcm && size <= 16)
      return FailInput(job, JobStatus::TooSmallForTag);
    if (decrypt && IsPaddedMode(job.mode) && size % 16 != 0)
      return FailInput(job, JobStatus::NotMultipleOf16);
  }
  // Past 2^32 - 2 blocks the 32-bit GCM counter would wrap and reuse keystream and tag mask.
  const bool gcmEncrypt = !decrypt && (job.kind == JobKind::Sealed || job.mode == CipherMode::Gcm);
  if (gcmEncrypt && size > kMaxGcmEncryptBytes) return FailInput(job, JobStatus::TooLargeForGcm);
  return true;
}

}  // namespace

void ResetJobRunState(CipherJob& job) {
  job.blocksRemaining = 0;
  job.inputRemaining = 0;
  job.tail = 0;
  job.progressStep = 0;
  job.progressCounter = 0;
  job.percent.store(0, std::memory_order_relaxed);
  job.lastBlock = false;
  job.chunkOffset = 0;
  job.chunkByteCount = 0;
  job.stopFlag.store(kRunning, std::memory_order_relaxed);
  job.ioError = kNoIoError;
  job.faultFile = FaultFile::None;
  job.faultCode = 0;
}

bool OpenJobInput(CipherJob& job) {
  job.input = OpenInputFile(job.inputPath, job.kind == JobKind::KeyIv);
  if (job.input == kNoFile) return FailInput(job, JobStatus::InputUnreadable, errno);
  if (!QueryFileSize(job.input, job.totalSize))
    return FailInput(job, JobStatus::InputUnreadable, errno);
  if (!SizeRulesPass(job)) return false;
  // The input under another name (./f, a hard or symbolic link): refuse before anything
  // is created or truncated.
  if (IsSameFile(job.input, job.outputPath))
    return Fail(job, JobStatus::SameFile, FaultFile::Output);
  return true;
}

bool CheckOutputName(CipherJob& job) {
  if (!MayReplace(job.outputPath))
    return Fail(job, JobStatus::OutputUnwritable, FaultFile::Output, errno);
  if (job.disposition == Disposition::CreateNew && NameTaken(job.outputPath))
    return Fail(job, JobStatus::OutputUnwritable, FaultFile::Output, EEXIST);
  return true;
}

bool PrepareJobFiles(CipherJob& job) {
  job.input = kNoFile;
  job.output = kNoFile;
  job.partPath[0] = '\0';
  job.faultFile = FaultFile::None;
  job.faultCode = 0;
  if (job.kind == JobKind::Prng) {
    job.totalSize = kPrngBaseSize << std::min<uint8_t>(job.prngSizeIndex, 8);
  } else if (!OpenJobInput(job)) {
    return false;
  }

  switch (CreateOutputFile(job.outputPath, job.disposition, job.kind == JobKind::Sealed, job.input,
                           job.output, job.partPath, sizeof job.partPath)) {
    case CreateResult::Created:
      break;
    case CreateResult::SameAsInput:
      return Fail(job, JobStatus::SameFile, FaultFile::Output);
    case CreateResult::Failed:
      return Fail(job, JobStatus::OutputUnwritable, FaultFile::Output, errno);
  }

  // Free-space test: reserve the whole size (the input's, not the output's final length), then
  // set the length back to 0.
  if (!ReserveFileSpace(job.output, job.totalSize) || !TruncateFile(job.output, 0)) {
    const int fault = errno;
    ReleaseJobFiles(job, true);
    return Fail(job, JobStatus::NoSpace, FaultFile::Output, fault);
  }
  SettleTruncatedFile(job.partPath[0] != '\0' ? job.partPath : job.outputPath);

  job.blocksPerPercent = job.totalSize / kProgressDivisor + 1;
  ResetJobRunState(job);
  return true;
}

void CountBlocks(CipherJob& job) {
  const bool decrypt = job.direction == Direction::Decrypt;
  const bool keyIv = job.kind == JobKind::KeyIv;
  if (job.kind == JobKind::Sealed && decrypt) job.totalSize -= job.header->size;
  uint64_t blocks = job.totalSize / 16;
  job.tail = static_cast<uint32_t>(job.totalSize % 16);
  job.inputRemaining = job.totalSize;
  if (job.kind == JobKind::Prng) {
    // Whole chunks of pseudo-random bytes; nothing is read.
  } else if (keyIv && !decrypt && IsPaddedMode(job.mode)) {
    ++blocks;  // the padding block
  } else if (job.tail != 0) {
    ++blocks;  // the final partial block
  }
  if (keyIv && decrypt && job.mode == CipherMode::Gcm) {
    --blocks;  // the tag's block at the start of the file
    job.inputRemaining -= 16;
  }
  job.blocksRemaining = blocks;
  job.lastBlock = blocks == 0;
  job.chunkByteCount = job.kind == JobKind::Prng ? kChunkSize : 0;
  const bool reports = job.host == JobHost::Window || job.totalSize > kConsoleProgressThreshold;
  job.progressStep = reports ? job.blocksPerPercent : 0;
}

void RecordIoFailure(CipherJob& job, IoError failure) {
  if (job.ioError == kNoIoError) {
    const bool read = failure == kReadFailed;
    job.faultCode = errno;
    job.faultFile = read ? FaultFile::Input : FaultFile::Output;
    job.ioError = failure;
    job.status = read ? JobStatus::InputUnreadable : JobStatus::OutputUnwritable;
  }
  job.stopFlag.store(kStopRequested, std::memory_order_relaxed);
}

void RefillChunk(CipherJob& job) {
  if (job.kind == JobKind::Prng) return;  // the buffer's leftovers are the PRNG's input
  // Read exactly what the size measured at the start still promises: an input that shrank
  // under the job is a read failure, never stale buffer bytes passed on as data; bytes that
  // grew onto it are not part of this job.
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(kChunkSize, job.inputRemaining));
  const int64_t got = job.ioError == kNoIoError ? ReadFull(job.input, gChunkBuffer, wanted) : -1;
  if (got != static_cast<int64_t>(wanted)) {
    job.chunkByteCount = 0;
    RecordIoFailure(job, kReadFailed);
    return;
  }
  job.chunkByteCount = static_cast<uint32_t>(wanted);
  job.inputRemaining -= wanted;
}

Block FinishInput(CipherJob& job, Block block) {
  job.lastBlock = true;
  if (job.kind == JobKind::KeyIv && job.direction == Direction::Encrypt && IsPaddedMode(job.mode)) {
    // Padding: bytes tail..15 take the value p = 16 - tail (a whole block of 16s for tail 0).
    const uint8_t pad = static_cast<uint8_t>(16 - job.tail);
    for (uint32_t i = job.tail; i < 16; ++i)
      block[i] = pad;
    job.chunkByteCount += pad;
  }
  return block;
}

void StepPercent(CipherJob& job) {
  job.progressCounter = 0;
  const uint8_t percent = job.percent.load(std::memory_order_relaxed);
  if (percent >= 100) return;  // a small job can have 101 steps; the percent stops at 100
  job.percent.store(static_cast<uint8_t>(percent + 1), std::memory_order_relaxed);
  if (job.onProgress != nullptr) job.onProgress(job, job.progressContext);
}

void FlushChunk(CipherJob& job) {
  const uint32_t end = job.chunkOffset;
  uint32_t count = job.chunkByteCount;
  job.chunkOffset = 0;
  if (job.ioError != kNoIoError) return;  // after a failure nothing more is written
  if (job.lastBlock && job.kind == JobKind::KeyIv && job.direction == Direction::Decrypt &&
      IsPaddedMode(job.mode)) {
    // Padding removal: only the last byte is examined; a value outside 1..16 removes nothing.
    const uint8_t pad = gChunkBuffer[end - 1];
    if (pad >= 1 && pad <= 16) count -= std::min<uint32_t>(pad, count);
  }
  if (count == 0) return;  // trimming took the whole final chunk
  if (!WriteAll(job.output, gChunkBuffer, count)) RecordIoFailure(job, kWriteFailed);
}

void CloseJobFiles(CipherJob& job) {
  const bool succeeded = job.stopFlag.load(std::memory_order_relaxed) == kRunning &&
                         job.status <= JobStatus::PrngComplete;
  if (succeeded) {
    CommitJobOutput(job);
  } else {
    ReleaseJobFiles(job, false);
  }
}

bool CommitJobOutput(CipherJob& job) {
  CloseFile(job.input);
  if (job.output == kNoFile) return true;
  const bool replacing = job.partPath[0] != '\0';
  const bool kept = replacing ? CommitReplacement(job.output, job.partPath, job.outputPath)
                              : CloseOutputFile(job.output);
  job.partPath[0] = '\0';
  if (!kept) RecordIoFailure(job, kWriteFailed);
  return kept;
}

void DeleteJobOutput(CipherJob& job) {
  ReleaseJobFiles(job, true);
}

void FormatPercent(uint8_t percent, char digits[3]) {
  digits[0] = static_cast<char>('0' + percent / 100);
  digits[1] = static_cast<char>('0' + percent / 10 % 10);
  digits[2] = static_cast<char>('0' + percent % 10);
}

}  // namespace engine
