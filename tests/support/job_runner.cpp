// Runs a key/IV file job end to end through the real engine, as a program would.
#include "tests/support/job_runner.h"

#include <gtest/gtest.h>
#include <string.h>

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
  uint8_t percent = job.percent.load();
  ++log->reports;
  log->last = percent;
  log->max = std::max(log->max, percent);
  if (percent == log->stopAtPercent) log->job->stopFlag.store(engine::kStopRequested);
}

void CopyPath(char (&target)[engine::kPathCapacity], const std::string& path) {
  memset(target, 0, sizeof target);
  memcpy(target, path.data(), std::min(path.size(), sizeof target - 1));
}

}  // namespace

void BuildTablesOnce() {
  static std::once_flag once;
  std::call_once(once, [] { engine::BuildAesTables(); });
}

bool UseBackend(bool hardware) {
  BuildTablesOnce();
  return engine::ForceAesBackend(hardware);
}

FileJobResult RunFileJob(const FileJobSpec& spec) {
  BuildTablesOnce();
  engine::CipherJob job;
  job.host = spec.host;
  job.kind = spec.kind;
  job.header = &kSealedHeader;
  job.direction = spec.direction;
  job.keySize = spec.keySize;
  job.mode = spec.mode;
  std::copy_n(spec.key.begin(), std::min(spec.key.size(), sizeof job.key), job.key);
  std::copy_n(spec.iv.begin(), std::min(spec.iv.size(), sizeof job.iv), job.iv);
  CopyPath(job.inputPath, spec.input);
  CopyPath(job.outputPath, spec.output);
  job.disposition = spec.disposition;
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
  result.progressReports = log.reports;
  result.lastPercent = log.last;
  result.maxPercent = log.max;
  return result;
}

}  // namespace testing_support
