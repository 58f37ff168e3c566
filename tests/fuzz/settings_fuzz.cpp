// The key tool's settings file read from arbitrary bytes: every field stays within its range
// whatever the file holds, only the first 512 bytes count, and reading the same file again
// over its own result changes nothing.
#include <stddef.h>
#include <stdint.h>

#include "keytool/settings.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using keytool::KeyToolSettings;

std::string gPath;

void CheckRanges(const KeyToolSettings& s) {
  FUZZ_CHECK(s.acceleration == 'H');  // never read from the file
  FUZZ_CHECK(static_cast<uint8_t>(s.direction) <= 1);
  FUZZ_CHECK(static_cast<uint8_t>(s.keySize) <= 2);
  FUZZ_CHECK(static_cast<uint8_t>(s.mode) <= 6);
  FUZZ_CHECK(s.prngSize <= 8);
  FUZZ_CHECK(s.prngSelected || s.prngSize == 0);
  FUZZ_CHECK((s.locks & 0x8000) == 0);
  FUZZ_CHECK(s.prngSelected || (s.locks & keytool::kLockInput) == 0);
}

bool Same(const KeyToolSettings& a, const KeyToolSettings& b) {
  return a.acceleration == b.acceleration && a.confidential == b.confidential &&
         a.direction == b.direction && a.keySize == b.keySize && a.mode == b.mode &&
         a.prngSelected == b.prngSelected && a.prngSize == b.prngSize && a.locks == b.locks;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gPath = fuzzing::Scratch().File("config.ini");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::WriteWhole(gPath, data, size);
  const int descriptors = testing_support::OpenDescriptorCount();
  KeyToolSettings fromFile;
  keytool::ReadSettingsFile(fromFile, gPath.c_str());
  FUZZ_CHECK(testing_support::OpenDescriptorCount() == descriptors);
  CheckRanges(fromFile);

  // The same decision from the first 512 bytes alone, and none from what lies beyond them.
  KeyToolSettings fromText;
  const size_t counted = size < keytool::kSettingsFileLimit ? size : keytool::kSettingsFileLimit;
  if (counted > 0) keytool::ApplySettingsText(data, counted, fromText);
  FUZZ_CHECK(Same(fromFile, fromText));

  KeyToolSettings again = fromFile;
  keytool::ReadSettingsFile(again, gPath.c_str());
  FUZZ_CHECK(Same(fromFile, again));
  return 0;
}
