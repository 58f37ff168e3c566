// aesmoltra: processor check, backend, "config.ini", AES tables, the window with the file named
// on the command line, and its event loop.
#include <QApplication>

#include "engine/backend.h"
#include "engine/file.h"
#include "gui/panel.h"
#include "gui/window_input.h"
#include "keys/core_dumps.h"
#include "keytool/settings.h"
#include "keytool/window.h"

int main(int argc, char** argv) {
  engine::OpenStandardDescriptors();  // before Qt: a job file must not receive its warnings
  keys::ForbidCoreDumps();
  QApplication app(argc, argv);  // the refusal box needs it too
  static panel::DialogPrompts prompts;
  static keytool::KeyToolSettings settings;  // one per process
  static engine::AccelerationSetting acceleration;
  const std::unique_ptr<keytool::KeyToolWindow> window =
      keytool::StartKeyTool(engine::ReadCpuFeatures(), settings, acceleration, prompts);
  if (window == nullptr) return 0;
  window->show();
  window->OpenPath(panel::PathArgument(QApplication::arguments()));  // Qt's own options are gone
  app.exec();
  return 0;  // whatever happened
}
