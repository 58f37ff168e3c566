// Test helpers for files on disk.
#include "tests/support/test_files.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace testing_support {

// A new private folder under the system's temporary folder ($TMPDIR or /tmp; %TEMP% on Windows,
// where the engine's vector tests also run).
TempDir::TempDir() {
  static std::random_device seed;
  std::mt19937_64 names(seed());
  const auto base = std::filesystem::temp_directory_path();
  for (int tries = 0; tries < 100 && path_.empty(); ++tries) {
    const auto folder = base / ("aessuite-test-" + std::to_string(names() % 1000000000));
    if (!std::filesystem::create_directory(folder)) continue;
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);  // private, as mkdtemp
    path_ = folder.generic_string();
  }
  if (path_.empty()) throw std::runtime_error("no temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {  // a dangling link counts
  return std::filesystem::exists(std::filesystem::symlink_status(path));
}

uint64_t FileSize(const std::string& path) {
  return std::filesystem::file_size(path);
}

Bytes RandomBytes(size_t count, uint64_t seed) {
  std::mt19937_64 generator(seed);
  Bytes bytes(count);
  for (size_t i = 0; i < count; i += 8)
    for (uint64_t word = generator(), j = 0; j < 8 && i + j < count; ++j)
      bytes[i + j] = static_cast<uint8_t>(word >> (8 * j));
  return bytes;
}

Bytes HexToBytes(const std::string& hex) {
  if (hex.size() % 2 != 0) throw std::invalid_argument("odd hex length: " + hex);
  Bytes bytes(hex.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  return bytes;
}

std::string BytesToHex(const Bytes& bytes) {
  std::string hex;
  for (uint8_t b : bytes) {
    hex += "0123456789abcdef"[b >> 4];
    hex += "0123456789abcdef"[b & 15];
  }
  return hex;
}

int OpenDescriptorCount() {
  using std::filesystem::directory_iterator;  // its own descriptor is in the listing
  return static_cast<int>(
             std::distance(directory_iterator("/proc/self/fd"), directory_iterator())) -
         1;
}

int PartFileCount(const std::string& folder) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    count += entry.path().filename().string().find(".part-") != std::string::npos;
  return count;
}

}  // namespace testing_support
