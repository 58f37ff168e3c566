// The file layer: the few file operations the job needs. One header, two units chosen at build
// time: file_posix.cpp (descriptors) and file_win32.cpp (kernel32 handles).
//
// Everything the programs create is private (mode 0600 on POSIX): outputs hold plaintext,
// ciphertext or keys.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace engine {

#ifdef _WIN32
typedef intptr_t FileHandle;  // a HANDLE's value: INVALID_HANDLE_VALUE is -1
#else
typedef int FileHandle;
#endif
constexpr FileHandle kNoFile = -1;

// Creation disposition of an output, with the values the job record stores.
enum class Disposition : uint32_t { CreateNew = 1, CreateAlways = 2 };

// Why a call of this layer failed is left in errno: the system's value, or one of the layer's own
// reasons below (far above any system value), so that a front end can name it.
constexpr int kNotRegularFile = 0x10001;  // a folder, device or pipe, or a link to one
constexpr int kOtherUsersFile = 0x10002;  // an existing output that belongs to another user
constexpr int kEndedEarly = 0x10003;      // the end of the file came before the bytes asked for

// Opens /dev/null on each of descriptors 0, 1 and 2 that is not open, so that no file a job
// opens takes one of them and receives what the program (or its libraries) print. (Windows
// handles are never the standard ones: nothing to do there.)
void OpenStandardDescriptors();

// Opens an existing regular file for reading. Anything else (missing, a directory, a device,
// no access) gives kNoFile. `sequential` adds the read-ahead hint.
FileHandle OpenInputFile(const char* path, bool sequential);

// Byte size of an open regular file.
bool QueryFileSize(FileHandle file, uint64_t& size);

enum class CreateResult : uint8_t { Created, Failed, SameAsInput };

// A replacement's temporary name adds this much to the output's path: ".name.part-XXXXXX".
constexpr size_t kPartNameExtra = 13;

// Creates the output for writing, never through a symbolic link. A new name is created as it is.
// An existing name is never written into: CreateNew refuses it; CreateAlways leaves it as it is
// and opens a new temporary file beside it (its path in `part`, empty otherwise) that
// CommitReplacement later puts in its place. CreateAlways refuses an existing name that is
// neither a regular file nor a link, a link to anything but a regular file (a dangling link is
// replaced), or a name that belongs to another user, and gives SameAsInput for
// one that is the same file as `input` (same device and inode, whatever the names). Pass kNoFile
// as input when the job has none.
CreateResult CreateOutputFile(const char* path, Disposition disposition, bool sequential,
                              FileHandle input, FileHandle& output, char* part,
                              size_t partCapacity);

// Whether a new file may take the name `path`: nothing is there, or a regular file, a link to
// one or a dangling link, that belongs to this user.
bool MayReplace(const char* path);

// Whether anything at all, a dangling link included, has the name `path`.
bool NameTaken(const char* path);

// Creates the private temporary file that is to replace `path`, in the same folder, named after
// it (".name.part-" and six random characters) so a user recognises one left by a killed job.
// Its path goes to `part`. kNoFile when it cannot be created.
FileHandle CreatePartFile(const char* path, char* part, size_t partCapacity);

// Puts the finished temporary file in the place of `path`: flushes it to disk, closes it and
// renames it over the name (a link there is replaced, not followed). On any failure the temporary
// file is deleted and `path` stays as it was.
bool CommitReplacement(FileHandle& file, const char* part, const char* path);

// Whether the existing file at `path` is the same file as the open `file`. False when `path`
// does not exist.
bool IsSameFile(FileHandle file, const char* path);

// Which file a name leads to, whatever the name: device and inode on POSIX, volume serial number
// and file index on Windows. False when nothing is there.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};
bool IdentifyFile(const char* path, FileIdentity& identity);

// Reserves `size` bytes of real space for the file (its length becomes `size`). Where the file
// system cannot reserve, compares the free space instead. False when the space is not there.
bool ReserveFileSpace(FileHandle file, uint64_t size);

// Sets the length to `length` and the position to 0.
bool TruncateFile(FileHandle file, uint64_t length);

// After the output has been cut back to length 0: ext4 takes a file truncated to 0 for a
// replaced one and pushes all its data to disk when it is closed, so the end of a job would
// wait for the write-back of the whole output. Opening and closing the file once more while it
// is still empty settles that at no cost; other file systems are unaffected. `path` is the file
// the job writes (its temporary file when it replaces one).
void SettleTruncatedFile(const char* path);

bool SeekFile(FileHandle file, uint64_t offset);

// Writes into `part` the temporary name beside `path` whose folder part is its first
// `folderLength` bytes: ".name.part-XXXXXX", the name cut so that it still fits in one folder
// entry. Returns where the six X's stand, or nullptr (errno ENAMETOOLONG, `part` empty) when
// there is no name or `partCapacity` is too small.
char* MakePartName(const char* path, size_t folderLength, char* part, size_t partCapacity);

// One read or write call of the platform (through the test override when one is installed):
// the bytes moved, 0 at the end of the file or for a write that moved nothing, or -1 with the
// reason in errno. Each platform's unit defines them; ReadFull and WriteAll loop over them.
int64_t RawRead(FileHandle file, void* data, size_t size);
int64_t RawWrite(FileHandle file, const void* data, size_t size);

// Reads until `size` bytes or the end of the file; retries short reads and EINTR. Returns the
// bytes read (errno kEndedEarly when fewer), or -1 on an error.
int64_t ReadFull(FileHandle file, void* data, size_t size);

// Writes all `size` bytes, retrying partial writes and EINTR. False when anything is left
// unwritten (an error, a full disk, or a write that makes no progress, reported as ENOSPC).
bool WriteAll(FileHandle file, const void* data, size_t size);

void CloseFile(FileHandle& file);  // sets `file` to kNoFile; no effect on kNoFile
// Closes an output. False when the close reports an error: network and FUSE file systems and
// quotas report lost writes there.
bool CloseOutputFile(FileHandle& file);
bool DeleteFile(const char* path);

// Test and benchmark seam: replaces the raw read and write calls under ReadFull and WriteAll
// (the retry logic above them stays in force), and, when `close` is set, the close of an output.
// Each returns the bytes moved (or 0 for a close) or -1 for an error. nullptr restores the real
// calls.
struct FileIoOverride {
  int64_t (*read)(void* context, FileHandle file, void* data, size_t size);
  int64_t (*write)(void* context, FileHandle file, const void* data, size_t size);
  void* context;
  int (*close)(void* context, FileHandle file) = nullptr;
};
void SetFileIoOverride(const FileIoOverride* io);

}  // namespace engine
