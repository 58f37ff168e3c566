// The sealed-file job of the passphrase window.
#include "passtool/job_control.h"

#include <string.h>

#include "engine/status.h"
#include "keys/sealed.h"
#include "passtool/window.h"

namespace passtool {

namespace {

constexpr char kWrongTagText[] =
    "Decryption Failure\r\nIncorrect passphrase or damaged file\r\n\r\n"
    "Would you like the output file deleted?";

}  // namespace

panel::JobSessionHost SealedJobHost(PassphraseWindow& window) {
  return {&window,
          kCaption,
          engine::PassphraseToolStatusText,
          kWrongTagText,
          [&window](bool running) { window.SetJobRunning(running); },
          [&window](const QString& title, const QString& message) {
            window.ShowStatus(title, message);
          },
          [&window](const QString& text) { window.ShowProgress(text); },
          [&window] { window.WipeEntries(); }};
}

void StartSealedJob(panel::JobSession& session, engine::Direction direction,
                    const QByteArray& inputPath, const QByteArray& outputPath,
                    const PassphraseEntry& passphrase) {
  engine::CipherJob& job = session.Job();
  keys::SetUpSealedJob(job);
  job.direction = direction;
  memcpy(job.passphrase, passphrase.bytes, passphrase.length);
  job.passphraseLength = passphrase.length;
  session.Start(
      inputPath, outputPath,
      direction == engine::Direction::Decrypt ? keys::DecryptV1File : keys::EncryptV1File);
}

}  // namespace passtool
