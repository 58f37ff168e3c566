// aestarnex: one command line, one job, one final line, and the outcome as the exit code.
#include "console/command_line.h"
#include "console/fault_line.h"
#include "console/prompt.h"
#include "console/runs.h"
#include "console/terminal.h"
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
  switch (console::LeadingShellOption(argc, argv)) {
    case console::ShellOption::Help:
      console::PrintLine(console::UsageText());
      return 0;
    case console::ShellOption::Version:
      console::PrintLine(console::VersionText());
      return 0;
    case console::ShellOption::None:
      break;
  }

  static engine::CipherJob job;  // one per process
  const char* finalLine;
  {
    console::CommandLine line;
    console::TakeCommandLine(argc, argv, line);
    console::ReadCommandLine(line, job);
    const console::ParseResult parsed =
        console::AskForPassphrase(line, console::ParseArguments(line, job), job);
    if (!parsed.ok) {
      if (parsed.faultReason != nullptr) console::ReportFault(parsed.faultPath, parsed.faultReason);
      console::PrintLine(parsed.text);
      engine::WipeJobSecrets(job);
      return static_cast<int>(parsed.status);
    }
    engine::BuildAesTables();
    engine::ResetJobRunState(job);
    finalLine = parsed.function == console::ConsoleFunction::Praxel ? console::RunPassphrase(job)
                                                                    : console::RunKeyIv(job);
  }
  console::ReportJobFault(job);
  console::PrintLine(finalLine);  // the runs closed the files: a failing close is their outcome
  engine::WipeJobSecrets(job);
  return static_cast<int>(job.status);
}
