// JobWorker: a std::thread per job, posting its progress and its end to the window.
#include "gui/job_worker.h"

#include <QCoreApplication>

#include <system_error>

namespace panel {

namespace {

void PostProgress(const engine::CipherJob&, void* window) {
  QCoreApplication::postEvent(static_cast<QObject*>(window), new QEvent(kJobProgressMessage));
}

}  // namespace

JobWorker::~JobWorker() {
  if (!thread_.joinable()) return;
  job_->stopFlag.store(engine::kStopRequested, std::memory_order_relaxed);
  thread_.join();
}

bool JobWorker::Start(QObject* window, engine::CipherJob& job, JobBody body) {
  job_ = &job;
  job.onProgress = PostProgress;
  job.progressContext = window;
  try {
    thread_ = std::thread([window, &job, body] {
      body(job);
      engine::StopFlag running = engine::kRunning;
      job.stopFlag.compare_exchange_strong(running, engine::kRunReturned,
                                           std::memory_order_relaxed);
      QCoreApplication::postEvent(window, new QEvent(kJobFinishedMessage));
    });
  } catch (const std::system_error&) {  // std::thread throws when it cannot make one
    return false;
  }
  return true;
}

void JobWorker::Abort() {
  engine::StopFlag running = engine::kRunning;
  job_->stopFlag.compare_exchange_strong(running, engine::kStopRequested,
                                         std::memory_order_relaxed);
}

void JobWorker::Join() {
  if (!thread_.joinable()) return;
  thread_.join();
  engine::StopFlag returned = engine::kRunReturned;
  job_->stopFlag.compare_exchange_strong(returned, engine::kRunning, std::memory_order_relaxed);
}

QString ProgressText(uint8_t percent) {
  if (percent == 100) return QStringLiteral("Complete");
  char text[] = "Working - 000%";
  engine::FormatPercent(percent > 100 ? 100 : percent, text + 10);
  return QString::fromLatin1(text);
}

}  // namespace panel
