// The mode loops of a key/IV job: one ReadBlock, one backend call, one WriteBlock per block.
//
// Blocks, chaining values and counters stay in 16-byte vector values; the backend routine is
// fetched once per run (the pair cannot change while a job runs).
#include "engine/modes.h"
#include "engine/aesni.h"

#include "engine/backend.h"
#include "engine/gcm.h"
#include "engine/wipe.h"

namespace engine {

namespace {

inline bool Continue(const CipherJob& job) {
  return !job.lastBlock && !StopRequested(job);
}

}  // namespace

void EcbRun(CipherJob& job) {
  if (job.direction == Direction::Encrypt) {
    const BlockFunction encrypt = CurrentAesBackend().encrypt;
    while (Continue(job))
      WriteBlock(job, encrypt(ReadBlock(job)));
  } else {
    const BlockFunction decrypt = CurrentAesBackend().decrypt;
    while (Continue(job))
      WriteBlock(job, decrypt(ReadBlock(job)));
  }
}

void CbcRun(CipherJob& job) {
  Block chain = LoadBlock(job.iv);
  if (job.direction == Direction::Encrypt) {
    const BlockFunction encrypt = CurrentAesBackend().encrypt;
    while (Continue(job)) {
      chain = encrypt(ReadBlock(job) ^ chain);
      WriteBlock(job, chain);
    }
  } else {
    const BlockFunction decrypt = CurrentAesBackend().decrypt;
    while (Continue(job)) {
      const Block plain = decrypt(ReadBlock(job)) ^ chain;
      // The ciphertext still stands in the chunk buffer until WriteBlock replaces it: reading it
      // back is cheaper than keeping it in a register across the call, which spills it.
      chain = LoadBlock(gChunkBuffer + job.chunkOffset);
      WriteBlock(job, plain);
    }
  }
}

void PcbcRun(CipherJob& job) {
  Block chain = LoadBlock(job.iv);
  if (job.direction == Direction::Encrypt) {
    const BlockFunction encrypt = CurrentAesBackend().encrypt;
    while (Continue(job)) {
      const Block plain = ReadBlock(job);
      const Block cipher = encrypt(plain ^ chain);
      WriteBlock(job, cipher);
      chain = plain ^ cipher;
    }
  } else {
    const BlockFunction decrypt = CurrentAesBackend().decrypt;
    while (Continue(job)) {
      const Block cipher = ReadBlock(job);
      const Block plain = decrypt(cipher) ^ chain;
      WriteBlock(job, plain);
      chain = plain ^ cipher;
    }
  }
}

void CfbRun(CipherJob& job) {
  const BlockFunction encrypt = CurrentAesBackend().encrypt;
  Block feedback = LoadBlock(job.iv);
  if (job.direction == Direction::Encrypt) {
    while (Continue(job)) {
      const Block key = encrypt(feedback);
      feedback = ReadBlock(job) ^ key;
      WriteBlock(job, feedback);
    }
  } else {
    while (Continue(job)) {
      const Block key = encrypt(feedback);
      feedback = ReadBlock(job);  // the ciphertext feeds back in both directions
      WriteBlock(job, feedback ^ key);
    }
  }
}

// OFB and CTR are their own inverse: one loop serves both directions.
void OfbRun(CipherJob& job) {
  const BlockFunction encrypt = CurrentAesBackend().encrypt;
  Block feedback = LoadBlock(job.iv);
  while (Continue(job)) {
    feedback = encrypt(feedback);
    WriteBlock(job, ReadBlock(job) ^ feedback);
  }
}

void CtrRun(CipherJob& job) {
  const BlockFunction encrypt = CurrentAesBackend().encrypt;
  Block counter = LoadBlock(job.iv);  // the whole 16 bytes count; no fixed nonce part
  while (Continue(job)) {
    const Block key = encrypt(counter);
    WriteBlock(job, ReadBlock(job) ^ key);
    counter = IncrementCounter128(counter);
  }
}

namespace {

void GcmRun(CipherJob& job) {
  if (job.direction == Direction::Encrypt) {
    GcmEncryptRun(job);
  } else {
    GcmDecryptRun(job);
  }
}

// Each mode's run, in the table's order.
constexpr void (*kModeRuns[])(CipherJob&) = {CtrRun, GcmRun, OfbRun, CfbRun,
                                             CbcRun, EcbRun, PcbcRun};
static_assert(sizeof kModeRuns / sizeof kModeRuns[0] == kModeCount);

}  // namespace

void RunCipherJob(CipherJob& job) {
  ClearUpperVectorState();
  CountBlocks(job);
  LoadAesKey(job.key, job.keySize, UsesInverseCipher(job.mode, job.direction));
  kModeRuns[static_cast<size_t>(job.mode)](job);
  if (Traits(job.mode).tagged) return;  // the tag decides the outcome
  if (!StopRequested(job))
    job.status = job.direction == Direction::Encrypt ? JobStatus::EncryptionComplete
                                                     : JobStatus::DecryptionComplete;
}

void WipeJobSecrets(CipherJob& job) {
  WipeBytes(job.key, sizeof job.key);
  WipeBytes(job.iv, sizeof job.iv);
  WipeBytes(job.passphrase, sizeof job.passphrase);
  job.passphraseLength = 0;
  WipeAesKeySchedule();
  WipeGcmState();
}

}  // namespace engine
