// The file layer: the few file operations the job needs, over POSIX descriptors.
//
// Everything the programs create is mode 0600: outputs hold plaintext, ciphertext or keys.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace engine {

typedef int FileHandle;
constexpr FileHandle kNoFile = -1;

// Creation disposition of an output, with the values the job record stores.
enum class Disposition : uint32_t { CreateNew = 1, CreateAlways = 2 };

// Opens an existing regular file for reading. Anything else (missing, a directory, a device,
// no access) gives kNoFile. `sequential` adds the read-ahead hint.
FileHandle OpenInputFile(const char* path, bool sequential);

// Byte size of an open regular file.
bool QueryFileSize(FileHandle file, uint64_t& size);

enum class CreateResult : uint8_t { Created, Failed, SameAsInput };

// Creates the output for writing. CreateNew refuses an existing name; CreateAlways replaces an
// existing regular file, but never one that is the same file as `input` (same device and inode,
// whatever the names): that gives SameAsInput with nothing truncated. Pass kNoFile as input when
// the job has none.
CreateResult CreateOutputFile(const char* path, Disposition disposition, bool sequential,
                              FileHandle input, FileHandle& output);

// Whether the existing file at `path` is the same file as the open `file`. False when `path`
// does not exist.
bool IsSameFile(FileHandle file, const char* path);

// Reserves `size` bytes of real space for the file (its length becomes `size`). Where the file
// system cannot reserve, compares the free space instead. False when the space is not there.
bool ReserveFileSpace(FileHandle file, uint64_t size);

// Sets the length to `length` and the position to 0.
bool TruncateFile(FileHandle file, uint64_t length);

// After the output has been cut back to length 0: ext4 takes a file truncated to 0 for a
// replaced one and pushes all its data to disk when it is closed, so the end of a job would
// wait for the write-back of the whole output. Opening and closing the file once more while it
// is still empty settles that at no cost; other file systems are unaffected.
void SettleTruncatedFile(const char* path);

bool SeekFile(FileHandle file, uint64_t offset);

// Reads until `size` bytes or the end of the file; retries short reads and EINTR. Returns the
// bytes read, or -1 on an error.
int64_t ReadFull(FileHandle file, void* data, size_t size);

// Writes all `size` bytes, retrying partial writes and EINTR. False when anything is left
// unwritten (an error, a full disk, or a write that makes no progress).
bool WriteAll(FileHandle file, const void* data, size_t size);

void CloseFile(FileHandle& file);  // sets `file` to kNoFile; no effect on kNoFile
bool DeleteFile(const char* path);
// Leaves the file readable and writable by its owner only (a replaced file keeps its old mode
// otherwise).
bool RestrictToOwner(FileHandle file);

// Test and benchmark seam: replaces the raw read and write calls under ReadFull and WriteAll
// (the retry logic above them stays in force). Each returns the bytes moved or -1 for an error.
// nullptr restores the real calls.
struct FileIoOverride {
  int64_t (*read)(void* context, FileHandle file, void* data, size_t size);
  int64_t (*write)(void* context, FileHandle file, const void* data, size_t size);
  void* context;
};
void SetFileIoOverride(const FileIoOverride* io);

}  // namespace engine
