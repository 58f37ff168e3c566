// Fault injection under the file layer: one raw read or write call, chosen by its file position,
// fails, stalls, moves only part of its bytes or is interrupted, or the output's close fails.
#pragma once

#include <stdint.h>

#include <atomic>

#include "engine/file.h"

namespace testing_support {

enum class Fault : uint8_t {
  None,
  Fail,        // -1 with EIO
  Interrupt,   // -1 with EINTR, once; the retry goes through
  NoProgress,  // a write that moves nothing (returns 0)
  Partial,     // moves half of the bytes; the retry moves the rest
  EndOfFile,   // reads: the file seems to end at `at` (the input shrank under the job)
  Hold,        // writes: waits until Release(), then goes through (a job caught mid-run)
};

struct FaultPlan {
  Fault readFault = Fault::None;
  uint64_t readAt = 0;  // input position of the faulty read
  Fault writeFault = Fault::None;
  uint64_t writeAt = 0;     // output position of the faulty write
  int writeOccurrence = 1;  // which write at that position (a GCM tag is the second write at 0)
  bool closeFails = false;  // the output's close reports EIO (after closing it)
};

struct FaultLog {
  int faultsFired = 0;       // raw calls that got a fault
  int writesAfterFault = 0;  // write calls made after the last fault
};

// Installs the override for its lifetime and restores the real calls on destruction.
class ScopedFileIo {
 public:
  explicit ScopedFileIo(const FaultPlan& plan);
  ~ScopedFileIo();
  ScopedFileIo(const ScopedFileIo&) = delete;
  ScopedFileIo& operator=(const ScopedFileIo&) = delete;

  const FaultLog& log() const { return log_; }
  // A held write: whether one is waiting, and letting it go.
  bool Holding() const { return holding_.load(); }
  void Release() { released_.store(true); }

 private:
  static int64_t Read(void* context, engine::FileHandle file, void* data, size_t size);
  static int64_t Write(void* context, engine::FileHandle file, const void* data, size_t size);
  static int Close(void* context, engine::FileHandle file);

  FaultPlan plan_;
  FaultLog log_;
  int writesSeenAtPosition_ = 0;
  bool readFired_ = false;
  bool writeFired_ = false;
  std::atomic<bool> holding_{false};
  std::atomic<bool> released_{false};
  engine::FileIoOverride io_;
};

}  // namespace testing_support
