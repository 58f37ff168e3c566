// The file layer over kernel32 handles: the same effects as the POSIX layer.

// Before windows.h, whose DeleteFile macro would otherwise rename the layer's own function.
#include "engine/file.h"

#include <windows.h>
#undef DeleteFile

#include <errno.h>
#include <string.h>

#include <algorithm>

namespace engine {

namespace {

const FileIoOverride* gIoOverride = nullptr;

// Why a call failed goes to errno, as in the POSIX layer: Windows' error code becomes the nearest
// C library number, whose text the console prints.
int ErrnoFor(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return EINVAL;
    default:
      return EIO;
  }
}

void KeepLastError() {
  errno = ErrnoFor(GetLastError());
}

HANDLE AsHandle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

FileHandle AsFile(HANDLE handle) {
  return reinterpret_cast<FileHandle>(handle);  // INVALID_HANDLE_VALUE becomes kNoFile
}

// ReadFile and WriteFile count in 32 bits; a chunk is far below this.
constexpr size_t kMaxTransfer = 1u << 30;

}  // namespace

int64_t RawRead(FileHandle file, void* data, size_t size) {
  if (gIoOverride != nullptr) {
    errno = EIO;  // what a failing override reports unless it says otherwise
    return gIoOverride->read(gIoOverride->context, file, data, size);
  }
  DWORD got = 0;
  if (!ReadFile(AsHandle(file), data, static_cast<DWORD>(std::min(size, kMaxTransfer)), &got,
                nullptr)) {
    KeepLastError();
    return -1;
  }
  return got;
}

int64_t RawWrite(FileHandle file, const void* data, size_t size) {
  if (gIoOverride != nullptr) {
    errno = EIO;
    return gIoOverride->write(gIoOverride->context, file, data, size);
  }
  DWORD put = 0;
  if (!WriteFile(AsHandle(file), data, static_cast<DWORD>(std::min(size, kMaxTransfer)), &put,
                 nullptr)) {
    KeepLastError();
    return -1;
  }
  return put;
}

namespace {

DWORD SequentialFlag(bool sequential) {
  return FILE_ATTRIBUTE_NORMAL | (sequential ? FILE_FLAG_SEQUENTIAL_SCAN : 0);
}

// A file on a disk: not a folder, a device (NUL, CON, COM1) or a pipe.
bool IsRegularFile(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool HandleIdentity(HANDLE handle, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  identity = {info.dwVolumeSerialNumber,
              (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return true;
}

// Opens a name only to look at it: no data access, so no share mode of another opener refuses
// it; a folder opens too.
HANDLE OpenToLookAt(const char* path) {
  return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// A new file, never an existing one; no sharing while the job writes it.
HANDLE CreateExclusive(const char* path, bool sequential) {
  return CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, SequentialFlag(sequential),
                     nullptr);
}

// Six characters for a temporary name; CREATE_NEW, not the name, keeps the file exclusive.
void FillSuffix(char* at, uint64_t seed) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int i = 0; i < 6; ++i) {
    at[i] = kAlphabet[seed % 36];
    seed /= 36;
  }
}

// CreatePartFile, with the job's sequential hint.
HANDLE CreatePart(const char* path, char* part, size_t partCapacity, bool sequential) {
  const char* separator = nullptr;  // the last of \ / and the colon of a drive ("d:name")
  for (const char* c = path; *c != '\0'; ++c)
    if (*c == '\\' || *c == '/' || *c == ':') separator = c;
  const size_t folderLength = separator == nullptr ? 0 : static_cast<size_t>(separator - path) + 1;
  char* const suffix = MakePartName(path, folderLength, part, partCapacity);
  if (suffix == nullptr) return INVALID_HANDLE_VALUE;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  uint64_t seed = static_cast<uint64_t>(now.QuadPart) * 0x9E3779B97F4A7C15u ^ GetCurrentProcessId();
  for (int tries = 0; tries < 100;
       ++tries, seed = seed * 6364136223846793005u + 1442695040888963407u) {
    FillSuffix(suffix, seed >> 20);
    HANDLE handle = CreateExclusive(part, sequential);
    if (handle != INVALID_HANDLE_VALUE) return handle;
    KeepLastError();
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  part[0] = '\0';
  return INVALID_HANDLE_VALUE;
}

}  // namespace

void OpenStandardDescriptors() {}

FileHandle OpenInputFile(const char* path, bool sequential) {
  HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              SequentialFlag(sequential), nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    KeepLastError();
    return kNoFile;
  }
  if (!IsRegularFile(handle)) {
    CloseHandle(handle);
    errno = kNotRegularFile;
    return kNoFile;
  }
  return AsFile(handle);
}

bool QueryFileSize(FileHandle file, uint64_t& size) {
  LARGE_INTEGER length;
  if (!GetFileSizeEx(AsHandle(file), &length) || length.QuadPart < 0) {
    KeepLastError();
    return false;
  }
  size = static_cast<uint64_t>(length.QuadPart);
  return true;
}

bool IdentifyFile(const char* path, FileIdentity& identity) {
  HANDLE handle = OpenToLookAt(path);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known = HandleIdentity(handle, identity);
  CloseHandle(handle);
  return known;
}

bool IsSameFile(FileHandle file, const char* path) {
  FileIdentity open, named;
  return HandleIdentity(AsHandle(file), open) && IdentifyFile(path, named) && open == named;
}

CreateResult CreateOutputFile(const char* path, Disposition disposition, bool sequential,
                              FileHandle input, FileHandle& output, char* part,
                              size_t partCapacity) {
  output = kNoFile;
  if (partCapacity > 0) part[0] = '\0';
  HANDLE handle = CreateExclusive(path, sequential);
  if (handle == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_FILE_EXISTS) {
      KeepLastError();
      return CreateResult::Failed;
    }
    if (!MayReplace(path)) return CreateResult::Failed;  // MayReplace left the reason
    errno = EEXIST;
    if (disposition == Disposition::CreateNew) return CreateResult::Failed;
    if (input != kNoFile && IsSameFile(input, path)) return CreateResult::SameAsInput;
    handle = CreatePart(path, part, partCapacity, sequential);
    if (handle == INVALID_HANDLE_VALUE) return CreateResult::Failed;
  }
  // A device name (NUL, CON) opens whatever the disposition: it is no file to write a job to.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    errno = kNotRegularFile;
    return CreateResult::Failed;
  }
  output = AsFile(handle);
  return CreateResult::Created;
}

bool NameTaken(const char* path) {
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool MayReplace(const char* path) {
  HANDLE handle = OpenToLookAt(path);
  if (handle == INVALID_HANDLE_VALUE) {
    KeepLastError();
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool regular = IsRegularFile(handle) && GetFileInformationByHandle(handle, &info);
  CloseHandle(handle);
  errno = kNotRegularFile;
  if (!regular) return false;
  // A read-only file is one its owner asked not to have changed.
  errno = EACCES;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
}

FileHandle CreatePartFile(const char* path, char* part, size_t partCapacity) {
  return AsFile(CreatePart(path, part, partCapacity, false));
}

bool CommitReplacement(FileHandle& file, const char* part, const char* path) {
  // Flushed first: a crash after the move must not leave an empty or partial file in place of
  // the one it replaced.
  const bool flushed = FlushFileBuffers(AsHandle(file)) != 0;
  if (!flushed) KeepLastError();
  bool done = CloseOutputFile(file) && flushed;
  if (done && !MoveFileExA(part, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    KeepLastError();
    done = false;
  }
  if (!done) {
    const int fault = errno;
    ::DeleteFileA(part);
    errno = fault;
  }
  return done;
}

bool ReserveFileSpace(FileHandle file, uint64_t size) {
  if (size == 0) return true;
  errno = EFBIG;
  if (size > static_cast<uint64_t>(INT64_MAX)) return false;
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  // SetEndOfFile allocates the length on the volume, or fails when the space is not there.
  if (SetFilePointerEx(AsHandle(file), end, nullptr, FILE_BEGIN) && SetEndOfFile(AsHandle(file)))
    return true;
  KeepLastError();
  return false;
}

bool TruncateFile(FileHandle file, uint64_t length) {
  if (!SeekFile(file, length)) return false;
  if (!SetEndOfFile(AsHandle(file))) {
    KeepLastError();
    return false;
  }
  return SeekFile(file, 0);
}

void SettleTruncatedFile(const char*) {}  // an ext4 matter

bool SeekFile(FileHandle file, uint64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (SetFilePointerEx(AsHandle(file), position, nullptr, FILE_BEGIN)) return true;
  KeepLastError();
  return false;
}

void CloseFile(FileHandle& file) {
  if (file == kNoFile) return;
  CloseHandle(AsHandle(file));
  file = kNoFile;
}

bool CloseOutputFile(FileHandle& file) {
  if (file == kNoFile) return true;
  bool closed;
  if (gIoOverride != nullptr && gIoOverride->close != nullptr) {
    errno = EIO;
    closed = gIoOverride->close(gIoOverride->context, file) == 0;
  } else {
    closed = CloseHandle(AsHandle(file)) != 0;
    if (!closed) KeepLastError();
  }
  file = kNoFile;  // released even when the close reports an error
  return closed;
}

bool DeleteFile(const char* path) {
  return ::DeleteFileA(path) != 0;
}

void SetFileIoOverride(const FileIoOverride* io) {
  gIoOverride = io;
}

}  // namespace engine
