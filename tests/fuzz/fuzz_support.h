// What the fuzz targets share: a scratch folder for the files a target works on, a check that
// turns a broken property into a crash libFuzzer keeps, and OpenSSL's GCM as the judge of tags.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "tests/support/test_files.h"

namespace fuzzing {

// A broken property is a crash, so libFuzzer saves the input that broke it.
[[noreturn]] void CheckFailed(const char* condition, const char* file, int line);
#define FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : ::fuzzing::CheckFailed(#condition, __FILE__, __LINE__))

// One folder per process, removed at exit.
const testing_support::TempDir& Scratch();

void WriteWhole(const std::string& path, const uint8_t* data, size_t size);

// AES-GCM decryption by OpenSSL (96-bit nonce, no additional data, 16-byte tag): `plain` gets
// the keystream-decrypted body whatever the verdict; true when the tag matches.
bool OpenSslGcmOpen(const uint8_t* key, size_t keyBytes, const uint8_t* nonce, const uint8_t* tag,
                    const uint8_t* body, size_t bodyBytes, std::vector<uint8_t>& plain);

}  // namespace fuzzing
