// The sealed file: version-1 header, passphrase-derived key, AES-256-GCM body.
#include "keys/sealed.h"

#include <string.h>

#include "engine/aesni.h"
#include "engine/gcm.h"
#include "engine/wipe.h"
#include "keys/kdf.h"
#include "keys/random.h"

namespace keys {

namespace {

// From the header to a running GCM pass: the key derived from the passphrase and the header's
// salt and expanded (the derived bytes do not outlive the call), the nonce as the counter's IV.
// The windowed tools can abort the derivation; the console cannot.
engine::GcmState StartBody(engine::CipherJob& job, const V1Header& header) {
  const std::atomic<engine::StopFlag>* stop =
      job.host == engine::JobHost::Window ? &job.stopFlag : nullptr;
  uint8_t salt[kSaltSize];
  memcpy(salt, header.bytes + V1Header::kSaltOffset, kSaltSize);
  uint8_t key[kDerivedKeySize];
  DerivePassphraseKey(job.passphrase, job.passphraseLength, salt, key, stop);
  engine::LoadAesKey(key, engine::KeySize::Bits256, false);
  engine::WipeBytes(key, sizeof key);
  memcpy(job.iv, header.bytes + V1Header::kNonceOffset, 12);
  return engine::GcmStart(job);
}

}  // namespace

void EncryptV1File(engine::CipherJob& job) {
  engine::ClearUpperVectorState();
  job.keySize = engine::KeySize::Bits256;
  engine::CountBlocks(job);
  const uint64_t bodyBytes = job.totalSize;

  V1Header header{};
  uint8_t random[32];
  GenerateRandom(engine::KeySize::Bits256, random);
  memcpy(header.bytes + V1Header::kNonceOffset, random, 12);
  GenerateRandom(engine::KeySize::Bits256, random);
  memcpy(header.bytes + V1Header::kSaltOffset, random, kSaltSize);
  header.bytes[V1Header::kVersionOffset] = V1Header::kVersion;
  // The tag's place stays zero until the body is done.
  if (!engine::SeekFile(job.output, 0) ||
      !engine::WriteAll(job.output, header.bytes, V1Header::kSize)) {
    engine::RecordIoFailure(job, engine::kWriteFailed);
    return;
  }

  engine::GcmState state = StartBody(job, header);
  engine::GcmEncryptBlocks(job, state);
  if (!engine::MayFinishAfterStop(job)) return;

  // After an abort the tag still covers the blocks written, with the full planned length.
  uint8_t tag[16];
  engine::StoreBlock(tag, engine::GcmFinishTag(state, bodyBytes));
  if (!engine::SeekFile(job.output, V1Header::kTagOffset) ||
      !engine::WriteAll(job.output, tag, 16)) {
    engine::RecordIoFailure(job, engine::kWriteFailed);
    return;
  }
  if (!engine::StopRequested(job)) job.status = engine::JobStatus::EncryptionComplete;
}

void DecryptV1File(engine::CipherJob& job) {
  engine::ClearUpperVectorState();
  job.keySize = engine::KeySize::Bits256;
  engine::CountBlocks(job);  // takes the header off the total size
  const uint64_t bodyBytes = job.totalSize;

  V1Header header;
  if (!engine::SeekFile(job.input, 0) ||
      engine::ReadFull(job.input, header.bytes, V1Header::kSize) !=
          static_cast<int64_t>(V1Header::kSize)) {
    engine::RecordIoFailure(job, engine::kReadFailed);
    return;
  }
  engine::GcmState state = StartBody(job, header);
  engine::GcmDecryptBlocks(job, state);
  if (engine::StopRequested(job)) return;  // aborted or failed: no verdict

  // The body is already written; a wrong passphrase shows only here.
  const engine::Block stored = engine::LoadBlock(header.bytes + V1Header::kTagOffset);
  if (engine::BlocksEqual(engine::GcmFinishTag(state, bodyBytes), stored)) {
    job.status = engine::JobStatus::DecryptionComplete;
  } else {
    job.status = engine::JobStatus::WrongTag;
    job.stopFlag.store(engine::kWrongTag, std::memory_order_relaxed);
  }
}

}  // namespace keys
