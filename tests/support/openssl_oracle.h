// Reference ciphertexts from OpenSSL's libcrypto, laid out as a key/IV job writes them.
#pragma once

#include "engine/job.h"
#include "tests/support/test_files.h"

namespace testing_support {

// The file a key/IV job must write when encrypting `plain` in `mode` with `key` (16, 24 or 32
// bytes) and the 16-byte `iv`:
//   CBC, ECB      OpenSSL with its default PKCS#7 padding (ECB ignores the IV)
//   CFB           cfb128 over the PKCS#7-padded data
//   OFB, CTR      ofb / ctr over the data as it is (CTR counts over all 16 IV bytes)
//   GCM           16-byte tag, then the ciphertext; IV = the first 12 bytes, no AAD
//   PCBC          built from single-block ECB calls: C = E(P ^ X), X = P ^ C, X starts as the IV
// Throws std::runtime_error when libcrypto refuses a call.
Bytes OracleEncrypt(engine::CipherMode mode, const Bytes& key, const Bytes& iv, const Bytes& plain);

// The file a key/IV job must write when decrypting `file` (which passes the job's size rules):
// the plain decryption, and in the padded modes the last byte's trim (a value of 1 to 16 takes
// that many bytes off, any other takes none; the other pad bytes are not looked at). GCM reads
// its tag from the first 16 bytes, decrypts the rest whatever the verdict, and sets `authentic`
// to the verdict; every other mode sets it true.
Bytes OracleDecrypt(engine::CipherMode mode, const Bytes& key, const Bytes& iv, const Bytes& file,
                    bool& authentic);

}  // namespace testing_support
