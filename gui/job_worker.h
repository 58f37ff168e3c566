// JobWorker: runs a prepared job on its own thread for a windowed tool. The worker never touches
// a widget: progress and the end of the job reach the window only as posted events.
#pragma once

#include <QEvent>
#include <QString>

#include <thread>

#include "engine/job.h"

class QObject;

namespace panel {

// The posted messages of a job, in the numbering the windows were designed with.
constexpr QEvent::Type kJobFinishedMessage = static_cast<QEvent::Type>(QEvent::User + 100);
constexpr QEvent::Type kJobProgressMessage = static_cast<QEvent::Type>(QEvent::User + 101);

typedef void (*JobBody)(engine::CipherJob& job);

// What both windows say when the system cannot give a job its thread.
constexpr char kNoThreadText[] = "Error - The job could not be started";

class JobWorker {
 public:
  JobWorker() = default;
  JobWorker(const JobWorker&) = delete;
  JobWorker& operator=(const JobWorker&) = delete;
  // A window destroyed with a job still running stops and waits for it.
  ~JobWorker();

  // Starts `body` on a new thread. The job must be prepared and its run state reset; its
  // progress callback is set here to post kJobProgressMessage to `window` at every percent step,
  // and kJobFinishedMessage follows when the body returns. False when the system could not
  // create the thread: nothing runs and nothing will be posted.
  bool Start(QObject* window, engine::CipherJob& job, JobBody body);
  // Abort: only a job still running stops. A verdict the run has given (a wrong tag, an I/O
  // failure) or the end of the run stands, whenever the click lands.
  void Abort();
  // Called on kJobFinishedMessage: the thread has nothing left to do but end.
  void Join();
  bool Started() const { return thread_.joinable(); }

 private:
  std::thread thread_;
  engine::CipherJob* job_ = nullptr;
};

// "Working - 042%" below 100, "Complete" at exactly 100; a percent above 100 reads as 100.
QString ProgressText(uint8_t percent);

}  // namespace panel
