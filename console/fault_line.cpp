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

const char* FaultCodeReason(const engine::CipherJob& job) {
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
// sequences, which must not reach the terminal raw. The C1 controls count too, in the two-byte
// form UTF-8 gives them (C2 80 to C2 9F), since terminals act on them there as well.
void AppendPath(char* line, size_t capacity, size_t& used, const char* path) {
  static const char kHex[] = "0123456789abcdef";
  const size_t length = strnlen(path, engine::kPathCapacity);
  for (size_t i = 0; i < length && used < capacity;) {
    const auto byte = static_cast<unsigned char>(path[i]);
    const auto next = static_cast<unsigned char>(i + 1 < length ? path[i + 1] : 0);
    size_t control = 0;  // the bytes of a control character that starts here
    if (byte < 0x20 || byte == 0x7f) control = 1;
    if (byte == 0xc2 && next >= 0x80 && next <= 0x9f) control = 2;
    if (control == 0) {
      line[used++] = path[i++];
      continue;
    }
    if (capacity - used < 4 * control) break;
    for (; control > 0; --control, ++i) {
      const auto escaping = static_cast<unsigned char>(path[i]);
      const char escaped[] = {'\\', 'x', kHex[escaping >> 4], kHex[escaping & 15]};
      Append(line, capacity, used, escaped, sizeof escaped);
    }
  }
}

}  // namespace

const char* JobFaultReason(const engine::CipherJob& job) {
  if (job.status <= JobStatus::WrongTag || job.faultFile == engine::FaultFile::None) return nullptr;
  return FaultCodeReason(job);
}

const char* JobFaultPath(const engine::CipherJob& job) {
  return job.faultFile == engine::FaultFile::Input ? job.inputPath : job.outputPath;
}

void ReportJobFault(const engine::CipherJob& job) {
  const char* reason = JobFaultReason(job);
  if (reason != nullptr) ReportFault(JobFaultPath(job), reason);
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
