// The line on standard error that says which file a failure concerns and why; standard output
// keeps its one final line.
#pragma once

#include "engine/job.h"

namespace console {

// "aestarnex: notes.txt: No such file or directory" for the file a failed job names (its
// faultFile and faultCode); nothing for a job that succeeded or met a wrong tag (the final line
// says all there is).
void ReportJobFault(const engine::CipherJob& job);

// Why the file a failed job names failed: the system's text or the rule it broke; null when the
// final line says all there is.
const char* JobFaultReason(const engine::CipherJob& job);
// The path of that file: the input's or the output's.
const char* JobFaultPath(const engine::CipherJob& job);

// "aestarnex: <path>: <reason>", or "aestarnex: <reason>" without a path. Long paths are cut.
void ReportFault(const char* path, const char* reason);

}  // namespace console
