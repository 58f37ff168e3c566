// The generator's cost per call, and a pseudo-random file of 1 GiB timed beside `openssl rand`
// writing the same size in the same run.
//
//   random_bench [folder]     (default $TMPDIR or /tmp; the two files are deleted afterwards)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "engine/backend.h"
#include "engine/job.h"
#include "engine/modes.h"
#include "keys/random.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Index 4: 1 GiB, through the real job as the console runs it.
double WritePrngFile(const std::string& path, engine::JobStatus& status) {
  engine::CipherJob job;
  job.kind = engine::JobKind::Prng;
  job.prngSizeIndex = 4;
  job.disposition = engine::Disposition::CreateAlways;
  snprintf(job.outputPath, sizeof job.outputPath, "%s", path.c_str());
  const Clock::time_point start = Clock::now();
  if (engine::PrepareJobFiles(job)) keys::PrngFileRun(job);
  engine::CloseJobFiles(job);
  const double seconds = SecondsSince(start);
  engine::WipeJobSecrets(job);
  status = job.status;
  return seconds;
}

double RunOpenSslRand(const std::string& path) {
  const std::string command = "openssl rand -out '" + path + "' 1073741824";
  const Clock::time_point start = Clock::now();
  const int result = system(command.c_str());
  const double seconds = SecondsSince(start);
  return result == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = getenv("TMPDIR");
  const std::string folder = argc > 1 ? argv[1] : (tmp != nullptr && *tmp ? tmp : "/tmp");
  engine::BuildAesTables();
  engine::SelectAesBackend(engine::ReadCpuFeatures());

  uint8_t random[32];
  double best = 1e9, total = 0;
  constexpr int kCalls = 10;
  for (int i = 0; i < kCalls; ++i) {
    const Clock::time_point start = Clock::now();
    keys::GenerateRandom(engine::KeySize::Bits256, random);
    const double seconds = SecondsSince(start);
    total += seconds;
    if (seconds < best) best = seconds;
  }
  printf("GenerateRandom: %.1f ms per call on average, %.1f ms at best (%d calls)\n",
         1e3 * total / kCalls, 1e3 * best, kCalls);

  const std::string ours = folder + "/random_bench.prng";
  const std::string theirs = folder + "/random_bench.openssl";
  for (int run = 0; run < 3; ++run) {
    sync();
    engine::JobStatus status;
    const double ourSeconds = WritePrngFile(ours, status);
    unlink(ours.c_str());
    sync();
    const double theirSeconds = RunOpenSslRand(theirs);
    unlink(theirs.c_str());
    printf(
        "1 GiB pseudo-random file: ours %.2f s (%.0f MB/s, status %d), openssl rand %.2f s "
        "(%.0f MB/s), ratio %.2f\n",
        ourSeconds, 1073.741824 / ourSeconds, static_cast<int>(status), theirSeconds,
        theirSeconds > 0 ? 1073.741824 / theirSeconds : 0.0,
        theirSeconds > 0 ? theirSeconds / ourSeconds : 0.0);
  }
  return 0;
}
