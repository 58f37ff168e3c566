// The mode loops of a key/IV job (SP 800-38A ECB, CBC, CFB-128, OFB, CTR, plus PCBC), and the
// run that ties block count, key set-up, mode loop and outcome together.
#pragma once

#include "engine/job.h"

namespace engine {

// Each runs a whole prepared job in the job's direction, from the job's IV (ECB ignores it).
// The IV buffer itself is only read.
void EcbRun(CipherJob& job);
void CbcRun(CipherJob& job);
void PcbcRun(CipherJob& job);
void CfbRun(CipherJob& job);
void OfbRun(CipherJob& job);
void CtrRun(CipherJob& job);

// Steps a 16-byte big-endian counter by one; the carry runs toward byte 0 and all ones wraps to
// all zeros. Only byte 15 is touched unless it wraps.
inline Block IncrementCounter128(Block counter) {
  counter += Block{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};  // byte 15 alone, mod 256
  for (int i = 15; i > 0 && counter[i] == 0; --i)
    counter[i - 1] = static_cast<uint8_t>(counter[i - 1] + 1);
  return counter;
}

// Runs a prepared key/IV job: block count, key expansion (inverse form where the mode needs it),
// the mode loop or GCM run, and the outcome in job.status (0 or 1, 3 for a wrong GCM tag, or the
// I/O failure). Files stay open for the caller to close; key material is left for
// WipeJobSecrets.
void RunCipherJob(CipherJob& job);

// Wipes the key material of the job record and of the engine (schedule, GCM state).
void WipeJobSecrets(CipherJob& job);

}  // namespace engine
