// PassphraseJob: one sealed-file job of the passphrase window, from the Start checks through the
// worker thread to the end-of-job box and the optional deletion of the output.
#pragma once

#include <QByteArray>
#include <QString>

#include "engine/job.h"
#include "gui/job_worker.h"
#include "gui/panel.h"

namespace passtool {

class PassphraseWindow;
struct PassphraseEntry;

// A check before the run that failed: the box text (without "Error - ") and the status lines.
struct Refusal {
  QString boxText;
  QString statusTitle;
  QString statusText;
};
// How the window presents a status that PrepareJobFiles refused a job with.
Refusal RefusalFor(engine::JobStatus status);

class PassphraseJob {
 public:
  PassphraseJob(PassphraseWindow& window, panel::Prompts& prompts);
  // A window closed with a job running (the process is ending) stops the run and waits for it.
  ~PassphraseJob();
  PassphraseJob(const PassphraseJob&) = delete;
  PassphraseJob& operator=(const PassphraseJob&) = delete;

  // Prepares the files and starts the worker on EncryptV1File or DecryptV1File. A refused job
  // shows its box and status and leaves the window idle.
  void Start(engine::Direction direction, const QByteArray& inputPath, const QByteArray& outputPath,
             const PassphraseEntry& passphrase);
  // Asks the run to stop; it tests the flag before every block and every derivation iteration.
  void Abort();
  // kJobProgressMessage: the percent as text in the status line and the caption.
  void OnProgress();
  // kJobFinishedMessage: joins the worker, closes the files, asks or reports, deletes the output
  // on Yes, wipes the key material and hands the window back.
  void Finish();
  bool Running() const { return running_; }
  // The passphrase copy in the job, the key schedule and the GCM state.
  void WipeSecrets();

 private:
  QString Title() const;
  void Refuse(const Refusal& refusal);

  PassphraseWindow& window_;
  panel::Prompts& prompts_;
  engine::CipherJob job_;
  panel::JobWorker worker_;
  bool running_ = false;
};

}  // namespace passtool
