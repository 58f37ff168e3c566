// Runs a key/IV file job end to end through the real engine, as a program would.
#pragma once

#include <string>
#include <type_traits>

#include "engine/backend.h"
#include "engine/job.h"
#include "tests/support/test_files.h"

namespace testing_support {

// The sealed file's header as the engine sees it (45 bytes, version 1), for engine tests that
// run JobKind::Sealed without the keys library.
inline constexpr engine::HeaderFormat kSealedHeader{45, 1};

struct FileJobSpec {
  engine::JobHost host = engine::JobHost::Console;
  engine::JobKind kind = engine::JobKind::KeyIv;
  engine::Direction direction = engine::Direction::Encrypt;
  engine::KeySize keySize = engine::KeySize::Bits256;
  engine::CipherMode mode = engine::CipherMode::Cbc;
  Bytes key;  // 16, 24 or 32 bytes as the key size wants
  Bytes iv;   // 16 bytes (GCM: the first 12 are used); empty means zeros
  std::string input;
  std::string output;
  engine::Disposition disposition = engine::Disposition::CreateAlways;
  // The window's Abort: StopFlag raised when this percent is reported, or with 0 right after the
  // files are prepared (before the first block); -1 never.
  int stopAtPercent = -1;
};

struct FileJobResult {
  engine::JobStatus status;
  engine::StopFlag stopFlag;
  engine::IoError ioError;
  engine::FaultFile faultFile;
  int faultCode;        // errno of the failing call
  bool prepared;        // PrepareJobFiles succeeded and the run took place
  int progressReports;  // calls of the progress callback
  uint8_t lastPercent;  // percent at the last report
  uint8_t maxPercent;   // highest percent reported
};

// Fills a CipherJob from the request, prepares the files, runs the job, closes the files and wipes
// the job's secrets.
FileJobResult RunFileJob(const FileJobSpec& spec);

// Fills a job record as RunFileJob does, for tests that act between the steps.
void FillJob(engine::CipherJob& job, const FileJobSpec& spec);

// Builds the AES tables once per test process.
void BuildTablesOnce();

// Installs the hardware or software AES pair for a test; false when the hardware pair is asked
// for but missing. The macro makes that case show as skipped, not passed.
bool UseBackend(bool hardware);
#define USE_BACKEND_OR_SKIP(hardware)                           \
  do {                                                          \
    if (!::testing_support::UseBackend(hardware))               \
      GTEST_SKIP() << "this processor has no AES instructions"; \
  } while (0)

}  // namespace testing_support
