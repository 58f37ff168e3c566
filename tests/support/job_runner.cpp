// Runs a key/IV file job end to end through the real engine, as a program would.
#include "tests/support/job_runner.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <mutex>

#include "engine/aes.h"
#include "engine/modes.h"

namespace testing_support {

namespace {

struct ProgressLog {
  engine::CipherJob* job;
  int stopAtPercent;
  int reports = 0;
  uint8_t last = 0;
  uint8_t max = 0;
};

void RecordProgress(const engine::CipherJob& job, void* context) {
  auto* log = static_cast<ProgressLog*>(context);
  log->last = job.percent.load();
  log->max = std::max(log->max, log->last);
  ++log->reports;
  if (log->last == log->stopAtPercent) log->job->stopFlag.store(engine::kStopRequested);
}

}  // namespace

void BuildTablesOnce() {
  static std::once_flag once;
  std::call_once(once, [] { engine::BuildAesTables(); });
}

const char* BackendName(Backend backend) {
  static const char* const kNames[] = {"Software", "Hardware", "HardwareTables"};
  return kNames[static_cast<int>(backend)];
}

bool UseBackend(Backend backend) {
  BuildTablesOnce();
  const bool installed =
      engine::ForceAesBackend(backend != Backend::Software, backend == Backend::HardwareTables);
  // Either GHASH passes every vector: only this tells the one asked for from the other.
  if (installed) {
    EXPECT_EQ(engine::CurrentGhashPath() == engine::GhashPath::Clmul, backend == Backend::Hardware);
  }
  return installed;
}

bool UseBackend(bool hardware) {
  return UseBackend(hardware ? Backend::Hardware : Backend::Software);
}

void FillJob(engine::CipherJob& job, const FileJobSpec& spec) {
  job.host = spec.host;
  job.kind = spec.kind;
  job.header = &kSealedHeader;
  job.direction = spec.direction;
  job.keySize = spec.keySize;
  job.mode = spec.mode;
  std::copy_n(spec.key.begin(), std::min(spec.key.size(), sizeof job.key), job.key);
  std::copy_n(spec.iv.begin(), std::min(spec.iv.size(), sizeof job.iv), job.iv);
  snprintf(job.inputPath, sizeof job.inputPath, "%s", spec.input.c_str());
  snprintf(job.outputPath, sizeof job.outputPath, "%s", spec.output.c_str());
  job.disposition = spec.disposition;
}

FileJobResult RunFileJob(const FileJobSpec& spec) {
  BuildTablesOnce();
  engine::CipherJob job;
  FillJob(job, spec);
  ProgressLog log{&job, spec.stopAtPercent};
  job.onProgress = RecordProgress;
  job.progressContext = &log;

  FileJobResult result{};
  result.prepared = engine::PrepareJobFiles(job);
  if (result.prepared && spec.stopAtPercent == 0) job.stopFlag.store(engine::kStopRequested);
  if (result.prepared) engine::RunCipherJob(job);
  engine::CloseJobFiles(job);
  engine::WipeJobSecrets(job);
  result.status = job.status;
  result.stopFlag = job.stopFlag.load();
  result.ioError = job.ioError;
  result.faultFile = job.faultFile;
  result.faultCode = job.faultCode;
  result.progressReports = log.reports;
  result.lastPercent = log.last;
  result.maxPercent = log.max;
  return result;
}

}  // namespace testing_support
