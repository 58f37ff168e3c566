// What both platforms' file layers share: whole transfers over their single calls (short
// transfers and interruptions retried), and the name of a replacement's temporary file.
#include <errno.h>
#include <string.h>

#include <algorithm>

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

char* MakePartName(const char* path, size_t folderLength, char* part, size_t partCapacity) {
  static constexpr char kSuffix[] = ".part-XXXXXX";
  constexpr size_t kMaxNameBytes = 255;  // one folder entry
  const size_t nameLength = std::min(strlen(path + folderLength), kMaxNameBytes - kPartNameExtra);
  errno = ENAMETOOLONG;
  if (partCapacity == 0) return nullptr;
  part[0] = '\0';
  if (nameLength == 0 || folderLength + nameLength + kPartNameExtra >= partCapacity) return nullptr;
  memcpy(part, path, folderLength);
  part[folderLength] = '.';
  memcpy(part + folderLength + 1, path + folderLength, nameLength);
  char* const suffix = part + folderLength + 1 + nameLength;
  memcpy(suffix, kSuffix, sizeof kSuffix);
  return suffix + sizeof kSuffix - 1 - 6;  // the six X's
}

}  // namespace engine
