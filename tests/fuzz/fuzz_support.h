// What the fuzz targets share: a scratch folder for the files a target works on, a check that
// turns a broken property into a crash libFuzzer keeps, and OpenSSL's GCM as the judge of tags.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "engine/job.h"
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

// Decrypts the scratch folder's copy of `data` through `job` (its kind, key or passphrase set by
// the caller) on the backend (software, hardware, hardware AES with the tables' GHASH) and the
// host that data[2] and data[hostByte] pick, so that every backend and both hosts meet every
// input. `run` is the job's run routine. Checks that no
// descriptor is left open; returns whether the job's files were prepared.
bool DecryptFile(engine::CipherJob& job, const uint8_t* data, size_t size, size_t hostByte,
                 void (*run)(engine::CipherJob&));

// The job's verdict is `authentic` (the window's in StopFlag, the console's in its status) and
// the output holds `expected`: the plaintext is written before the verdict, whatever it is.
void CheckDecryption(const engine::CipherJob& job, bool authentic,
                     const std::vector<uint8_t>& expected);

}  // namespace fuzzing
