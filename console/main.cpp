// aestarnex: one command line, one job, one final line, and the outcome as the exit code.
#include "console/command_line.h"
#include "console/runs.h"
#include "console/system_io.h"
#include "engine/aes.h"
#include "engine/backend.h"
#include "engine/file.h"
#include "engine/modes.h"
#include "keys/core_dumps.h"

int main(int argc, char** argv) {
  engine::OpenStandardDescriptors();  // before any file: no job file may become 0, 1 or 2
  keys::ForbidCoreDumps();
  const engine::CpuFeatures features = engine::ReadCpuFeatures();
  if (!engine::PassesProcessorCheck(features)) {
    console::PrintLine(engine::kProcessorRefusal);
    return 0;
  }
  engine::SelectAesBackend(features);

  static engine::CipherJob job;  // one per process
  const char* finalLine;
  {
    console::CommandLine line;
    console::TakeCommandLine(argc, argv, line);
    console::ReadCommandLine(line, job);
    const console::ParseResult parsed = console::ParseArguments(line, job);
    if (!parsed.ok) {
      console::PrintLine(parsed.text);
      engine::WipeJobSecrets(job);
      return static_cast<int>(parsed.status);
    }
    engine::BuildAesTables();
    engine::ResetJobRunState(job);
    finalLine = parsed.function == console::ConsoleFunction::Praxel ? console::RunPassphrase(job)
                                                                    : console::RunKeyIv(job);
  }
  console::PrintLine(finalLine);  // the runs closed the files: a failing close is their outcome
  engine::WipeJobSecrets(job);
  return static_cast<int>(job.status);
}
