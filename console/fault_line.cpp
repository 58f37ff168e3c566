// The standard-error line of a failure: the file and the system's reason, or the rule it broke.
#include "console/fault_line.h"

#include <errno.h>
#include <string.h>

#include "console/terminal.h"

namespace console {

namespace {

using engine::JobStatus;

// The reason the status alone gives, where no call failed (a size rule, the same file).
const char* StatusReason(JobStatus status) {
  switch (status) {
    case JobStatus::SameFile:
      return "same file as the input";
    case JobStatus::InputUnreadable:
      return "could not be read";
    case JobStatus::InputEmpty:
      return "the file is empty";
    case JobStatus::NotMultipleOf16:
      return "the size is not a multiple of 16 bytes";
    case JobStatus::TooSmallForTag:
      return "too small to hold a GCM authentication tag";
    case JobStatus::TooSmallForHeader:
      return "too small to hold an encryption header";
    case JobStatus::NotV1Header:
      return "not a sealed file of version 1";
    case JobStatus::OutputUnwritable:
      return "could not be written";
    case JobStatus::NoSpace:
      return "not enough space";
    case JobStatus::TooLargeForGcm:
      return "too large for GCM encryption";
    default:
      return nullptr;
  }
}

const char* FaultReason(const engine::CipherJob& job) {
  switch (job.faultCode) {
    case 0:
      return StatusReason(job.status);
    case engine::kNotRegularFile:
      return "not a regular file";
    case engine::kOtherUsersFile:
      return "belongs to another user";
    case engine::kEndedEarly:
      return "the file ended early (did it change during the job?)";
    case EEXIST:
      if (job.faultFile == engine::FaultFile::Output &&
          job.disposition == engine::Disposition::CreateNew)
        return "file exists (add Overwrite to replace it)";
      break;
  }
  return SystemErrorText(job.faultCode);
}

void Append(char* line, size_t capacity, size_t& used, const char* text, size_t count) {
  count = strnlen(text, count);
  if (count > capacity - used) count = capacity - used;
  memcpy(line + used, text, count);
  used += count;
}

// The path with each control byte shown as \xNN: a name may hold newlines or a terminal's escape
// sequences, which must not reach the terminal raw.
void AppendPath(char* line, size_t capacity, size_t& used, const char* path) {
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < engine::kPathCapacity && path[i] != '\0' && used < capacity; ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (byte >= 0x20 && byte != 0x7f) {
      line[used++] = path[i];
    } else if (capacity - used >= 4) {
      const char escaped[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
      Append(line, capacity, used, escaped, sizeof escaped);
    } else {
      break;
    }
  }
}

}  // namespace

void ReportJobFault(const engine::CipherJob& job) {
  const engine::FaultFile file = job.faultFile;
  if (job.status <= JobStatus::WrongTag || file == engine::FaultFile::None) return;
  const char* reason = FaultReason(job);
  if (reason == nullptr) return;
  ReportFault(file == engine::FaultFile::Input ? job.inputPath : job.outputPath, reason);
}

void ReportFault(const char* path, const char* reason) {
  char line[4 * engine::kPathCapacity + 160];  // the reasons are short; a longer one is cut
  const size_t capacity = sizeof line - 1;
  size_t used = 0;
  Append(line, capacity, used, "aestarnex: ", SIZE_MAX);
  if (path != nullptr) {
    AppendPath(line, capacity, used, path);
    Append(line, capacity, used, ": ", SIZE_MAX);
  }
  Append(line, capacity, used, reason, SIZE_MAX);
  line[used++] = '\n';
  WriteError(line, used);
}

}  // namespace console
