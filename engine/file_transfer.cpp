// Whole transfers over the platform's single calls: short transfers and interruptions retried.
#include <errno.h>

#include "engine/file.h"

namespace engine {

int64_t ReadFull(FileHandle file, void* data, size_t size) {
  // A pipe or a network file may hand back fewer bytes than asked before its end.
  uint8_t* bytes = static_cast<uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    const int64_t got = RawRead(file, bytes + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) {
      errno = kEndedEarly;  // for a caller that needed the whole size
      break;
    }
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

bool WriteAll(FileHandle file, const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    const int64_t put = RawWrite(file, bytes + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put == 0) errno = ENOSPC;  // no progress at all: a full device
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

}  // namespace engine
