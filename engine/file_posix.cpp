// The file layer over POSIX descriptors.
#include "engine/file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>

namespace engine {

namespace {

const FileIoOverride* gIoOverride = nullptr;

}  // namespace

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

namespace {

bool SameIdentity(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

constexpr mode_t kPrivateMode = 0600;

// A new file, never an existing one and never through a link.
int CreateExclusive(const char* path) {
  int fd;
  do {
    fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, kPrivateMode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

void OpenStandardDescriptors() {
  // open takes the lowest free number: going up from 0, that is the one just found closed.
  for (int descriptor = 0; descriptor <= 2; ++descriptor)
    if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) open("/dev/null", O_RDWR);
}

FileHandle OpenInputFile(const char* path, bool sequential) {
  int fd;
  do {
    fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return kNoFile;
  struct stat info;
  const bool examined = fstat(fd, &info) == 0;
  if (!examined || !S_ISREG(info.st_mode)) {
    const int fault = examined ? kNotRegularFile : errno;
    close(fd);
    errno = fault;
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

bool IdentifyFile(const char* path, FileIdentity& identity) {
  struct stat info;
  if (stat(path, &info) != 0) return false;
  identity = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  return true;
}

CreateResult CreateOutputFile(const char* path, Disposition disposition, bool sequential,
                              FileHandle input, FileHandle& output, char* part,
                              size_t partCapacity) {
  output = kNoFile;
  if (partCapacity > 0) part[0] = '\0';
  int fd = CreateExclusive(path);
  if (fd < 0 && errno == EEXIST) {
    if (!MayReplace(path)) return CreateResult::Failed;  // MayReplace left the reason
    errno = EEXIST;
    if (disposition == Disposition::CreateNew) return CreateResult::Failed;
    if (input != kNoFile && IsSameFile(input, path)) return CreateResult::SameAsInput;
    fd = CreatePartFile(path, part, partCapacity);
  }
  if (fd < 0) return CreateResult::Failed;
  if (sequential) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  output = fd;
  return CreateResult::Created;
}

bool MayReplace(const char* path) {
  struct stat existing;
  if (lstat(path, &existing) != 0) return errno == ENOENT;
  errno = kNotRegularFile;
  if (!S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode)) return false;
  // A link to a folder, device or pipe (/dev/stdout) names no file that a file should replace.
  struct stat target;
  if (S_ISLNK(existing.st_mode) && stat(path, &target) == 0 && !S_ISREG(target.st_mode)) {
    errno = kNotRegularFile;
    return false;
  }
  // In a shared folder another user's file may be planted to receive what is written.
  errno = kOtherUsersFile;
  return existing.st_uid == geteuid();
}

bool NameTaken(const char* path) {
  struct stat existing;
  return lstat(path, &existing) == 0;
}

FileHandle CreatePartFile(const char* path, char* part, size_t partCapacity) {
  const char* slash = strrchr(path, '/');
  const size_t folderLength = slash == nullptr ? 0 : static_cast<size_t>(slash - path) + 1;
  if (MakePartName(path, folderLength, part, partCapacity) == nullptr) return kNoFile;
  // Created exclusively (never through a link) with a random suffix; the umask must not make
  // the result anything but private.
  const int fd = mkostemp(part, O_CLOEXEC);
  if (fd < 0) {
    part[0] = '\0';
    return kNoFile;
  }
  if (fchmod(fd, kPrivateMode) != 0) {
    const int fault = errno;
    close(fd);
    unlink(part);
    part[0] = '\0';
    errno = fault;
    return kNoFile;
  }
  return fd;
}

bool CommitReplacement(FileHandle& file, const char* part, const char* path) {
  // Flushed first: a crash after the rename must not leave an empty or partial file in place of
  // the one it replaced.
  bool done = fsync(file) == 0;
  done = CloseOutputFile(file) && done;
  done = done && rename(part, path) == 0;
  if (!done) {
    const int fault = errno;
    unlink(part);
    errno = fault;
  }
  return done;
}

bool ReserveFileSpace(FileHandle file, uint64_t size) {
  if (size == 0) return true;
  errno = EFBIG;
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
  errno = ENOSPC;
  return available >= size && ftruncate(file, static_cast<off_t>(size)) == 0;
}

bool TruncateFile(FileHandle file, uint64_t length) {
  return ftruncate(file, static_cast<off_t>(length)) == 0 && SeekFile(file, 0);
}

void SettleTruncatedFile(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
  if (fd >= 0) close(fd);
}

bool SeekFile(FileHandle file, uint64_t offset) {
  return lseek(file, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

void CloseFile(FileHandle& file) {
  if (file == kNoFile) return;
  close(file);
  file = kNoFile;
}

bool CloseOutputFile(FileHandle& file) {
  if (file == kNoFile) return true;
  int result;
  if (gIoOverride != nullptr && gIoOverride->close != nullptr) {
    errno = EIO;
    result = gIoOverride->close(gIoOverride->context, file);
  } else {
    result = close(file);
  }
  file = kNoFile;  // released even when the close reports an error
  return result == 0;
}

bool DeleteFile(const char* path) {
  return unlink(path) == 0;
}

void SetFileIoOverride(const FileIoOverride* io) {
  gIoOverride = io;
}

}  // namespace engine
