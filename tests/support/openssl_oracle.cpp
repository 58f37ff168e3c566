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
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

constexpr size_t kBlock = 16;
constexpr size_t kGcmNonceBytes = 12;
constexpr int kGcmTagBytes = 16;

void Check(int result, const char* call) {
  if (result != 1) throw std::runtime_error(std::string("OpenSSL: ") + call + " failed");
}

CipherContext NewContext() {
  CipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  if (!context) throw std::runtime_error("OpenSSL: EVP_CIPHER_CTX_new failed");
  return context;
}

const EVP_CIPHER* CipherFor(CipherMode mode, size_t keyBytes) {
  using Factory = const EVP_CIPHER* (*)();
  // Rows by mode (PCBC runs on ECB), columns by key size.
  static const Factory kCiphers[][3] = {
      {EVP_aes_128_ctr, EVP_aes_192_ctr, EVP_aes_256_ctr},           // Ctr
      {EVP_aes_128_gcm, EVP_aes_192_gcm, EVP_aes_256_gcm},           // Gcm
      {EVP_aes_128_ofb, EVP_aes_192_ofb, EVP_aes_256_ofb},           // Ofb
      {EVP_aes_128_cfb128, EVP_aes_192_cfb128, EVP_aes_256_cfb128},  // Cfb
      {EVP_aes_128_cbc, EVP_aes_192_cbc, EVP_aes_256_cbc},           // Cbc
      {EVP_aes_128_ecb, EVP_aes_192_ecb, EVP_aes_256_ecb},           // Ecb
      {EVP_aes_128_ecb, EVP_aes_192_ecb, EVP_aes_256_ecb},           // Pcbc
  };
  if (keyBytes != 16 && keyBytes != 24 && keyBytes != 32)
    throw std::invalid_argument("AES key of " + std::to_string(keyBytes) + " bytes");
  return kCiphers[static_cast<size_t>(mode)][(keyBytes - 16) / 8]();
}

int Length(size_t size) {
  if (size > (1u << 30)) throw std::invalid_argument("oracle input too large");
  return static_cast<int>(size);
}

// One pass of an EVP cipher over `data`; `iv` may be null where the mode takes none.
Bytes EvpCipher(const EVP_CIPHER* cipher, const Bytes& key, const uint8_t* iv, const Bytes& data,
                bool encrypt, bool padding) {
  CipherContext context = NewContext();
  Check(EVP_CipherInit_ex(context.get(), cipher, nullptr, key.data(), iv, encrypt ? 1 : 0),
        "EVP_CipherInit_ex");
  Check(EVP_CIPHER_CTX_set_padding(context.get(), padding ? 1 : 0), "EVP_CIPHER_CTX_set_padding");
  Bytes out(data.size() + kBlock);
  int written = 0;
  int finalWritten = 0;
  Check(EVP_CipherUpdate(context.get(), out.data(), &written, data.data(), Length(data.size())),
        "EVP_CipherUpdate");
  Check(EVP_CipherFinal_ex(context.get(), out.data() + written, &finalWritten),
        "EVP_CipherFinal_ex");
  out.resize(static_cast<size_t>(written + finalWritten));
  return out;
}

Bytes EvpEncrypt(const EVP_CIPHER* cipher, const Bytes& key, const uint8_t* iv, const Bytes& data,
                 bool padding) {
  return EvpCipher(cipher, key, iv, data, true, padding);
}

Bytes GcmEncrypt(const Bytes& key, const Bytes& iv, const Bytes& plain) {
  CipherContext context = NewContext();
  EVP_CIPHER_CTX* ctx = context.get();
  Check(EVP_EncryptInit_ex(ctx, CipherFor(CipherMode::Gcm, key.size()), nullptr, nullptr, nullptr),
        "EVP_EncryptInit_ex");
  Check(EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kGcmNonceBytes), nullptr),
        "EVP_CTRL_GCM_SET_IVLEN");
  Check(EVP_EncryptInit_ex(ctx, nullptr, nullptr, key.data(), iv.data()), "EVP_EncryptInit_ex");
  // Tag first, as the job lays out its file.
  Bytes out(kGcmTagBytes + plain.size());
  int written = 0;
  int finalWritten = 0;
  Check(EVP_EncryptUpdate(ctx, out.data() + kGcmTagBytes, &written, plain.data(),
                          Length(plain.size())),
        "EVP_EncryptUpdate");
  Check(EVP_EncryptFinal_ex(ctx, out.data() + kGcmTagBytes + written, &finalWritten),
        "EVP_EncryptFinal_ex");
  if (static_cast<size_t>(written + finalWritten) != plain.size())
    throw std::runtime_error("OpenSSL: GCM output length differs from the input's");
  Check(EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, kGcmTagBytes, out.data()),
        "EVP_CTRL_GCM_GET_TAG");
  return out;
}

// PCBC has no EVP cipher: chain by hand around one raw block encryption per block.
Bytes PcbcEncrypt(const Bytes& key, const Bytes& iv, const Bytes& plain) {
  CipherContext context = NewContext();
  EVP_CIPHER_CTX* ctx = context.get();
  Check(
      EVP_EncryptInit_ex(ctx, CipherFor(CipherMode::Ecb, key.size()), nullptr, key.data(), nullptr),
      "EVP_EncryptInit_ex");
  Check(EVP_CIPHER_CTX_set_padding(ctx, 0), "EVP_CIPHER_CTX_set_padding");
  Bytes out = Pkcs7Pad(plain);
  uint8_t chain[kBlock];
  std::copy(iv.begin(), iv.begin() + kBlock, chain);
  for (size_t offset = 0; offset < out.size(); offset += kBlock) {
    uint8_t* block = out.data() + offset;
    uint8_t input[kBlock];
    for (size_t i = 0; i < kBlock; ++i)
      input[i] = static_cast<uint8_t>(block[i] ^ chain[i]);
    int written = 0;
    Check(EVP_EncryptUpdate(ctx, block, &written, input, static_cast<int>(kBlock)),
          "EVP_EncryptUpdate");
    if (written != static_cast<int>(kBlock)) throw std::runtime_error("OpenSSL: short ECB block");
    // block now holds C; the plaintext is input ^ chain.
    for (size_t i = 0; i < kBlock; ++i)
      chain[i] = static_cast<uint8_t>(input[i] ^ chain[i] ^ block[i]);
  }
  return out;
}

// The body behind the 16-byte tag, decrypted whatever the verdict; `authentic` is the verdict.
Bytes GcmDecrypt(const Bytes& key, const Bytes& iv, const Bytes& file, bool& authentic) {
  if (file.size() < kGcmTagBytes) throw std::invalid_argument("a GCM file holds its tag first");
  CipherContext context = NewContext();
  EVP_CIPHER_CTX* ctx = context.get();
  Check(EVP_DecryptInit_ex(ctx, CipherFor(CipherMode::Gcm, key.size()), nullptr, nullptr, nullptr),
        "EVP_DecryptInit_ex");
  Check(EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kGcmNonceBytes), nullptr),
        "EVP_CTRL_GCM_SET_IVLEN");
  Check(EVP_DecryptInit_ex(ctx, nullptr, nullptr, key.data(), iv.data()), "EVP_DecryptInit_ex");
  const Bytes body(file.begin() + kGcmTagBytes, file.end());
  Bytes plain(body.size() + kBlock);
  int written = 0;
  int finalWritten = 0;
  Check(EVP_DecryptUpdate(ctx, plain.data(), &written, body.data(), Length(body.size())),
        "EVP_DecryptUpdate");
  Bytes tag(file.begin(), file.begin() + kGcmTagBytes);
  Check(EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, kGcmTagBytes, tag.data()),
        "EVP_CTRL_GCM_SET_TAG");
  authentic = EVP_DecryptFinal_ex(ctx, plain.data() + written, &finalWritten) == 1;
  plain.resize(body.size());
  return plain;
}

// PCBC decryption by hand around one raw block decryption per block: P = D(C) ^ X, X = P ^ C.
Bytes PcbcDecrypt(const Bytes& key, const Bytes& iv, const Bytes& cipher) {
  const Bytes raw =
      EvpCipher(CipherFor(CipherMode::Ecb, key.size()), key, nullptr, cipher, false, false);
  Bytes plain(raw.size());
  uint8_t chain[kBlock];
  std::copy(iv.begin(), iv.begin() + kBlock, chain);
  for (size_t i = 0; i < raw.size(); ++i) {
    plain[i] = static_cast<uint8_t>(raw[i] ^ chain[i % kBlock]);
    chain[i % kBlock] = static_cast<uint8_t>(plain[i] ^ cipher[i]);
  }
  return plain;
}

}  // namespace

Bytes Pkcs7Pad(const Bytes& data) {
  const size_t pad = kBlock - data.size() % kBlock;
  Bytes padded = data;
  padded.insert(padded.end(), pad, static_cast<uint8_t>(pad));
  return padded;
}

Bytes OracleEncrypt(CipherMode mode, const Bytes& key, const Bytes& iv, const Bytes& plain) {
  if (iv.size() != kBlock) throw std::invalid_argument("the IV must have 16 bytes");
  const EVP_CIPHER* cipher = CipherFor(mode, key.size());
  switch (mode) {
    case CipherMode::Cbc:
      return EvpEncrypt(cipher, key, iv.data(), plain, true);
    case CipherMode::Ecb:
      return EvpEncrypt(cipher, key, nullptr, plain, true);
    case CipherMode::Cfb:
      return EvpEncrypt(cipher, key, iv.data(), Pkcs7Pad(plain), false);
    case CipherMode::Ofb:
    case CipherMode::Ctr:
      return EvpEncrypt(cipher, key, iv.data(), plain, false);
    case CipherMode::Gcm:
      return GcmEncrypt(key, iv, plain);
    case CipherMode::Pcbc:
      return PcbcEncrypt(key, iv, plain);
  }
  throw std::invalid_argument("unknown cipher mode");
}

Bytes OracleDecrypt(CipherMode mode, const Bytes& key, const Bytes& iv, const Bytes& file,
                    bool& authentic) {
  if (iv.size() != kBlock) throw std::invalid_argument("the IV must have 16 bytes");
  authentic = true;
  const EVP_CIPHER* cipher = CipherFor(mode, key.size());
  Bytes plain;
  switch (mode) {
    case CipherMode::Gcm:
      return GcmDecrypt(key, iv, file, authentic);
    case CipherMode::Ofb:
    case CipherMode::Ctr:
      return EvpCipher(cipher, key, iv.data(), file, false, false);
    case CipherMode::Cfb:
    case CipherMode::Cbc:
      plain = EvpCipher(cipher, key, iv.data(), file, false, false);
      break;
    case CipherMode::Ecb:
      plain = EvpCipher(cipher, key, nullptr, file, false, false);
      break;
    case CipherMode::Pcbc:
      plain = PcbcDecrypt(key, iv, file);
      break;
  }
  // Only the last byte is looked at: 1 to 16 takes that many bytes off, anything else nothing.
  if (!plain.empty() && plain.back() >= 1 && plain.back() <= kBlock)
    plain.resize(plain.size() - std::min<size_t>(plain.back(), plain.size()));
  return plain;
}

}  // namespace testing_support
