// The file layer over POSIX descriptors.
#include "engine/file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace engine {

namespace {

const FileIoOverride* gIoOverride = nullptr;

int64_t RawRead(FileHandle file, void* data, size_t size) {
  if (gIoOverride != nullptr) {
    errno = EIO;  // what a failing override reports unless it says otherwise
    return gIoOverride->read(gIoOverride->context, file, data, size);
  }
  return read(file, data, size);
}

int64_t RawWrite(FileHandle file, const void* data, size_t size) {
  if (gIoOverride != nullptr) {
    errno = EIO;
    return gIoOverride->write(gIoOverride->context, file, data, size);
  }
  return write(file, data, size);
}

bool SameIdentity(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

constexpr mode_t kPrivateMode = 0600;

}  // namespace

FileHandle OpenInputFile(const char* path, bool sequential) {
  int fd;
  do {
    fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return kNoFile;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return kNoFile;
  }
  // O_NONBLOCK only kept a FIFO from blocking the open; regular files ignore it, but clear it.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (sequential) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return fd;
}

bool QueryFileSize(FileHandle file, uint64_t& size) {
  struct stat info;
  if (fstat(file, &info) != 0 || info.st_size < 0) return false;
  size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool IsSameFile(FileHandle file, const char* path) {
  struct stat open, named;
  return fstat(file, &open) == 0 && stat(path, &named) == 0 && SameIdentity(open, named);
}

CreateResult CreateOutputFile(const char* path, Disposition disposition, bool sequential,
                              FileHandle input, FileHandle& output) {
  output = kNoFile;
  struct stat existing;
  if (stat(path, &existing) == 0 && !S_ISREG(existing.st_mode)) return CreateResult::Failed;
  // O_NONBLOCK: a FIFO put in the file's place after the test above must not block the open.
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  // CreateAlways truncates only once the file is known not to be the input.
  if (disposition == Disposition::CreateNew) flags |= O_EXCL;
  int fd;
  do {
    fd = open(path, flags, kPrivateMode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return CreateResult::Failed;
  struct stat created;
  if (fstat(fd, &created) != 0 || !S_ISREG(created.st_mode)) {
    close(fd);
    return CreateResult::Failed;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  struct stat source;
  if (input != kNoFile && fstat(input, &source) == 0 && SameIdentity(source, created)) {
    close(fd);
    return CreateResult::SameAsInput;
  }
  if (disposition == Disposition::CreateAlways && created.st_size != 0 && ftruncate(fd, 0) != 0) {
    close(fd);
    return CreateResult::Failed;
  }
  if (sequential) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  output = fd;
  return CreateResult::Created;
}

bool ReserveFileSpace(FileHandle file, uint64_t size) {
  if (size == 0) return true;
  if (size > static_cast<uint64_t>(INT64_MAX)) return false;
  // Real blocks, not a sparse length. (posix_fallocate would instead write zeros through the
  // whole size where the file system cannot reserve.)
  int result;
  do {
    result = fallocate(file, 0, 0, static_cast<off_t>(size));
  } while (result != 0 && errno == EINTR);
  if (result == 0) return true;
  if (errno != EOPNOTSUPP) return false;
  // This file system cannot reserve blocks: compare its free space and set the length.
  struct statvfs volume;
  if (fstatvfs(file, &volume) != 0) return false;
  const uint64_t available = static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
  return available >= size && ftruncate(file, static_cast<off_t>(size)) == 0;
}

bool TruncateFile(FileHandle file, uint64_t length) {
  return ftruncate(file, static_cast<off_t>(length)) == 0 && SeekFile(file, 0);
}

void SettleTruncatedFile(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd >= 0) close(fd);
}

bool SeekFile(FileHandle file, uint64_t offset) {
  return lseek(file, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

int64_t ReadFull(FileHandle file, void* data, size_t size) {
  uint8_t* bytes = static_cast<uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    int64_t got = RawRead(file, bytes + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;  // end of file
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

bool WriteAll(FileHandle file, const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    int64_t put = RawWrite(file, bytes + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;  // an error, or no progress at all (a full device)
    done += static_cast<size_t>(put);
  }
  return true;
}

void CloseFile(FileHandle& file) {
  if (file == kNoFile) return;
  close(file);
  file = kNoFile;
}

bool DeleteFile(const char* path) {
  return unlink(path) == 0;
}

bool RestrictToOwner(FileHandle file) {
  return fchmod(file, S_IRUSR | S_IWUSR) == 0;
}

void SetFileIoOverride(const FileIoOverride* io) {
  gIoOverride = io;
}

}  // namespace engine
