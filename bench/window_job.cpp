// Times whole jobs through the key tool's real window (offscreen): Start to the end of the job,
// worker thread, progress events and all, so the windowed tools can be held against the console
// on the same file.
//
//   window_job <input> <output>     the output is replaced; prints one line per mode
//
// Compare with: time aestarnex Moltra E 256 <mode> <iv> <key> <input> <output> Overwrite
#include <stdio.h>
#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include "engine/aes.h"
#include "engine/backend.h"
#include "keytool/window.h"

namespace {

// Every box answered at once with its default, every file dialog cancelled.
class SilentPrompts : public panel::Prompts {
 public:
  panel::PromptAnswer Message(QWidget*, const panel::MessageRequest& request) override {
    return request.buttons == panel::PromptButtons::Ok ? panel::PromptAnswer::Ok
                                                       : panel::PromptAnswer::No;
  }
  QString OpenFile(QWidget*, const QString&) override { return QString(); }
  QString SaveFile(QWidget*, const QString&) override { return QString(); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: window_job <input> <output>\n");
    return 64;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  struct stat input;
  if (stat(argv[1], &input) != 0) {
    perror(argv[1]);
    return 66;
  }
  engine::BuildAesTables();
  engine::AccelerationSetting acceleration;
  const engine::CpuFeatures features = engine::ReadCpuFeatures();
  engine::SelectAesBackend(features, acceleration);
  keytool::KeyToolSettings settings;
  SilentPrompts prompts;
  keytool::KeyToolWindow window(settings, acceleration, features, prompts);
  window.show();
  window.SetInputPath(QString::fromLocal8Bit(argv[1]));
  window.SetOutputPath(QString::fromLocal8Bit(argv[2]));

  const char* modes[] = {"CTR", "GCM", "OFB", "CFB", "CBC", "ECB", "PCBC"};
  for (const char* mode : modes) {
    QElapsedTimer clock;
    clock.start();
    window.OnCommand(keytool::kStartId);
    while (!window.IdleFlag())
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    printf("%-4s encrypt aes256/%s  %7.3f s  %8.1f MB/s\n", mode, acceleration.text, seconds,
           static_cast<double>(input.st_size) / seconds / 1e6);
    window.OnCommand(keytool::kModeId);  // the next mode
  }
  return 0;
}
