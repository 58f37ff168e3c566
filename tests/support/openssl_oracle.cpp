// Reference ciphertexts from OpenSSL's EVP interface.
#include "tests/support/openssl_oracle.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

namespace testing_support {

namespace {

using engine::CipherMode;
using Context = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

constexpr size_t kBlock = 16;
constexpr int kTagBytes = 16;

void Check(int result, const char* call) {
  if (result != 1) throw std::runtime_error(std::string("OpenSSL: ") + call + " failed");
}

// PCBC runs on ECB; OpenSSL's "cfb" is CFB-128.
const EVP_CIPHER* CipherFor(CipherMode mode, size_t keyBytes) {
  std::string name = mode == CipherMode::Pcbc ? "ECB" : engine::Traits(mode).name;
  std::transform(name.begin(), name.end(), name.begin(), ::tolower);
  const EVP_CIPHER* cipher =
      EVP_get_cipherbyname(("aes-" + std::to_string(8 * keyBytes) + "-" + name).c_str());
  if (cipher == nullptr)
    throw std::invalid_argument("AES key of " + std::to_string(keyBytes) + " bytes");
  return cipher;
}

// One pass of a cipher over `data`, without padding; `iv` may be null where the mode takes none.
// GCM: a 12-byte IV, and `tag` is read (decryption) or written (encryption); false when a
// decryption's tag is wrong.
bool EvpCipher(CipherMode mode, const Bytes& key, const uint8_t* iv, const Bytes& data,
               bool encrypt, Bytes& out, uint8_t* tag = nullptr) {
  if (data.size() > (1u << 30)) throw std::invalid_argument("oracle input too large");
  Context context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  EVP_CIPHER_CTX* ctx = context.get();
  Check(EVP_CipherInit_ex(ctx, CipherFor(mode, key.size()), nullptr, nullptr, nullptr, encrypt),
        "EVP_CipherInit_ex");
  if (mode == CipherMode::Gcm)
    Check(EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, 12, nullptr), "IVLEN");
  Check(EVP_CipherInit_ex(ctx, nullptr, nullptr, key.data(), iv, encrypt), "EVP_CipherInit_ex");
  Check(EVP_CIPHER_CTX_set_padding(ctx, 0), "EVP_CIPHER_CTX_set_padding");
  out.assign(data.size() + kBlock, 0);
  int written = 0, last = 0;
  Check(EVP_CipherUpdate(ctx, out.data(), &written, data.data(), static_cast<int>(data.size())),
        "EVP_CipherUpdate");
  if (mode == CipherMode::Gcm && !encrypt)
    Check(EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, kTagBytes, tag), "SET_TAG");
  const bool good = EVP_CipherFinal_ex(ctx, out.data() + written, &last) == 1;
  if (!good && !(mode == CipherMode::Gcm && !encrypt)) Check(0, "EVP_CipherFinal_ex");
  out.resize(data.size());
  if (mode == CipherMode::Gcm && encrypt)
    Check(EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, kTagBytes, tag), "GET_TAG");
  return good;
}

Bytes Pkcs7Pad(Bytes data) {
  data.insert(data.end(), kBlock - data.size() % kBlock, uint8_t(kBlock - data.size() % kBlock));
  return data;
}

// PCBC has no EVP cipher: chain by hand around one raw ECB block per call. The chain is the
// previous block's plaintext XOR ciphertext, starting as the IV.
Bytes Pcbc(const Bytes& key, const Bytes& iv, const Bytes& data, bool encrypt) {
  Bytes out(data.size()), chain(iv.begin(), iv.begin() + kBlock), block(kBlock), result;
  for (size_t offset = 0; offset < data.size(); offset += kBlock) {
    for (size_t i = 0; i < kBlock; ++i)
      block[i] = encrypt ? data[offset + i] ^ chain[i] : data[offset + i];
    EvpCipher(CipherMode::Ecb, key, nullptr, block, encrypt, result);
    for (size_t i = 0; i < kBlock; ++i) {
      out[offset + i] = encrypt ? result[i] : result[i] ^ chain[i];
      chain[i] = data[offset + i] ^ out[offset + i];
    }
  }
  return out;
}

}  // namespace

Bytes OracleEncrypt(CipherMode mode, const Bytes& key, const Bytes& iv, const Bytes& plain) {
  if (iv.size() != kBlock) throw std::invalid_argument("the IV must have 16 bytes");
  Bytes out;
  if (mode == CipherMode::Pcbc) return Pcbc(key, iv, Pkcs7Pad(plain), true);
  if (mode == CipherMode::Gcm) {
    uint8_t tag[kTagBytes];
    EvpCipher(mode, key, iv.data(), plain, true, out, tag);
    out.insert(out.begin(), tag, tag + kTagBytes);  // the tag first, as the job lays out its file
    return out;
  }
  const bool padded = engine::IsPaddedMode(mode);
  EvpCipher(mode, key, mode == CipherMode::Ecb ? nullptr : iv.data(),
            padded ? Pkcs7Pad(plain) : plain, true, out);
  return out;
}

Bytes OracleDecrypt(CipherMode mode, const Bytes& key, const Bytes& iv, const Bytes& file,
                    bool& authentic) {
  if (iv.size() != kBlock) throw std::invalid_argument("the IV must have 16 bytes");
  Bytes plain;
  authentic = true;
  if (mode == CipherMode::Gcm) {
    if (file.size() < kTagBytes) throw std::invalid_argument("a GCM file holds its tag first");
    Bytes tag(file.begin(), file.begin() + kTagBytes);
    authentic = EvpCipher(mode, key, iv.data(), Bytes(file.begin() + kTagBytes, file.end()), false,
                          plain, tag.data());
    return plain;
  }
  if (mode == CipherMode::Pcbc) {
    plain = Pcbc(key, iv, file, false);
  } else {
    EvpCipher(mode, key, mode == CipherMode::Ecb ? nullptr : iv.data(), file, false, plain);
  }
  // Only the last byte is looked at: 1 to 16 takes that many bytes off, anything else nothing.
  if (engine::IsPaddedMode(mode) && !plain.empty() && plain.back() >= 1 && plain.back() <= kBlock)
    plain.resize(plain.size() - std::min<size_t>(plain.back(), plain.size()));
  return plain;
}

}  // namespace testing_support
