// Test helpers for files on disk: a temporary folder, whole-file reads and writes, random bytes.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace testing_support {

using Bytes = std::vector<uint8_t>;

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFileBytes(const std::string& path, const Bytes& bytes);
Bytes ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
uint64_t FileSize(const std::string& path);

// Deterministic pseudo-random bytes for test data (not for keys of the product).
Bytes RandomBytes(size_t count, uint64_t seed);

Bytes HexToBytes(const std::string& hex);
std::string BytesToHex(const Bytes& bytes);

// Open file descriptors of this process, to check that nothing leaks.
int OpenDescriptorCount();

// Temporary files a replacing job left in `folder` (names holding ".part-").
int PartFileCount(const std::string& folder);

}  // namespace testing_support
