// JobSession: one file job of a windowed tool, from the preparation of its files through the
// worker thread, progress and Abort to the box at its end, the offer to delete the output and the
// wiping of the key material. The tool fills the job and supplies its texts and the window's
// hooks; everything else is the same in both windows.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

#include "engine/job.h"
#include "engine/status.h"
#include "gui/job_worker.h"
#include "gui/panel.h"

class QWidget;

namespace panel {

// The status title of a pseudo-random job.
constexpr char kPrngTitle[] = "Pseudo Random";

// What differs between the tools: their texts, and what their windows do as a job starts and ends.
struct JobSessionHost {
  QWidget* window;      // owns the boxes, gets the posted messages, shows progress in its caption
  const char* caption;  // of the boxes, and of the window again when a job ends
  const char* (*statusText)(engine::JobStatus);
  const char* wrongTagText;  // the box over a failed tag check, offering deletion
  std::function<void(bool running)> runningChanged;                // Start reads "Abort" or not
  std::function<void(const QString&, const QString&)> showStatus;  // title, message
  std::function<void(const QString&)> showProgress;                // StatusLine2 only
  std::function<void()> wipeEntries;  // the window's own copies of the secret, if it keeps any
};

class JobSession {
 public:
  JobSession(Prompts& prompts, JobSessionHost host);
  // A window closed under a running job (the process is ending, or a test) stops it and closes
  // its files.
  ~JobSession();
  JobSession(const JobSession&) = delete;
  JobSession& operator=(const JobSession&) = delete;

  bool Running() const { return running_; }
  const engine::CipherJob& Job() const { return job_; }
  // The tool sets the kind, direction, mode, key size and key material here before Start.
  engine::CipherJob& Job() { return job_; }

  // Prepares the files and starts `body` on the worker. A refused job wipes the key material,
  // shows its box and status and leaves the window idle.
  void Start(const QByteArray& inputPath, const QByteArray& outputPath, JobBody body);
  // Only a running job stops; it tests the flag before every block and derivation iteration.
  void Abort();
  // kJobProgressMessage: the percent as text in StatusLine2 and the caption.
  void OnProgress();
  // kJobFinishedMessage: joins the worker, wipes the key material, shows the box (offering to
  // delete the output after an abort or a wrong tag), closes the files and hands the window back.
  void Finish();
  // The error box shows `message` without its "Error - "; the status line shows all of it.
  void Refuse(const QString& message, const QString& title);
  // The key and passphrase copies in the job, the key schedule and the GCM state.
  void WipeSecrets();
  // A job's state without a job (a test seam for the window's colours and commands).
  void SetRunning(bool running);

 private:
  QString Title() const;
  void WipeJobAndEntries();
  PromptAnswer Box(const QString& text, PromptIcon icon, PromptButtons buttons);
  void OfferDeletion(const QString& text, PromptIcon icon);

  Prompts& prompts_;
  JobSessionHost host_;
  engine::CipherJob job_;
  JobWorker worker_;
  bool running_ = false;
};

}  // namespace panel
