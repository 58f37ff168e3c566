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

// What a test runs on: the software pair (GHASH by the tables), the hardware pair (GHASH by
// carry-less multiply), and the hardware pair with the tables, as on a processor with AES but
// without PCLMULQDQ.
enum class Backend : uint8_t { Software, Hardware, HardwareTables };
inline constexpr Backend kBackends[] = {Backend::Software, Backend::Hardware,
                                        Backend::HardwareTables};
const char* BackendName(Backend backend);

// Installs the backend for a test (`true`: Backend::Hardware); false when the processor lacks
// what it needs. The macro makes that case show as skipped, not passed.
bool UseBackend(Backend backend);
bool UseBackend(bool hardware);
#define USE_BACKEND_OR_SKIP(backend)                                          \
  do {                                                                        \
    if (!::testing_support::UseBackend(backend))                              \
      GTEST_SKIP() << "this processor lacks the instructions of the backend"; \
  } while (0)

}  // namespace testing_support
